#include "engine/bookupdate.h"
#include "engine/bookwriter.h"
#include "engine/downloadscheduler.h"

#include "browser/html/staticbrowser.h"
#include "common/error.h"
#include "core/bookqueue.h"
#include "core/finishedbooks.h"
#include "core/queuecommands.h"
#include "core/safefilename.h"
#include "templates/selection.h"
#include "templates/sitehead.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "support/recordinghost.h"
#include "support/testutils.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace qh;
using demo::HttpResponse;
using demo::SampleBook;
using engine::GrabEnd;

namespace {

// A serial on a loopback site that has published nine chapters, grabbed to its end; then the site may publish three
// more, and the book is updated through the scheduler as any book is grabbed.
class BookUpdateTest : public ::testing::Test
{
protected:
    BookUpdateTest() : nine(9, 300), twelve(12, 300) {}

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        publish(nine);
        const demo::TemplatePositions at = nine.templatePositions();
        const QString head = templates::SiteHeadOf(server.url(u"/"_s).toString());
        store.AddTemplateRecord(u"样例书网"_s, head);
        const auto write = [&](const char *key, const QString &value) {
            store.WriteTemplateParam(u"样例书网"_s, head, QString::fromLatin1(key), value);
        };
        write("linkname", SampleBook::nextLinkName());
        write("ititleindex", QString::number(at.title));
        write("sTitleTagname", u"H1"_s);
        write("icontentindex", QString::number(at.content));
        write("sContentTagname", u"DIV"_s);
        write("iparentindex", QString::number(at.parent));
        templates::fillTemplateChooser(chooser, store);
        chooser.setCurrentIndex(0);
        config.tickMs = 5;
        config.stallPauseMs = 10;
        config.grab.retryDelaysMs = {1, 2, 3};
        config.grab.locators.timeLimitMs = 200;
        config.saveFolder = folder.path();
        config.listFile = folder.filePath(u"downlist.dat"_s);
        config.workFolder = workFolder();
        browser.setTransferTimeout(std::chrono::milliseconds(5000));
    }

    void publish(const SampleBook &book)
    {
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter), HttpResponse::page(book.chapterPage(chapter), "text/html"));
    }

    QString workFolder() const { return folder.filePath(u"temp"_s); }
    QString bookFile() const { return folder.filePath(u"连载.txt"_s); }
    QUrl chapterUrl(int chapter) const { return server.url(twelve.chapterPath(chapter)); }
    int requests(int chapter) const { return server.requestCount(twelve.chapterPath(chapter)); }

    engine::DownloadScheduler &scheduler()
    {
        if (!m_scheduler) {
            m_scheduler = std::make_unique<engine::DownloadScheduler>(books, store, chooser, ui, browser, config);
            QObject::connect(m_scheduler.get(), &engine::DownloadScheduler::bookEnded, m_scheduler.get(),
                             [this](GrabEnd end) { ends << end; });
            QObject::connect(m_scheduler.get(), &engine::DownloadScheduler::bookFinished, m_scheduler.get(),
                             [this](const core::FinishedBook &book) { finished << book; });
        }
        return *m_scheduler;
    }

    void runUntilBookEnds(int count)
    {
        scheduler().start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ends.size() >= count; }, 10'000)) << "no book ended";
    }

    // The nine chapters grabbed as a new book; the record its end made.
    core::FinishedBook finishNine()
    {
        books.append({u"连载"_s, 0, core::BookStatus::Queued, chapterUrl(1)});
        runUntilBookEnds(int(ends.size()) + 1);
        EXPECT_EQ(readAll(bookFile()), nine.bookFileBytes(1, 9));
        EXPECT_EQ(finished.size(), 1);
        return finished.isEmpty() ? core::FinishedBook() : finished.constLast();
    }

    void queueUpdate(const core::FinishedBook &book)
    {
        EXPECT_EQ(engine::queueBookUpdate(books, book, workFolder()), engine::UpdateQueued::Queued);
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir folder;
    SampleBook nine;
    SampleBook twelve;
    demo::HttpServer server;
    templates::TemplateStore store;
    templates::ListTemplateChooser chooser;
    core::BookQueue books;
    test::RecordingHost ui;
    browser::StaticBrowser browser;
    engine::SchedulerConfig config;
    QList<GrabEnd> ends;
    QList<core::FinishedBook> finished;

private:
    std::unique_ptr<engine::DownloadScheduler> m_scheduler;
};

} // namespace

// A finished book is recorded with what an update needs: its file, encoding, format, template, last page, pages and
// the length and end of its file as left.
TEST_F(BookUpdateTest, AFinishedBookIsRecorded)
{
    const core::FinishedBook book = finishNine();
    EXPECT_EQ(book.name, u"连载"_s);
    EXPECT_EQ(book.file, bookFile());
    EXPECT_EQ(book.encoding, text::Encoding::Gb18030);
    EXPECT_EQ(book.format, core::BookFormat::Text);
    EXPECT_EQ(book.templateName, u"样例书网"_s); // the one "自动" chose, which the book keeps
    EXPECT_EQ(book.lastPage, chapterUrl(9));
    EXPECT_EQ(book.pages, 9);
    EXPECT_EQ(book.bytes, nine.bookFileBytes(1, 9).size());
    EXPECT_EQ(book.endMark, core::fileEndMark(bookFile(), book.bytes));
    EXPECT_FALSE(book.endMark.isEmpty());
    EXPECT_TRUE(book.updated.isValid());
}

// The site publishes chapters 10 to 12: the update reads chapter 9 again for its link only and appends exactly the
// new chapters, so the file is byte for byte a fresh grab of all twelve. A second update finds nothing, writes
// nothing and asks only for the last page.
TEST_F(BookUpdateTest, AppendsTheNewChaptersOnly)
{
    const core::FinishedBook first = finishNine();
    publish(twelve);
    queueUpdate(first);
    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 12));
    for (int chapter = 1; chapter <= 8; ++chapter)
        EXPECT_EQ(requests(chapter), 1) << chapter;
    EXPECT_EQ(requests(9), 2);
    for (int chapter = 10; chapter <= 12; ++chapter)
        EXPECT_EQ(requests(chapter), 1) << chapter;
    EXPECT_TRUE(books.isEmpty());
    EXPECT_FALSE(QFile::exists(core::BookWorkFilePath(workFolder(), u"连载"_s)));
    ASSERT_EQ(finished.size(), 2);
    const core::FinishedBook second = finished.last();
    EXPECT_EQ(second.pages, 12);
    EXPECT_EQ(second.lastPage, chapterUrl(12));
    EXPECT_EQ(second.bytes, twelve.bookFileBytes(1, 12).size());
    EXPECT_EQ(second.endMark, core::fileEndMark(bookFile(), second.bytes));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(u'|').toStdString();
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join(u'|').toStdString();

    queueUpdate(second);
    runUntilBookEnds(3);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 12));
    EXPECT_EQ(requests(12), 2);
    EXPECT_EQ(requests(11), 1);
    ASSERT_EQ(finished.size(), 3);
    EXPECT_EQ(finished.last().pages, 12);
    EXPECT_EQ(finished.last().lastPage, chapterUrl(12));
}

// An update stopped while a page loads keeps what it has: stopped at the last page held, nothing is written and it
// starts there again; stopped at a new one, the file holds the new pages before it. Resumed, it appends each
// remaining chapter once.
TEST_F(BookUpdateTest, AStoppedUpdateResumesWhereItStopped)
{
    const struct
    {
        int hangingChapter;
        int heldAtStop; // the last chapter the file holds when stopped
    } cases[] = {{9, 9}, {11, 10}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hangingChapter);
        ends.clear();
        finished.clear();
        QFile::remove(bookFile());
        publish(nine);
        const core::FinishedBook book = finishNine();
        publish(twelve);
        std::atomic<int> calls = 0;
        server.setHandler(twelve.chapterPath(c.hangingChapter),
                          [&, chapter = c.hangingChapter](const demo::HttpRequest &) {
                              HttpResponse response = HttpResponse::page(twelve.chapterPage(chapter), "text/html");
                              if (calls++ == 0)
                                  response.delayMs = HttpResponse::Never;
                              return response;
                          });
        const int before10 = requests(10);
        queueUpdate(book);
        scheduler().start();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return calls.load() == 1 && !books.isEmpty() && books.head().PagesDone == c.heldAtStop; }, 10'000));
        scheduler().requestStop();
        ASSERT_TRUE(QTest::qWaitFor([&] { return ends.size() == 2; }, 10'000));
        EXPECT_EQ(ends.last(), GrabEnd::Stopped);
        EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, c.heldAtStop));
        ASSERT_EQ(books.size(), 1);
        EXPECT_EQ(books.head().PagesDone, c.heldAtStop);
        EXPECT_EQ(books.head().CurrentUrl, chapterUrl(c.hangingChapter));
        const std::optional<engine::BookCheckpoint> checkpoint =
            engine::readCheckpoint(core::BookWorkFilePath(workFolder(), u"连载"_s));
        ASSERT_TRUE(checkpoint);
        EXPECT_EQ(checkpoint->afterNextUrl, c.hangingChapter == 9);
        EXPECT_EQ(checkpoint->bookFile, bookFile());

        runUntilBookEnds(3);
        EXPECT_EQ(ends.last(), GrabEnd::Complete);
        EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 12));
        EXPECT_EQ(requests(10) - before10, 1);
        ASSERT_EQ(finished.size(), 2);
        EXPECT_EQ(finished.last().pages, 12);
    }
}

// An update stopped after it had appended chapter 10, whose row the reader then deletes: the book keeps chapter 10,
// and the next update goes on after it instead of refusing the file as changed by hand.
TEST_F(BookUpdateTest, AnUpdateCalledOffKeepsItsPagesForTheNext)
{
    const QString finishedFile = folder.filePath(u"finished.dat"_s);
    core::FinishedBooks records;
    records.record(finishNine());
    core::saveFinishedBooks(records, finishedFile);
    publish(twelve);
    std::atomic<bool> hold = true;
    server.setHandler(twelve.chapterPath(11), [&](const demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(twelve.chapterPage(11), "text/html");
        if (hold)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    queueUpdate(records.books().constFirst());
    scheduler().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests(11) == 1 && books.head().PagesDone == 10; }, 10'000));
    scheduler().requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ends.size() == 2; }, 10'000));
    ASSERT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 10));

    core::QueueCommands commands(books, scheduler(), ui);
    commands.DeleteSelectedBooks({books.idAt(0)}, {config.listFile, folder.path(), workFolder(), finishedFile});
    EXPECT_TRUE(books.isEmpty());
    EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 10));
    const core::FinishedBooks now = core::loadFinishedBooks(finishedFile);
    ASSERT_TRUE(now.find(u"连载"_s));
    const core::FinishedBook record = *now.find(u"连载"_s);
    EXPECT_EQ(record.pages, 10);
    EXPECT_EQ(record.lastPage, chapterUrl(10));

    hold = false;
    queueUpdate(record);
    runUntilBookEnds(3);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 12));
    EXPECT_EQ(requests(10), 2); // taken once, read again for its link
    EXPECT_EQ(requests(12), 1);
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join(u'|').toStdString();
}

// A book file changed by hand since it was finished is not appended to: cut short, grown, or the same length with
// other bytes at its end. Found when the update is queued, or, changed after that, when it starts; either way the
// message names the file and the file stays as it is.
TEST_F(BookUpdateTest, AChangedFileIsNotAppendedTo)
{
    const core::FinishedBook book = finishNine();
    const QByteArray original = readAll(bookFile());
    publish(twelve);
    const struct
    {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        {"truncated", original.chopped(100)},
        {"grown", original + "我的笔记\r\n"},
        {"edited at its end", original.chopped(3) + "..."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ui.errors.clear();
        text::writeFileAtomically(bookFile(), c.bytes);
        try {
            engine::queueBookUpdate(books, book, workFolder());
            ADD_FAILURE() << "queued";
        } catch (const Error &error) {
            EXPECT_TRUE(error.message().contains(bookFile())) << error.message().toStdString();
        }
        EXPECT_TRUE(books.isEmpty());

        // Changed between the queueing and the start.
        text::writeFileAtomically(bookFile(), original);
        queueUpdate(book);
        text::writeFileAtomically(bookFile(), c.bytes);
        scheduler().start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.errors.isEmpty(); }, 10'000));
        EXPECT_TRUE(ui.errors.first().contains(bookFile())) << ui.errors.first().toStdString();
        EXPECT_EQ(readAll(bookFile()), c.bytes);
        EXPECT_EQ(requests(10), 0);
        books.setEntries({});
        QFile::remove(core::BookWorkFilePath(workFolder(), u"连载"_s));
        text::writeFileAtomically(bookFile(), original);
    }
}

// A last page that now answers 404 says so and keeps the book as it is; the queue goes on.
TEST_F(BookUpdateTest, AMissingLastPageKeepsTheBook)
{
    const core::FinishedBook book = finishNine();
    HttpResponse gone;
    gone.status = 404;
    server.setResponse(twelve.chapterPath(9), gone);
    queueUpdate(book);
    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::LoadFailed);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.first().contains(u"最后一页"_s)) << ui.messages.first().toStdString();
    EXPECT_TRUE(ui.messages.first().contains(chapterUrl(9).toDisplayString())) << ui.messages.first().toStdString();
    EXPECT_EQ(readAll(bookFile()), nine.bookFileBytes(1, 9));
    EXPECT_TRUE(books.isEmpty());
    EXPECT_TRUE(scheduler().isRunning());
}

// A last page whose new link leads back into the book (its first chapter, as some sites do at the end) brings
// nothing: the addresses of the book's pages are kept with it for its updates.
TEST_F(BookUpdateTest, ALinkBackIntoTheBookIsNothingNew)
{
    const core::FinishedBook book = finishNine();
    QByteArray page = twelve.chapterPage(9);
    page.replace(twelve.chapterPath(10).toUtf8(), twelve.chapterPath(1).toUtf8());
    server.setResponse(twelve.chapterPath(9), HttpResponse::page(page, "text/html"));
    queueUpdate(book);
    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile()), nine.bookFileBytes(1, 9));
    ASSERT_EQ(finished.size(), 2);
    EXPECT_EQ(finished.last().pages, 9);
}

// A book is updated in the encoding it was written in, whatever the settings say now.
TEST_F(BookUpdateTest, AnUpdateKeepsTheBooksEncoding)
{
    config.encoding = text::Encoding::Utf8;
    books.append({u"连载"_s, 0, core::BookStatus::Queued, chapterUrl(1)});
    runUntilBookEnds(1);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().encoding, text::Encoding::Utf8);
    publish(twelve);
    config.encoding = text::Encoding::Gb18030;
    scheduler().setConfig(config);
    queueUpdate(finished.first());
    runUntilBookEnds(2);
    EXPECT_EQ(ends.last(), GrabEnd::Complete);
    EXPECT_EQ(readAll(bookFile()), twelve.bookFileBytes(1, 12, true));
}
