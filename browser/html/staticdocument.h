#pragma once

#include "browser/document.h"
#include "browser/html/authorstyles.h"
#include "browser/html/domtree.h"
#include "browser/html/pagestyles.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>
#include <vector>

namespace qh::browser {

// A page parsed once from fetched bytes: no scripts run, nothing changes after construction. Every read may come
// from any thread; innerText and innerHTML are computed on first use per element and kept, so repeated reads (the
// next-link scan compares every link's innerHTML on each pass) cost a lookup.
//
// innerText follows the page's style sheets: its style elements from the start, its linked sheets once a browser
// has loaded them and made the document again with withLinkedSheets. The cascade is worked out on the first
// innerText, and only for pages that have sheets; sheets never change `all`.
class StaticDocument final : public Document
{
public:
    StaticDocument(DomTree tree, QUrl url);

    bool isStatic() const override { return true; }
    QUrl url() const override { return m_url; }
    QString title() const override { return m_title; }

    int elementCount() const override { return m_tree->elementCount(); }
    QString tagNameAt(int index) const override;
    int parentIndexAt(int index) const override;
    QString innerTextAt(int index) const override;
    QString innerHtmlAt(int index) const override;
    QString outerHtmlAt(int index) const override;
    // HTML elements match the name case-insensitively, foreign (SVG, MathML) ones exactly, as getAttribute does.
    std::optional<QString> attributeAt(int index, const QString &name) const override;

    const DomTree &tree() const { return *m_tree; }

    // The page's style elements and linked sheets, in document order.
    const std::vector<css::StyleSource> &styleSources() const { return m_styleSources; }
    // The same page (sharing its tree) with its linked sheets taken from lookup; a sheet lookup does not know is
    // left out.
    std::shared_ptr<const StaticDocument> withLinkedSheets(const css::SheetLookup &lookup) const;

private:
    StaticDocument(std::shared_ptr<const DomTree> tree, QUrl url, QString title,
                   std::vector<css::StyleSource> styleSources, const css::SheetLookup &lookup);

    QString documentTitle() const;
    // The cascade, worked out on first use; null for a page without author style sheets.
    const css::AuthorStyles *authorStyles() const;

    const std::shared_ptr<const DomTree> m_tree;
    const QUrl m_url;
    const QString m_title;
    const std::vector<css::StyleSource> m_styleSources;
    const std::vector<std::shared_ptr<const css::StyleSheet>> m_sheets; // in cascade order
    mutable std::once_flag m_stylesOnce;
    mutable std::unique_ptr<const css::AuthorStyles> m_authorStyles;
    mutable std::mutex m_cacheMutex;
    mutable QHash<int, QString> m_innerTextCache; // by element index
    mutable QHash<int, QString> m_innerHtmlCache;
};

} // namespace qh::browser
