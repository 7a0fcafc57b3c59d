#pragma once

#include "browser/document.h"
#include "browser/web/websnapshot.h"

#include <QHash>
#include <QSet>

#include <chrono>
#include <memory>

namespace qh::browser {

class WebPage;

// How a web document reads its page.
struct WebReading
{
    // Each reading takes the element list and the structure only; an element's innerText and innerHTML are read
    // when asked for (Document::readValues) and kept until the page changes. Otherwise every reading takes them
    // all, for readers that walk the whole page.
    bool valuesOnDemand = false;
    // How long a completed page must not have changed before it counts as settled.
    std::chrono::milliseconds quietTime{500};
};

// A live page of the web engine. Reads answer from the latest reading of the page; refresh() takes a new one, so
// text that the page's scripts add later is seen by the next read after a refresh. A refresh of a page that has not
// changed since (the page's watcher says so) reads nothing again. Once the page has started another load, the
// document keeps its last reading: it never mixes two pages.
class WebDocument final : public Document
{
public:
    WebDocument(WebPage *page, WebSnapshot snapshot, WebReading reading = {});

    bool isStatic() const override { return false; }
    void refresh(std::function<void()> done) const override;
    bool isSettled() const override { return m_state->settled; }
    quint64 version() const override { return m_state->version; }
    bool hasUnreadValues() const override { return !m_state->unread.isEmpty(); }
    void readValues(std::function<void()> done) const override;
    void readAllValues(std::function<void()> done) const override;

    QUrl url() const override { return m_state->snapshot.url; }
    QString title() const override { return m_state->snapshot.title; }
    // Seconds until a refresh header of the page sends the browser on; -1 without one.
    double refreshSeconds() const { return m_state->snapshot.refreshSeconds; }
    // The page is still the one this document was read from.
    bool isCurrent() const;

    int elementCount() const override { return int(m_state->snapshot.size()); }
    QString tagNameAt(int index) const override { return m_state->snapshot.tags.at(index); }
    int parentIndexAt(int index) const override { return m_state->snapshot.parents.at(index); }
    QString innerTextAt(int index) const override { return m_state->value(index, WebValue::InnerText); }
    QString innerHtmlAt(int index) const override { return m_state->value(index, WebValue::InnerHtml); }
    QString outerHtmlAt(int index) const override;
    // HTML attribute names are matched without regard to letter case, as getAttribute does on an HTML page.
    std::optional<QString> attributeAt(int index, const QString &name) const override;
    // Runs the element's activation behaviour in the live page: a script link runs its script.
    void clickAt(int index) const override;

private:
    struct State
    {
        WebPage *page = nullptr; // only through livePage()
        std::weak_ptr<const void> pageLifetime;
        quint64 loadCount = 0;
        WebReading reading;
        WebSnapshot snapshot;
        quint64 version = 0;
        bool settled = false;
        // Values read on demand for the current reading, and those asked for but not read yet.
        QHash<int, QString> texts;
        QHash<int, QString> innerHtmls;
        QList<std::pair<int, WebValue>> unread;
        QSet<qint64> unreadKeys;

        // The page, or null once it has started to go.
        WebPage *livePage() const { return pageLifetime.expired() ? nullptr : page; }
        bool isCurrent() const;
        QString value(int index, WebValue which);
        void take(WebSnapshot next, bool unchanged);
        void judgeSettled();
    };
    static void read(const std::shared_ptr<State> &state, bool withValues, std::function<void()> done);

    // Shared with the reading callbacks, which may come back after the document is gone.
    std::shared_ptr<State> m_state;
};

} // namespace qh::browser
