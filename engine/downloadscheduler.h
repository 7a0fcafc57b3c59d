#pragma once

#include "browser/browser.h"
#include "common/textfile.h"
#include "engine/bookgrab.h"
#include "engine/bookwriter.h"
#include "engine/browsersource.h"
#include "engine/clock.h"
#include "engine/stopflag.h"

#include "core/finishedbooks.h"
#include "core/queuecommands.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace qh::core {
class BookQueue;
}
namespace qh::templates {
class TemplateChooser;
class TemplateStore;
} // namespace qh::templates

namespace qh::engine {

class EngineHost;

struct SchedulerConfig
{
    int tickMs = 500;
    int stallMs = 120'000;     // no page counted for longer than this stops the book ...
    int stallPauseMs = 10'000; // ... and it starts again after this pause
    GrabTiming grab;
    QString saveFolder; // the books' text files
    QString listFile;   // "downlist.dat"
    QString workFolder; // "temp": each book's checkpoint, "<name>.lst"
    // A book's file and row are brought up to date at least this often while it is grabbed, and at every end.
    int checkpointMs = 2000;
    text::Encoding encoding = text::Encoding::Gb18030;
    // Where a book's text goes; empty: its file in saveFolder, named after the book.
    std::function<QString(const QString &bookName)> bookFilePath;
};

// Works through the download queue one book at a time, always the head row: a tick of its timer starts a queued
// head book, the grab then runs by itself (driven by the browser's signals), and every tick while the timer runs
// swaps the activity picture and watches for a stalled book. The window's start and stop commands call start() and
// requestStop(). Nothing here waits for the user: questions go to the host with a callback, after the book has
// been written and its row put back.
//
// The queue, store, chooser, host, browsers and clock must outlive the scheduler.
class DownloadScheduler : public QObject, public core::SchedulerState
{
    Q_OBJECT

public:
    DownloadScheduler(core::BookQueue &books, const templates::TemplateStore &store,
                      templates::TemplateChooser &chooser, EngineHost &host, BrowserSource &browsers,
                      SchedulerConfig config, const Clock &clock = steadyClock(), QObject *parent = nullptr);
    // Every book in the one browser given.
    DownloadScheduler(core::BookQueue &books, const templates::TemplateStore &store,
                      templates::TemplateChooser &chooser, EngineHost &host, browser::Browser &browser,
                      SchedulerConfig config, const Clock &clock = steadyClock(), QObject *parent = nullptr);
    ~DownloadScheduler() override;

    // Settings may change between books; a book in progress keeps the ones it started with.
    void setConfig(const SchedulerConfig &config);
    const SchedulerConfig &config() const { return m_config; }

    // Starts the timer (TimerBegin); the next tick starts a queued head book.
    void start();
    // Raises the stop flag, halts the timer and shows the wait dialog; the grab winds down by itself, from the event
    // loop. RestPicture also puts the activity picture at rest. A stop already recorded only halts the timer.
    enum class StopPicture
    {
        RestPicture,
        KeepPicture,
    };
    void requestStop(StopPicture picture = StopPicture::RestPicture);

    // The timer (TimerBegin) is enabled.
    bool isRunning() const { return m_timer.isActive(); }
    // A book is being grabbed or winds down after a stop (its grab has not ended yet): the list commands wait.
    bool isGrabbing() const override { return m_grab != nullptr; }
    const StopFlag &stopFlag() const { return m_stopFlag; }

    // One tick, as the timer runs it; public for a program's first tick and for tests.
    void tick();

Q_SIGNALS:
    void runningChanged(bool running);
    // true: the busy picture (Image1) shows; false: the resting one (Image3).
    void activityChanged(bool busy);
    void previewChanged(const QString &text);
    void progress(const QString &bookName, int pagesDone, const QUrl &url, double pagesPerSecond);
    // A book's grab has ended and its file is written (or could not be: then the end is WriteFailed, the row queued
    // at the pages the file holds).
    void bookEnded(qh::engine::GrabEnd end, const QString &bookName);
    // A book's file holds it to its last page (the site had nothing more), emitted before its bookEnded. For the list
    // of finished books.
    void bookFinished(const qh::core::FinishedBook &book);

private:
    void connectTimers();
    void startHeadBook();
    void onPageCompleted(const QString &title, const QString &text, const QUrl &nextUrl);
    void onGrabFinished(GrabEnd end, const QString &message);
    void onHeldPageFollowed(const QUrl &nextUrl);
    void FinishBook(bool complete);
    void askToRedefine();
    void checkpoint();
    void commitPages();
    void rowToCheckpoint();
    void stopRequest(bool restPicture, bool showWait);
    void stallCheck();
    void setBusyPicture(bool busy);
    void saveList();
    // The book being finished, as the list of finished books keeps it.
    core::FinishedBook finishedBook() const;

    core::BookQueue &m_books;
    const templates::TemplateStore &m_store;
    templates::TemplateChooser &m_chooser;
    EngineHost &m_host;
    std::unique_ptr<SingleBrowserSource> m_ownBrowserSource;
    BrowserSource &m_browsers;
    SchedulerConfig m_config;
    const Clock &m_clock;

    QTimer m_timer; // TimerBegin
    StopFlag m_stopFlag{true};
    bool m_busyPicture = false;

    // The book being grabbed.
    std::unique_ptr<BookGrab> m_grab;
    std::unique_ptr<BookWriter> m_writer;
    qint64 m_lastCommitMs = 0;
    bool m_writeFailed = false;
    QString m_bookName;
    int m_pagesThisRun = 0;
    qint64 m_runStartMs = 0;
    // The book began after its last page held (an update): until that page's next link is known, nothing is new.
    bool m_heldPagePending = false;
    QUrl m_lastPageUrl; // the last page the book's file holds

    // The stall watchdog's mark.
    qint64 m_watchTick = 0;
    int m_watchPages = 0;
    QTimer m_stallRestart;
    // Brings the book's file and row up to date once its pages have waited the checkpoint interval.
    QTimer m_checkpointTimer;
};

} // namespace qh::engine
