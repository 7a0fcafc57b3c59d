#pragma once

#include "browser/document.h"
#include "browser/html/domtree.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <mutex>

namespace qh::browser {

// A page parsed once from fetched bytes: no scripts run, nothing changes after construction. Every read may come
// from any thread; innerText and innerHTML are computed on first use per element and kept, so repeated reads (the
// next-link scan compares every link's innerHTML on each pass) cost a lookup.
class StaticDocument final : public Document
{
public:
    StaticDocument(DomTree tree, QUrl url);

    bool isStatic() const override { return true; }
    QUrl url() const override { return m_url; }
    QString title() const override { return m_title; }

    int elementCount() const override { return m_tree.elementCount(); }
    QString tagNameAt(int index) const override;
    int parentIndexAt(int index) const override;
    QString innerTextAt(int index) const override;
    QString innerHtmlAt(int index) const override;
    QString outerHtmlAt(int index) const override;
    // HTML elements match the name case-insensitively, foreign (SVG, MathML) ones exactly, as getAttribute does.
    std::optional<QString> attributeAt(int index, const QString &name) const override;

    const DomTree &tree() const { return m_tree; }

private:
    QString documentTitle() const;

    const DomTree m_tree;
    const QUrl m_url;
    const QString m_title;
    mutable std::mutex m_cacheMutex;
    mutable QHash<int, QString> m_innerTextCache; // by element index
    mutable QHash<int, QString> m_innerHtmlCache;
};

} // namespace qh::browser
