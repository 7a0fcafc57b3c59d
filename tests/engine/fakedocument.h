#pragma once

#include "browser/document.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace qh::test {

// One element of a FakeDocument.
struct FakeElement
{
    QString tagName;
    int parentIndex = -1; // -1: no parent
    QString innerText = {};
    QString innerHtml = {};
    std::optional<QString> href = {};
};

// A document built from a table of elements, for the locators' tests. It records which elements are read, and lets a
// test act when the document is refreshed or an element clicked (change the page, move a clock on, set a stop).
class FakeDocument : public browser::Document
{
public:
    explicit FakeDocument(std::vector<FakeElement> elements, bool isStatic = true);

    bool isStatic() const override { return m_static; }
    // Calls onRefresh, then done at once; with holdRefresh set, keeps done in heldRefresh instead.
    void refresh(std::function<void()> done) const override;
    bool isSettled() const override { return m_static || settled; }
    bool hasUnreadValues() const override { return !unread.isEmpty(); }
    // Marks the values asked for as read, then calls done at once.
    void readValues(std::function<void()> done) const override;

    QUrl url() const override { return QUrl(QStringLiteral("http://fake.test/1.html")); }
    QString title() const override { return {}; }
    int elementCount() const override { return int(elements.size()); }
    QString tagNameAt(int index) const override;
    int parentIndexAt(int index) const override { return elements.at(index).parentIndex; }
    QString innerTextAt(int index) const override;
    QString innerHtmlAt(int index) const override;
    QString outerHtmlAt(int index) const override;
    std::optional<QString> attributeAt(int index, const QString &name) const override;
    void clickAt(int index) const override;

    std::vector<FakeElement> elements;
    std::function<void(int refreshCount)> onRefresh;
    std::function<void(int index)> onClick;
    bool holdRefresh = false;
    bool settled = false; // a live document that has stopped changing
    // A live document that answers innerText and innerHTML only once they have been read (by readValues); a
    // refresh forgets them, as a change of the page does.
    bool valuesOnDemand = false;
    mutable QSet<int> valuesRead;
    mutable QSet<int> unread;
    mutable int valueReads = 0; // calls of readValues
    int failAt = -1;            // reading this element's tag name raises qh::Error
    mutable std::function<void()> heldRefresh;

    mutable int refreshCount = 0;
    // Positions whose tag name was read, in order: one per probe that found an element.
    mutable QList<int> tagReads;
    mutable QList<int> clicks;

private:
    bool m_static;
};

} // namespace qh::test
