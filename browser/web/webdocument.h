#pragma once

#include "browser/document.h"
#include "browser/web/websnapshot.h"

#include <QPointer>

#include <memory>

namespace qh::browser {

class WebPage;

// A live page of the web engine. Reads answer from the latest snapshot of the page; refresh() takes a new one, so
// text that the page's scripts add later is seen by the next read after a refresh. Once the page has started
// another load, the document keeps its last snapshot: it never mixes two pages.
class WebDocument final : public Document
{
public:
    WebDocument(WebPage *page, WebSnapshot snapshot);

    bool isStatic() const override { return false; }
    void refresh(std::function<void()> done) const override;

    QUrl url() const override { return m_state->snapshot.url; }
    QString title() const override { return m_state->snapshot.title; }
    // Seconds until a refresh header of the page sends the browser on; -1 without one.
    double refreshSeconds() const { return m_state->snapshot.refreshSeconds; }
    // The page is still the one this document was read from.
    bool isCurrent() const;

    int elementCount() const override { return int(m_state->snapshot.size()); }
    QString tagNameAt(int index) const override { return m_state->snapshot.tags.at(index); }
    int parentIndexAt(int index) const override { return m_state->snapshot.parents.at(index); }
    QString innerTextAt(int index) const override { return m_state->snapshot.texts.at(index); }
    QString innerHtmlAt(int index) const override { return m_state->snapshot.innerHtmls.at(index); }
    QString outerHtmlAt(int index) const override;
    // HTML attribute names are matched without regard to letter case, as getAttribute does on an HTML page.
    std::optional<QString> attributeAt(int index, const QString &name) const override;
    // Runs the element's activation behaviour in the live page: a script link runs its script.
    void clickAt(int index) const override;

private:
    struct State
    {
        QPointer<WebPage> page;
        quint64 loadCount = 0;
        WebSnapshot snapshot;

        bool isCurrent() const;
    };
    // Shared with the refresh callbacks, which may come back after the document is gone.
    std::shared_ptr<State> m_state;
};

} // namespace qh::browser
