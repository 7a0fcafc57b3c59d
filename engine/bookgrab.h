#pragma once

#include "browser/browser.h"
#include "engine/clock.h"
#include "engine/locators.h"
#include "engine/stopflag.h"
#include "templates/grabparams.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>

namespace qh::engine {

// How a book's grab ended.
enum class GrabEnd
{
    Complete,               // the last page had no next link, or its next link leads back into the book
    Stopped,                // the stop flag was seen; the page in progress was not taken
    EmptyText,              // the template found no chapter text: it no longer fits the site
    NoLinkName,             // the template has no next-page link name
    LoadFailed,             // a page could not be loaded, after the retries that could help
    ScriptLinkNeedsScripts, // the next link runs a script, which a static page cannot follow
    WriteFailed,            // the book's file could not be written; the row stays at what the file holds
};

struct GrabTiming
{
    // Waits before the second, third and fourth try of a failing page.
    QList<int> retryDelaysMs{2000, 4000, 8000};
    // The most a server's Retry-After is honoured for.
    int maxRetryAfterMs = 120'000;
    // How long a clicked script link has to start loading the next page before the page is read again as it is
    // (the script may have replaced the chapter in place).
    int scriptLinkGraceMs = 2000;
    // Least time between two page requests ("pagedelay"), counted from the answer to the earlier one.
    int pageDelayMs = 0;
    LocatorConfig locators;
};

// Grabs one book page after page, from a start address until the book ends or a stop is seen. For each page: load
// it, find the title, the text and the next link with the locators, then report the page in one pageCompleted
// signal, which is the only moment a page becomes part of the book. A stop before that takes nothing of the page,
// so the book resumes exactly at it. finished is emitted once, from the event loop.
//
// The browser, the stop flag and the clock must outlive the grab. The grab may be deleted from a slot connected to
// finished.
class BookGrab : public QObject
{
    Q_OBJECT

public:
    BookGrab(browser::Browser &browser, const StopFlag &stopFlag, const templates::GrabParams &params,
             GrabTiming timing, const Clock &clock, QObject *parent = nullptr);
    ~BookGrab() override;

    // Where the grab begins: at url's page, or after it (url is the book's last page, already held: it is read for
    // its next link only, and a book whose last page still has none is complete with nothing taken).
    enum class StartAt
    {
        Page,
        AfterPage,
    };

    // earlierPages: the addresses of the pages the book already holds, so that a link back into them ends the book
    // whatever run grabbed them. inPlaceSteps: the page to grab is the one a script shows at url after its next link
    // has replaced the page in place that many times; the pages before it are passed over, not taken again.
    void start(const QUrl &url, const QSet<QUrl> &earlierPages = {}, StartAt at = StartAt::Page, int inPlaceSteps = 0);

    // Tells the grab that the stop flag has been set: a page load or a wait in progress ends at once, a running
    // search at its next probe.
    void stopNow();

    bool isRunning() const { return m_running; }
    // While pageCompleted is emitted: how many in-place replacements at its next address lead to the next page
    // (0 when that page is loaded from its address).
    int nextInPlaceSteps() const { return m_nextInPlaceSteps; }

Q_SIGNALS:
    void pageStarted(const QUrl &url);
    // The chapter text of the page in progress, for the preview.
    void textFound(const QString &text);
    // One whole page: its title and text, and the address of the next page (empty when this one is the last).
    void pageCompleted(const QString &title, const QString &text, const QUrl &nextUrl);
    // The held page a grab started after links on to nextUrl, the first page to take.
    void heldPageFollowed(const QUrl &nextUrl);
    // message says what went wrong, for LoadFailed and ScriptLinkNeedsScripts; empty otherwise.
    void finished(qh::engine::GrabEnd end, const QString &message);

private:
    void loadPage(const QUrl &url);
    void navigate();
    void onLoadFinished(bool ok);
    void retryOrFail(const browser::LoadError &error);
    void findTitle();
    void findContent();
    void findNextLink();
    void notAChapter();
    void startAfterCurrentSearch(std::unique_ptr<LocatorSearch> next);
    void onNextLink(const QString &href);
    void followScriptLink();
    void onScriptLinkLanded(bool ok);
    void passOverInPlace();
    void readPageAt(const std::shared_ptr<const browser::Document> &document, const QUrl &url, int inPlaceSteps);
    void takePage(const QUrl &nextUrl);
    // The held page's next link is known: it is not taken, only remembered as the page a repeat would copy.
    void passHeldPage(const QUrl &nextUrl);
    void waitThen(int ms, void (BookGrab::*next)());
    void end(GrabEnd end, const QString &message = {});

    browser::Browser &m_browser;
    const StopFlag &m_stopFlag;
    const templates::GrabParams m_params;
    const GrabTiming m_timing;
    const Clock &m_clock;

    bool m_running = false;
    bool m_loading = false;
    bool m_followingScript = false;   // the load awaited is the one a clicked script link starts
    quint64 m_versionBeforeClick = 0; // of the document whose script link was clicked
    QUrl m_addressBeforeClick;
    // Chains of chapters that a script shows in place, all at one address: where the page in progress stands in its
    // chain, where the next one will, and how many are still to be passed over to reach the page a resume starts at.
    int m_inPlaceSteps = 0;
    int m_nextInPlaceSteps = 0;
    int m_stepsToPass = 0;
    QUrl m_url; // the page in progress, as requested
    int m_attempt = 0;
    int m_pagesTaken = 0;       // in this run
    bool m_heldPage = false;    // the page in progress is the held one a grab started after
    qint64 m_lastAnswerMs = -1; // when the latest request was answered
    QSet<QUrl> m_visited;       // the book's pages, to end books whose links go round in a circle
    // The page taken last in this run: a page that repeats it (a last page whose link only changes a session id)
    // ends the book.
    std::optional<std::pair<QString, QString>> m_lastTaken;
    std::shared_ptr<const browser::Document> m_document;
    std::unique_ptr<LocatorSearch> m_search;
    QString m_title;
    QString m_text;
    QTimer m_wait;
    void (BookGrab::*m_afterWait)() = nullptr;
};

} // namespace qh::engine
