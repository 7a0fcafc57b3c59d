#include "engine/bookfile.h"
#include "engine/downloadscheduler.h"
#include "engine/enginehost.h"

#include "browser/html/staticbrowser.h"
#include "core/bookentry.h"
#include "core/bookqueue.h"
#include "core/queuefile.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "support/recordinghost.h"
#include "support/testutils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace qh;
using demo::HttpResponse;
using demo::SampleBook;
using engine::GrabEnd;

namespace {

HttpResponse statusOnly(int status)
{
    HttpResponse response;
    response.status = status;
    return response;
}

// A loopback reading site with a sample book, a template store that serves it, an empty queue, and a scheduler
// with millisecond timings.
class SchedulerTest : public ::testing::Test
{
protected:
    SchedulerTest() : book(5, 300) {}

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter), HttpResponse::page(book.chapterPage(chapter), "text/html"));
        addTemplate(u"样例书网"_s, site(), u"DIV"_s);
        config.tickMs = 5;
        config.stallMs = 60'000;
        config.stallPauseMs = 10;
        config.grab.retryDelaysMs = {1, 2, 3};
        config.grab.locators.timeLimitMs = 200;
        config.saveFolder = folder.path();
        config.listFile = folder.filePath(u"downlist.dat"_s);
        browser.setTransferTimeout(std::chrono::milliseconds(5000));
    }

    // The first request for the chapter never gets an answer; later ones do. calls counts them.
    void hangFirstRequest(int chapter, std::atomic<int> &calls)
    {
        server.setHandler(book.chapterPath(chapter), [this, chapter, &calls](const demo::HttpRequest &) {
            HttpResponse response = HttpResponse::page(book.chapterPage(chapter), "text/html");
            if (calls++ == 0)
                response.delayMs = HttpResponse::Never;
            return response;
        });
    }

    QString site() const { return templates::SiteHeadOf(server.url(u"/"_s).toString()); }

    void addTemplate(const QString &name, const QString &head, const QString &contentTag,
                     const QString &linkname = SampleBook::nextLinkName())
    {
        const demo::TemplatePositions at = book.templatePositions();
        store.AddTemplateRecord(name, head);
        const auto write = [&](const char *key, const QString &value) {
            store.WriteTemplateParam(name, head, QString::fromLatin1(key), value);
        };
        write("linkname", linkname);
        write("ititleindex", QString::number(at.title));
        write("sTitleTagname", u"H1"_s);
        write("icontentindex", QString::number(at.content));
        write("sContentTagname", contentTag);
        write("iparentindex", QString::number(at.parent));
        templates::fillTemplateChooser(chooser, store);
        chooser.setCurrentIndex(0);
    }

    void queue(const QString &name, int chapter = 1, int pagesDone = 0)
    {
        books.append({name, pagesDone, core::BookStatus::Queued, server.url(book.chapterPath(chapter)).toString()});
    }

    bool isRunningGrab() { return scheduler().isGrabbing() && scheduler().isRunning(); }

    engine::DownloadScheduler &scheduler()
    {
        if (!m_scheduler) {
            m_scheduler = std::make_unique<engine::DownloadScheduler>(books, store, chooser, ui, browser, config);
            QObject::connect(m_scheduler.get(), &engine::DownloadScheduler::bookEnded, m_scheduler.get(),
                             [this](GrabEnd end) { ends << end; });
        }
        return *m_scheduler;
    }

    // Starts the scheduler and waits until a book has ended (or the scheduler halted with none running).
    void runUntilBookEnds(int count = 1)
    {
        scheduler().start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ends.size() >= count; }, 10'000)) << "no book ended";
    }

    QString bookFile(const QString &name) const { return folder.filePath(name + u".txt"_s); }

    QByteArray expectedText(int first, int last, text::Encoding encoding = text::Encoding::Gb18030) const
    {
        return book.bookFileBytes(first, last, encoding == text::Encoding::Utf8);
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir folder;
    SampleBook book;
    demo::HttpServer server;
    templates::TemplateStore store;
    templates::ListTemplateChooser chooser;
    core::BookQueue books;
    test::RecordingHost ui;
    browser::StaticBrowser browser;
    engine::SchedulerConfig config;
    QList<GrabEnd> ends;

private:
    std::unique_ptr<engine::DownloadScheduler> m_scheduler;
};

} // namespace

// A whole book: every chapter once, in order, in GB18030 with CR LF; the row goes and the saved list is empty.
TEST_F(SchedulerTest, GrabsAWholeBook)
{
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    EXPECT_TRUE(books.isEmpty());
    EXPECT_EQ(readAll(config.listFile), QByteArray());
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
    for (int chapter = 1; chapter <= 5; ++chapter)
        EXPECT_EQ(server.requestCount(book.chapterPath(chapter)), 1) << chapter;
}

// The books' encoding is the settings' choice.
TEST_F(SchedulerTest, WritesUtf8WhenAsked)
{
    config.encoding = text::Encoding::Utf8;
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5, text::Encoding::Utf8));
}

// A resumed book keeps its file's lines first and goes on from its row's address.
TEST_F(SchedulerTest, ResumesFromTheFile)
{
    text::writeFileAtomically(bookFile(u"样例"_s), expectedText(1, 2));
    queue(u"样例"_s, 3, 2);
    runUntilBookEnds();
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    EXPECT_EQ(server.requestCount(book.chapterPath(1)), 0);
}

// Resuming without the book's file (moved, or the save folder changed) does not start a file of the later chapters
// only: the book stays queued where it was and the message names the file.
TEST_F(SchedulerTest, ResumeWithTheFileMissingStops)
{
    queue(u"样例"_s, 4, 3);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.errors.isEmpty(); }, 10'000));
    EXPECT_TRUE(ui.errors.first().contains(bookFile(u"样例"_s))) << ui.errors.first().toStdString();
    EXPECT_FALSE(scheduler().isRunning());
    EXPECT_FALSE(QFileInfo::exists(bookFile(u"样例"_s)));
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(books.head().PagesDone, 3);
    EXPECT_EQ(books.head().CurrentUrl, server.url(book.chapterPath(4)));
}

// A stop while a page loads aborts the load; the file holds exactly the whole pages, the row is queued at the
// page in progress, and a later run appends each remaining page once.
TEST_F(SchedulerTest, StopDuringALoadThenResume)
{
    std::atomic<int> calls = 0;
    hangFirstRequest(3, calls);
    queue(u"样例"_s);
    scheduler().start();
    // Chapter 3 may be asked for early, while chapter 2 is still being read: wait until the grab waits for it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.load() == 1 && books.head().PagesDone == 2; }, 10'000));
    scheduler().requestStop();
    EXPECT_FALSE(scheduler().isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10'000));
    EXPECT_EQ(ends.first(), GrabEnd::Stopped);
    EXPECT_EQ(ui.waitDialogs, 1);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 2));
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(books.head().PagesDone, 2);
    EXPECT_EQ(books.head().CurrentUrl, server.url(book.chapterPath(3)));

    // The list as saved at the stop reads back as the row stands.
    core::BookQueue reloaded;
    core::LoadBookList(reloaded, config.listFile);
    EXPECT_EQ(reloaded.entries(), books.entries());

    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
}

// The list and template commands wait only while a book is grabbed: a running timer with nothing to start is not
// grabbing. A store replaced under a running book (the wizard closing) does not change that book, which took its
// template when it started.
TEST_F(SchedulerTest, GrabbingSpansTheBookNotTheTimer)
{
    scheduler().start();
    QTest::qWait(4 * config.tickMs);
    EXPECT_TRUE(scheduler().isRunning());
    EXPECT_FALSE(scheduler().isGrabbing());

    HttpResponse slow = HttpResponse::page(book.chapterPage(3), "text/html");
    slow.delayMs = 300;
    server.setResponse(book.chapterPath(3), slow);
    queue(u"样例"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !books.isEmpty() && books.head().PagesDone == 2; }, 10'000));
    EXPECT_TRUE(scheduler().isGrabbing());
    store = templates::TemplateStore();
    templates::fillTemplateChooser(chooser, store);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10'000));
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    EXPECT_FALSE(scheduler().isGrabbing());
    EXPECT_TRUE(scheduler().isRunning());
}

// A stop once a page's text is found (its next link not yet searched) takes nothing of that page: the book resumes
// at it and holds every chapter once.
TEST_F(SchedulerTest, StopBeforeTheNextLinkIsKnown)
{
    bool stopped = false;
    QObject::connect(&scheduler(), &engine::DownloadScheduler::previewChanged, &scheduler(), [&](const QString &text) {
        if (!stopped && text == book.chapterText(3)) {
            stopped = true;
            scheduler().requestStop();
        }
    });
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Stopped});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 2));
    EXPECT_EQ(books.head().PagesDone, 2);
    EXPECT_EQ(books.head().CurrentUrl, server.url(book.chapterPath(3)));

    runUntilBookEnds(2);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
}

// A stop the moment the last page is taken (its checkpoint landed, the book not yet closed) does not take that page
// again on resume: the book asks it for a next link only, finds none and is complete.
TEST_F(SchedulerTest, StopAfterTheLastPageTakesItOnce)
{
    bool stopped = false;
    QObject::connect(&scheduler(), &engine::DownloadScheduler::progress, &scheduler(), [&](const QString &, int pages) {
        if (!stopped && pages == 5) {
            stopped = true;
            scheduler().requestStop();
        }
    });
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Stopped});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    ASSERT_EQ(books.size(), 1);
    EXPECT_EQ(books.head().PagesDone, 5);

    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    EXPECT_TRUE(books.isEmpty());
}

// "pagedelay" spaces the page requests by at least that long.
TEST_F(SchedulerTest, PageDelaySpacesRequests)
{
    config.grab.pageDelayMs = 40;
    QElapsedTimer clock;
    clock.start();
    QList<qint64> times;
    QMutex mutex;
    for (int chapter = 1; chapter <= book.chapterCount(); ++chapter) {
        server.setHandler(book.chapterPath(chapter), [&, chapter](const demo::HttpRequest &) {
            const QMutexLocker lock(&mutex);
            times << clock.elapsed();
            return HttpResponse::page(book.chapterPage(chapter), "text/html");
        });
    }
    queue(u"样例"_s);
    runUntilBookEnds();
    ASSERT_EQ(times.size(), 5);
    for (int i = 1; i < times.size(); ++i)
        EXPECT_GE(times.at(i) - times.at(i - 1), 39) << i;
}

// A stop while waiting to retry a failing page ends at once, with nothing of that page.
TEST_F(SchedulerTest, StopDuringARetryWait)
{
    config.grab.retryDelaysMs = {60'000, 60'000, 60'000};
    server.setResponse(book.chapterPath(2), statusOnly(500));
    queue(u"样例"_s);
    scheduler().start();
    // The second page is asked for as soon as the first has arrived, before the first is taken.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return server.requestCount(book.chapterPath(2)) == 1 && books.head().PagesDone == 1; }, 10'000));
    QTest::qWait(20);
    scheduler().requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 2'000));
    EXPECT_EQ(ends.first(), GrabEnd::Stopped);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 1));
    EXPECT_EQ(books.head().PagesDone, 1);
}

// Failing pages are tried again a few times; a page that keeps failing ends the run with the book kept and queued
// and a message naming the address.
TEST_F(SchedulerTest, RetriesThenRequeues)
{
    const struct
    {
        int status;
        int expectedRequests;
    } cases[] = {{500, 4}, {502, 4}, {404, 1}, {403, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        const QString path = u"/failing/%1.html"_s.arg(c.status);
        server.setResponse(path, statusOnly(c.status));
        books.setEntries({{u"坏书"_s, 0, core::BookStatus::Queued, server.url(path).toString()}});
        ends.clear();
        ui.messages.clear();
        runUntilBookEnds();
        EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::LoadFailed});
        EXPECT_EQ(server.requestCount(path), c.expectedRequests);
        EXPECT_FALSE(scheduler().isRunning());
        ASSERT_EQ(books.size(), 1);
        EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
        ASSERT_EQ(ui.messages.size(), 1);
        EXPECT_TRUE(ui.messages.first().contains(server.url(path).toString())) << ui.messages.first().toStdString();
    }
}

// A busy server's Retry-After is honoured, up to the cap.
TEST_F(SchedulerTest, HonoursRetryAfterUpToTheCap)
{
    config.grab.maxRetryAfterMs = 20; // the hour the server asks for is cut to this
    std::atomic<int> calls = 0;
    server.setHandler(book.chapterPath(2), [&](const demo::HttpRequest &) {
        if (calls++ < 2)
            return statusOnly(calls == 1 ? 503 : 429).withHeader("Retry-After", "3600");
        return HttpResponse::page(book.chapterPage(2), "text/html");
    });
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
}

// A last chapter that links to itself or back into the book ends the book instead of looping.
TEST_F(SchedulerTest, LinksBackIntoTheBookEndTheBook)
{
    QByteArray first = book.chapterPage(1);
    first.replace(text::encode(book.chapterPath(2)), "/loop/2.html");
    server.setResponse(u"/loop/1.html"_s, HttpResponse::page(first, "text/html"));
    for (const QByteArray &target : {QByteArray("/loop/2.html"), QByteArray("/loop/1.html")}) {
        SCOPED_TRACE(target.toStdString());
        QByteArray second = book.chapterPage(2);
        second.replace(text::encode(book.chapterPath(3)), target);
        server.setResponse(u"/loop/2.html"_s, HttpResponse::page(second, "text/html"));
        books.setEntries({{u"环"_s, 0, core::BookStatus::Queued, server.url(u"/loop/1.html"_s).toString()}});
        ends.clear();
        runUntilBookEnds();
        EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
        EXPECT_EQ(readAll(bookFile(u"环"_s)), expectedText(1, 2));
        EXPECT_TRUE(books.isEmpty());
    }
}

// Next links resolve against the address after redirects, as a browser's do.
TEST_F(SchedulerTest, FollowsLinksFromTheRedirectedAddress)
{
    server.setRedirect(u"/start"_s, book.chapterPath(4));
    books.setEntries({{u"跳转"_s, 0, core::BookStatus::Queued, server.url(u"/start"_s).toString()}});
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"跳转"_s)), expectedText(4, 5));
}

// No template for the head book's site: the message, the timer off, the row left queued.
TEST_F(SchedulerTest, NoTemplateStopsWithAMessage)
{
    store = templates::TemplateStore();
    queue(u"样例"_s);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.messages.isEmpty(); }, 5'000));
    EXPECT_EQ(ui.messages,
              QStringList{u"没有能够与当前电子书对应的抓书模板，请在模板按钮中定义该读书网模板，或者删除该电子书。"_s});
    EXPECT_FALSE(scheduler().isRunning());
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(server.requestCount(book.chapterPath(1)), 0);
}

// A template that finds no text: the question, the redefinition on yes only, the book stopped and queued. The book
// is queued again and the list saved before the question is asked, so nothing waits for the answer.
TEST_F(SchedulerTest, EmptyTextAsksToRedefine)
{
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        store = templates::TemplateStore();
        addTemplate(u"旧模板"_s, site(), u"SPAN"_s);
        books.setEntries({});
        queue(u"样例"_s);
        ui = test::RecordingHost();
        ui.answerYes = yes;
        bool queuedWhenAsked = false;
        ui.onAsk = [&] {
            core::BookQueue saved;
            core::LoadBookList(saved, config.listFile);
            queuedWhenAsked = !isRunningGrab() && books.head().Status == core::BookStatus::Queued &&
                              saved.size() == 1 && saved.head().Status == core::BookStatus::Queued;
        };
        ends.clear();
        runUntilBookEnds();
        EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::EmptyText});
        ASSERT_TRUE(QTest::qWaitFor([&] { return ui.answers == 1; }, 5'000));
        EXPECT_TRUE(queuedWhenAsked);
        EXPECT_EQ(ui.questions.size(), 1);
        EXPECT_EQ(ui.redefinitions.size(), yes ? 1 : 0);
        if (yes) { // the template in use is the one shown in the chooser, and the one to redefine
            EXPECT_EQ(ui.redefinitions.first(), qMakePair(1, server.url(book.chapterPath(1)).toString()));
        }
        EXPECT_FALSE(scheduler().isRunning());
        EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
        EXPECT_EQ(books.head().PagesDone, 0);
        EXPECT_EQ(readAll(bookFile(u"样例"_s)), QByteArray());
    }
}

// A template without a link name: the message, and the book queued again rather than left "being downloaded".
TEST_F(SchedulerTest, NoLinkNameRequeues)
{
    store = templates::TemplateStore();
    addTemplate(u"无链接"_s, site(), u"DIV"_s, QString());
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::NoLinkName});
    EXPECT_EQ(ui.messages, QStringList{u"请先定义“下一页”链接"_s});
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_FALSE(scheduler().isRunning());
}

// A script next link cannot be followed on a static page: a clear message, the book kept and queued.
TEST_F(SchedulerTest, ScriptLinkOnAStaticPage)
{
    QByteArray page = book.chapterPage(2);
    page.replace(text::encode(book.chapterPath(3)), "javascript:next()");
    server.setResponse(book.chapterPath(2), HttpResponse::page(page, "text/html"));
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::ScriptLinkNeedsScripts});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 1));
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.first().contains(u"javascript:next()"_s));
}

// A template chosen by hand serves one book; the chooser is back at "自动" afterwards.
TEST_F(SchedulerTest, HandChosenTemplateServesOneBook)
{
    store = templates::TemplateStore();
    addTemplate(u"别站模板"_s, u"http://elsewhere.example"_s, u"DIV"_s);
    templates::fillTemplateChooser(chooser, store);
    chooser.setCurrentIndex(1);
    queue(u"样例"_s);
    // No template serves this site, so even a hand choice cannot start it ...
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.messages.isEmpty(); }, 5'000));
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);

    // ... but with a template for the site present, the hand-chosen one is used and then reset.
    addTemplate(u"本站模板"_s, site(), u"SPAN"_s); // would find no text
    chooser.setCurrentIndex(1);
    ui.messages.clear();
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(chooser.currentIndex(), 0);
}

// A page that hangs past the stall limit is stopped and the book started again once, finishing it.
TEST_F(SchedulerTest, StallWatchdogRestartsAHangingPage)
{
    // Long enough for every other page to come in well within it, on a sanitized build under load too: a page slower
    // than the limit is a stall of its own.
    config.stallMs = 500;
    std::atomic<int> calls = 0;
    hangFirstRequest(3, calls);
    queue(u"样例"_s);
    runUntilBookEnds(2);
    EXPECT_EQ(ends, (QList<GrabEnd>{GrabEnd::Stopped, GrabEnd::Complete}));
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
}

// A stop pressed during the stall watchdog's pause is honoured: the scheduler does not start itself again.
TEST_F(SchedulerTest, StopDuringTheStallPauseIsHonoured)
{
    config.stallMs = 100;
    config.stallPauseMs = 300;
    std::atomic<int> calls = 0;
    hangFirstRequest(3, calls);
    queue(u"样例"_s);
    runUntilBookEnds(1);
    ASSERT_EQ(ends, QList<GrabEnd>{GrabEnd::Stopped});
    scheduler().requestStop();
    QTest::qWait(600);
    EXPECT_FALSE(scheduler().isRunning());
    EXPECT_EQ(ends.size(), 1);
    EXPECT_EQ(books.head().Status, core::BookStatus::Queued);
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 2));
}

// A book that resumes from a checkpoint keeps the encoding it was begun in, whatever the settings say now, and
// starts fetching without reading its file back.
TEST_F(SchedulerTest, AResumedBookKeepsItsOwnEncoding)
{
    std::atomic<int> calls = 0;
    hangFirstRequest(3, calls);
    config.encoding = text::Encoding::Utf8;
    queue(u"样例"_s);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.load() == 1 && books.head().PagesDone == 2; }, 10'000));
    scheduler().requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10'000));

    config.encoding = text::Encoding::Gb18030;
    scheduler().setConfig(config);
    ends.clear();
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), book.bookFileBytes(1, 5, true));
}

// A book file written by an older version (no checkpoint) in another encoding than the settings' is not appended
// to: the resume stops with a message naming the file, which stays as it was.
TEST_F(SchedulerTest, ResumeOfAFileInAnotherEncodingStops)
{
    const QByteArray utf8 = book.bookFileBytes(1, 2, true);
    QFile file(bookFile(u"样例"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(utf8);
    file.close();
    queue(u"样例"_s, 3, 2);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.errors.isEmpty(); }, 10'000));
    EXPECT_TRUE(ui.errors.first().contains(bookFile(u"样例"_s))) << ui.errors.first().toStdString();
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), utf8);
    EXPECT_EQ(books.head().PagesDone, 2);
}

// A head row no book can start from (a status word the program does not write, an old "已下载" row, a count that is
// no number) is reported and the scheduler halts, rather than waiting for it forever; an existing book file is
// left as it is.
TEST_F(SchedulerTest, AHeadRowThatCannotStartIsReported)
{
    QFile file(bookFile(u"样例"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("earlier chapters\r\n");
    file.close();
    const struct
    {
        const char *what;
        core::BookStatus status;
        int pages;
    } cases[] = {
        {"unknown status", core::BookStatus::Unknown, 0},
        {"downloaded", core::BookStatus::Downloaded, 0},
        {"count that is no number", core::BookStatus::Queued, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        books.setEntries({{u"样例"_s, c.pages, c.status, server.url(book.chapterPath(1))}});
        ui = test::RecordingHost();
        scheduler().start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.messages.isEmpty() || !ui.errors.isEmpty(); }, 5'000));
        const QString told = (ui.messages + ui.errors).join(u'|');
        EXPECT_TRUE(told.contains(u"样例"_s)) << told.toStdString();
        EXPECT_FALSE(scheduler().isRunning());
        EXPECT_TRUE(ends.isEmpty());
        EXPECT_EQ(readAll(bookFile(u"样例"_s)), QByteArray("earlier chapters\r\n"));
    }
}

// The loop guard covers the whole book, not only the current run: a book resumed after chapter 3 whose chapter 4
// links back to chapter 1 ends there, with chapters 1 to 4 each once.
TEST_F(SchedulerTest, ALinkBackIntoTheBookEndsItAcrossAResume)
{
    std::atomic<int> calls = 0;
    QByteArray fourth = book.chapterPage(4);
    fourth.replace(text::encode(book.chapterPath(5)), text::encode(book.chapterPath(1)));
    server.setHandler(book.chapterPath(4), [&calls, fourth](const demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(fourth, "text/html");
        if (calls++ == 0)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    queue(u"样例"_s);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.load() == 1 && books.head().PagesDone == 3; }, 10'000));
    scheduler().requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10'000));
    ends.clear();
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 4));
}

// A last page whose link leads to itself under a new session id each time is taken once: a page with the same title
// and text as the one before ends the book.
TEST_F(SchedulerTest, APageThatRepeatsThePreviousEndsTheBook)
{
    std::atomic<int> sid = 0;
    const QString last = book.chapterPath(5);
    server.setHandler(last, [this, &sid](const demo::HttpRequest &) {
        QByteArray page = book.chapterPage(5);
        // The last chapter's link to the index becomes a "next page" link to itself with a fresh session id.
        const QByteArray self = text::encode(book.chapterPath(5) + u"?sid="_s + QString::number(++sid));
        page.replace(QByteArray("</body>"), QByteArray("<a href=\"" + self + "\">" +
                                                       text::encode(SampleBook::nextLinkName()) + "</a></body>"));
        return HttpResponse::page(page, "text/html");
    });
    queue(u"样例"_s);
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
    EXPECT_LE(sid.load(), 3); // the page, its one repeat, and the repeat's successor asked for early
}

// A book whose pages move to another host (a mirror) keeps the template it began with instead of looking for one
// by the new host, which has none.
TEST_F(SchedulerTest, ABookKeepsItsTemplateWhenItsPagesMoveHost)
{
    std::atomic<int> calls = 0;
    hangFirstRequest(3, calls);
    queue(u"样例"_s);
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls.load() == 1 && books.head().PagesDone == 2; }, 10'000));
    scheduler().requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10'000));

    // The same server under another name: no template has that head.
    QUrl moved = books.head().CurrentUrl;
    moved.setHost(u"localhost"_s);
    books.setCurrentUrl(0, moved);
    ASSERT_FALSE(store.TemplateExistsForHead(templates::SiteHeadOf(moved.toString())));
    config.stallMs = 60'000;
    ends.clear();
    ui.messages.clear();
    runUntilBookEnds();
    EXPECT_EQ(ends, QList<GrabEnd>{GrabEnd::Complete});
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
    EXPECT_EQ(readAll(bookFile(u"样例"_s)), expectedText(1, 5));
}

// Stop always halts the timer, even when nothing was running to stop.
TEST_F(SchedulerTest, StopAlwaysHaltsTheTimer)
{
    scheduler().start();
    EXPECT_TRUE(scheduler().isRunning());
    scheduler().requestStop();
    EXPECT_FALSE(scheduler().isRunning());
    EXPECT_EQ(ui.waitDialogs, 0); // the flag was already set: no second stop request
}
