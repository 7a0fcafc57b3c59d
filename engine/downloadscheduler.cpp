#include "engine/downloadscheduler.h"

#include "common/error.h"
#include "engine/bookfile.h"
#include "engine/enginehost.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include "core/bookentry.h"
#include "core/bookqueue.h"
#include "core/queuefile.h"
#include "core/safefilename.h"

#include <QFileInfo>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace qh::engine {

namespace {

const QString NoWebEngineMessage =
    QStringLiteral("该书网的模板需要网页引擎（网页需要脚本），但本程序没有带网页引擎，无法下载这本书。");
const QString NoTemplateMessage =
    QStringLiteral("没有能够与当前电子书对应的抓书模板，请在模板按钮中定义该读书网模板，或者删除该电子书。");
const QString EmptyTextPreview = QStringLiteral("抓到内容为空！请重新定义该书网模板或指定其他适合的模板！");
const QString EmptyTextQuestion =
    QStringLiteral("抓到内容为空！请重新定义该书网模板！选择“是”开始重新定义，选择“否”其他时间再定义");
const QString NoLinkNameMessage = QStringLiteral("请先定义“下一页”链接");

int pagesOf(const core::BookEntry &entry)
{
    if (entry.PagesDone < 0)
        throw Error(QStringLiteral("《%1》的当前页数无法读取，这本书不能续传。").arg(entry.BookName));
    return entry.PagesDone;
}

} // namespace

DownloadScheduler::DownloadScheduler(core::BookQueue &books, const templates::TemplateStore &store,
                                     templates::TemplateChooser &chooser, EngineHost &host, browser::Browser &browser,
                                     SchedulerConfig config, const Clock &clock, QObject *parent)
    : QObject(parent), m_books(books), m_store(store), m_chooser(chooser), m_host(host),
      m_ownBrowserSource(std::make_unique<SingleBrowserSource>(browser)), m_browsers(*m_ownBrowserSource),
      m_config(std::move(config)), m_clock(clock)
{
    connectTimers();
}

DownloadScheduler::DownloadScheduler(core::BookQueue &books, const templates::TemplateStore &store,
                                     templates::TemplateChooser &chooser, EngineHost &host, BrowserSource &browsers,
                                     SchedulerConfig config, const Clock &clock, QObject *parent)
    : QObject(parent), m_books(books), m_store(store), m_chooser(chooser), m_host(host), m_browsers(browsers),
      m_config(std::move(config)), m_clock(clock)
{
    connectTimers();
}

void DownloadScheduler::connectTimers()
{
    m_timer.setInterval(m_config.tickMs);
    connect(&m_timer, &QTimer::timeout, this, &DownloadScheduler::tick);
    m_stallRestart.setSingleShot(true);
    connect(&m_stallRestart, &QTimer::timeout, this, &DownloadScheduler::start);
    m_checkpointTimer.setSingleShot(true);
    connect(&m_checkpointTimer, &QTimer::timeout, this, &DownloadScheduler::checkpoint);
}

DownloadScheduler::~DownloadScheduler() = default;

void DownloadScheduler::setConfig(const SchedulerConfig &config)
{
    m_config = config;
    m_timer.setInterval(m_config.tickMs);
}

void DownloadScheduler::start()
{
    const bool wasRunning = isRunning();
    m_timer.start();
    if (!wasRunning)
        Q_EMIT runningChanged(true);
}

void DownloadScheduler::requestStop(StopPicture picture)
{
    stopRequest(picture == StopPicture::RestPicture, true);
}

void DownloadScheduler::stopRequest(bool restPicture, bool showWait)
{
    // The timer halts on every request: otherwise a Begin with nothing to start could never be stopped again. A
    // restart the stall watchdog has planned is called off too.
    m_stallRestart.stop();
    const bool wasRunning = isRunning();
    m_timer.stop();
    if (wasRunning)
        Q_EMIT runningChanged(false);
    if (m_stopFlag.isSet())
        return;
    m_stopFlag.set();
    if (restPicture)
        setBusyPicture(false);
    if (showWait)
        m_host.showWaitDialog();
    if (m_grab)
        m_grab->stopNow();
}

void DownloadScheduler::tick()
{
    try {
        if (m_books.isEmpty())
            return;
        if (m_books.head().BookName == core::ProbingCaption)
            return;
        setBusyPicture(!m_busyPicture);
        const core::BookStatus status = m_books.head().Status;
        if (status == core::BookStatus::Queued && !m_grab) {
            startHeadBook();
        } else if (!m_grab && status != core::BookStatus::Downloading) {
            // A row read from a list file that no book can start from: say so rather than wait for it forever.
            requestStop(StopPicture::RestPicture);
            m_host.ShowMsg(u"《%1》的状态“%2”不是“排队中”，无法开始下载。请删除这本书，或把它移到其他书后面。"_s.arg(
                m_books.head().BookName, core::statusWord(status)));
            return;
        }
        if (!m_books.isEmpty())
            stallCheck();
    } catch (const Error &error) {
        m_host.showError(error.message());
    }
}

void DownloadScheduler::startHeadBook()
{
    const core::BookEntry head = m_books.head();
    const QString defaultBookFile = m_config.bookFilePath
                                        ? m_config.bookFilePath(head.BookName)
                                        : core::BookFilePath(m_config.saveFolder, head.BookName, head.Format);
    // Without a work folder of its own the checkpoint lies in "temp" beside the book.
    const QString workFolder =
        m_config.workFolder.isEmpty() ? QFileInfo(defaultBookFile).absolutePath() + u"/temp"_s : m_config.workFolder;
    const QString workFile = core::BookWorkFilePath(workFolder, head.BookName);
    // A book keeps the template it began with, also when its pages have moved to another host (a mirror, a
    // redirect), where choosing by the host would find none or another.
    QString begunWith;
    QString bookFile = defaultBookFile;
    try {
        if (const std::optional<BookCheckpoint> saved = readCheckpoint(workFile); saved && saved->pages > 0) {
            begunWith = saved->templateName;
            // A book taken up again keeps writing to the file it was finished in.
            if (!saved->bookFile.isEmpty())
                bookFile = saved->bookFile;
        }
    } catch (const Error &) {
        // A damaged checkpoint is reported when the book opens.
    }
    if (!begunWith.isEmpty() && m_store.FindTemplateByName(begunWith) &&
        templates::selectChooserItem(m_chooser, begunWith) < 0)
        begunWith.clear();
    const QString siteHead = templates::SiteHeadOf(head.CurrentUrl.toString());
    if (begunWith.isEmpty() && !m_store.TemplateExistsForHead(siteHead)) {
        stopRequest(true, true);
        m_host.ShowMsg(NoTemplateMessage);
        return;
    }

    templates::GrabParams params;
    int pagesDone = 0;
    try {
        pagesDone = pagesOf(head);
        params = templates::SelectTemplate(m_store, siteHead, m_chooser, m_host);
    } catch (const Error &) {
        // The book cannot start: leave it queued rather than marked as being grabbed with no grab behind it.
        stopRequest(true, false);
        throw;
    }
    browser::Browser *const browser = m_browsers.browserFor(params.engine);
    if (!browser) {
        stopRequest(true, false);
        m_host.ShowMsg(NoWebEngineMessage);
        return;
    }

    m_books.setStatus(0, core::BookStatus::Downloading);
    m_watchTick = m_clock.nowMs();
    m_watchPages = pagesDone;
    m_stopFlag.clear();
    m_bookName = head.BookName;
    m_writer = std::make_unique<BookWriter>(bookFile, workFile, head.Format, head.BookName);
    m_writeFailed = false;
    QUrl startUrl = head.CurrentUrl;
    bool afterHeldPage = false;
    int startSteps = 0;
    try {
        const BookCheckpoint resumed =
            m_writer->open(pagesDone, head.CurrentUrl, m_config.encoding, m_chooser.currentText());
        // The checkpoint is what the file holds; a row saved in between may be ahead of it or behind.
        m_books.setPagesDone(0, resumed.pages);
        if (!resumed.nextUrl.isEmpty())
            m_books.setCurrentUrl(0, resumed.nextUrl);
        startUrl = resumed.nextUrl.isEmpty() ? head.CurrentUrl : resumed.nextUrl;
        afterHeldPage = resumed.afterNextUrl && !resumed.nextUrl.isEmpty() && resumed.pages > 0;
        startSteps = resumed.nextUrl.isEmpty() ? 0 : resumed.nextSteps;
        m_watchPages = resumed.pages;
    } catch (const Error &) {
        m_writer.reset();
        m_books.setStatus(0, core::BookStatus::Queued);
        stopRequest(true, false);
        saveList();
        throw;
    }
    m_pagesThisRun = 0;
    m_runStartMs = m_clock.nowMs();
    m_lastCommitMs = m_runStartMs;
    m_heldPagePending = afterHeldPage;
    m_lastPageUrl = afterHeldPage ? startUrl : QUrl();

    m_grab = std::make_unique<BookGrab>(*browser, m_stopFlag, params, m_config.grab, m_clock);
    connect(m_grab.get(), &BookGrab::textFound, this, &DownloadScheduler::previewChanged);
    connect(m_grab.get(), &BookGrab::pageCompleted, this, &DownloadScheduler::onPageCompleted);
    connect(m_grab.get(), &BookGrab::finished, this, &DownloadScheduler::onGrabFinished);
    connect(m_grab.get(), &BookGrab::heldPageFollowed, this, &DownloadScheduler::onHeldPageFollowed);
    m_grab->start(startUrl, m_writer->pageUrls(),
                  afterHeldPage ? BookGrab::StartAt::AfterPage : BookGrab::StartAt::Page, startSteps);
}

void DownloadScheduler::onHeldPageFollowed(const QUrl &nextUrl)
{
    // The row moves on to the first new page; the checkpoint stays at the held one until a page after it is in.
    m_heldPagePending = false;
    m_books.setCurrentUrl(0, nextUrl);
}

void DownloadScheduler::onPageCompleted(const QString &title, const QString &text, const QUrl &nextUrl)
{
    // Title, text, count and next address change together, so the book never holds half a page.
    m_lastPageUrl = m_books.head().CurrentUrl;
    m_writer->addPage(title, text, m_lastPageUrl, nextUrl, m_grab->nextInPlaceSteps());
    const int pages = m_books.head().PagesDone + 1;
    m_books.setPagesDone(0, pages);
    if (!nextUrl.isEmpty())
        m_books.setCurrentUrl(0, nextUrl);
    // Pages wait at most the checkpoint interval for their turn on disk, however slowly the next ones come.
    // A fast grab does not gather more than a batch in memory before it writes.
    constexpr qsizetype MaxPendingBytes = qsizetype(8) << 20;
    if (m_clock.nowMs() - m_lastCommitMs >= m_config.checkpointMs || m_writer->pendingBytes() >= MaxPendingBytes)
        checkpoint();
    else if (!m_checkpointTimer.isActive())
        m_checkpointTimer.start(int(std::max<qint64>(0, m_config.checkpointMs - (m_clock.nowMs() - m_lastCommitMs))));
    ++m_pagesThisRun;
    const qint64 elapsedMs = std::max<qint64>(1, m_clock.nowMs() - m_runStartMs);
    Q_EMIT progress(m_bookName, pages, nextUrl, m_pagesThisRun * 1000.0 / double(elapsedMs));
}

void DownloadScheduler::onGrabFinished(GrabEnd end, const QString &message)
{
    // The grab is done with; delete it once this slot has returned to it.
    m_grab.release()->deleteLater();
    if (m_writeFailed) {
        // Shown when it happened; the book stays queued at what its file holds.
        FinishBook(false);
        Q_EMIT bookEnded(GrabEnd::WriteFailed, m_bookName);
        return;
    }
    try {
        if (end == GrabEnd::LoadFailed && m_heldPagePending) {
            // The last page the book holds cannot be read any more (gone, or the site is down): nothing is known to
            // be new, the book stays as it is and the queue goes on.
            const QString name = m_bookName;
            const QUrl lastPage = m_lastPageUrl;
            FinishBook(true);
            m_host.ShowMsg(
                u"《%1》的最后一页“%2”打不开了：%3 这本书保持原样。"_s.arg(name, lastPage.toDisplayString(), message));
            Q_EMIT bookEnded(end, name);
            return;
        }
        switch (end) {
        case GrabEnd::Complete:
            FinishBook(true);
            break;
        case GrabEnd::Stopped:
            FinishBook(false);
            break;
        case GrabEnd::EmptyText:
            Q_EMIT previewChanged(EmptyTextPreview);
            requestStop();
            askToRedefine();
            break;
        case GrabEnd::NoLinkName:
        case GrabEnd::LoadFailed:
        case GrabEnd::ScriptLinkNeedsScripts:
            // The book cannot go on by itself: keep what it has, queue it again and let the user decide.
            stopRequest(true, false);
            FinishBook(false);
            m_host.ShowMsg(end == GrabEnd::NoLinkName ? NoLinkNameMessage : message);
            break;
        case GrabEnd::WriteFailed:
            // The scheduler's own end (handled above), never a grab's; kept as a stop if one ever says it.
            FinishBook(false);
            break;
        }
    } catch (const Error &error) {
        m_host.showError(error.message());
    }
    Q_EMIT bookEnded(m_writeFailed ? GrabEnd::WriteFailed : end, m_bookName);
}

// The book is written and queued again before the question, so its pages are safe whatever the answer, and the
// answer may come at any later time.
void DownloadScheduler::askToRedefine()
{
    // Taken before the book ends, which puts the chooser back at "自动".
    const int chosen = m_chooser.currentIndex();
    const QUrl address = m_books.isEmpty() ? QUrl() : m_books.head().CurrentUrl;
    FinishBook(false);
    const QPointer<DownloadScheduler> self(this);
    m_host.askYesNo(QStringLiteral("提示"), EmptyTextQuestion, [self, chosen, address](bool yes) {
        if (self && yes)
            self->m_host.requestRedefinition(chosen, address);
    });
}

void DownloadScheduler::checkpoint()
{
    m_checkpointTimer.stop();
    if (!m_writer || !m_grab || !m_writer->hasPendingPages())
        return;
    try {
        commitPages();
        saveList();
    } catch (const Error &error) {
        // The book goes no further than its file: the grab stops, and ends as a failed write.
        m_writeFailed = true;
        m_host.showError(error.message());
        stopRequest(true, false);
    }
}

void DownloadScheduler::commitPages()
{
    m_checkpointTimer.stop();
    m_lastCommitMs = m_clock.nowMs();
    try {
        m_writer->commit();
    } catch (const Error &) {
        rowToCheckpoint();
        throw;
    }
}

// The row as the book's file holds it, after a write that failed.
void DownloadScheduler::rowToCheckpoint()
{
    if (m_books.isEmpty() || !m_writer)
        return;
    const BookCheckpoint &held = m_writer->committed();
    m_books.setPagesDone(0, held.pages);
    if (!held.nextUrl.isEmpty())
        m_books.setCurrentUrl(0, held.nextUrl);
}

void DownloadScheduler::FinishBook(bool complete)
{
    bool written = !m_writeFailed;
    QString writeError;
    if (written) {
        try {
            commitPages();
        } catch (const Error &error) {
            written = false;
            writeError = error.message();
        }
    }
    if (complete && written) {
        const core::FinishedBook finished = finishedBook();
        m_writer->finish(true);
        m_books.remove(0);
        Q_EMIT bookFinished(finished);
        Q_EMIT previewChanged(QString());
    } else if (!m_books.isEmpty()) {
        rowToCheckpoint();
        m_books.setStatus(0, core::BookStatus::Queued);
    }
    m_writer.reset();
    if (!written)
        stopRequest(true, false); // never go on past a book whose text could not be kept
    m_chooser.setCurrentIndex(0);
    saveList();
    if (!writeError.isEmpty()) {
        m_writeFailed = true;
        throw Error(writeError);
    }
}

core::FinishedBook DownloadScheduler::finishedBook() const
{
    const BookCheckpoint &held = m_writer->committed();
    core::FinishedBook book;
    book.name = m_bookName;
    book.file = QFileInfo(m_writer->bookFile()).absoluteFilePath();
    book.encoding = held.encoding;
    book.format = held.format;
    book.templateName = held.templateName == templates::AutomaticChoice ? QString() : held.templateName;
    book.lastPage = m_lastPageUrl.isEmpty() ? (m_books.isEmpty() ? QUrl() : m_books.head().CurrentUrl) : m_lastPageUrl;
    book.pages = held.pages;
    // An EPUB book is written whole each time: its file's length is what a later update must find.
    book.bytes = held.format == BookFormat::Epub ? QFileInfo(book.file).size() : held.bytes;
    book.endMark = core::fileEndMark(book.file, book.bytes);
    book.updated = QDateTime::currentDateTimeUtc();
    return book;
}

void DownloadScheduler::saveList()
{
    core::SaveBookList(m_books, m_config.listFile);
}

void DownloadScheduler::stallCheck()
{
    // Only a book being grabbed can stall; one restart at a time.
    if (!m_grab || m_stallRestart.isActive())
        return;
    if (m_clock.nowMs() - m_watchTick <= m_config.stallMs)
        return;
    const int pages = m_books.head().PagesDone;
    if (pages != m_watchPages) {
        m_watchTick = m_clock.nowMs();
        m_watchPages = pages;
        return;
    }
    requestStop();
    m_stallRestart.start(m_config.stallPauseMs);
}

void DownloadScheduler::setBusyPicture(bool busy)
{
    if (m_busyPicture == busy)
        return;
    m_busyPicture = busy;
    Q_EMIT activityChanged(busy);
}

} // namespace qh::engine
