#include "common/bookformat.h"
#include "common/error.h"
#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "engine/bookfile.h"
#include "output/epubreader.h"
#include "support/clirun.h"
#include "support/epubcheck.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <QElapsedTimer>
#include <QMutex>

#include <csignal>
#include <random>

using namespace Qt::StringLiterals;
using qh::demo::HttpResponse;
using qh::demo::SampleBook;

namespace {

using qh::test::CliResult;

// quillhaul-cli against a loopback reading site, with a data folder and a save folder of its own.
class CliGrabTest : public ::testing::Test
{
protected:
    CliGrabTest() : book(6, 200) {}

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter), HttpResponse::page(book.chapterPage(chapter), "text/html"));
        QDir().mkpath(dataDir());
        QFile ini(dataDir() + u"/SysCfg.ini"_s);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[system]\r\nsavepath=" + saveDir().toUtf8() + "\r\n");
    }

    QString dataDir() const { return folder.filePath(u"data"_s); }
    QString saveDir() const { return folder.filePath(u"books"_s); }
    QString firstChapter() const { return server.url(book.chapterPath(1)).toString(); }

    void start(QProcess &process, const QStringList &args) const { qh::test::startCli(process, dataDir(), args); }

    CliResult run(const QStringList &args) const
    {
        QProcess process;
        start(process, args);
        return finish(process);
    }

    static CliResult finish(QProcess &process) { return qh::test::finishCli(process); }

    void defineTemplate() const
    {
        const qh::demo::TemplatePositions at = book.templatePositions();
        const CliResult result =
            run({u"templates"_s, u"define"_s, u"--name"_s, u"样例"_s, u"--url"_s, firstChapter(), u"--linkname"_s,
                 SampleBook::nextLinkName(), u"--title-index"_s, QString::number(at.title), u"--title-tag"_s, u"H1"_s,
                 u"--content-index"_s, QString::number(at.content), u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s,
                 QString::number(at.parent)});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
    }

    static QByteArray bytes(const QString &path) { return qh::test::fileBytesOr(path); }

    QTemporaryDir folder;
    SampleBook book;
    qh::demo::HttpServer server;
};

} // namespace

// grab names the book after the page title, writes the whole book into the save folder and leaves the queue empty.
TEST_F(CliGrabTest, GrabsABookNamedAfterItsTitle)
{
    defineTemplate();
    const CliResult result = run({u"grab"_s, firstChapter()});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QString name = QString(book.chapterTitle(1) + u"_示例小说_书海阁"_s).left(15);
    EXPECT_EQ(bytes(saveDir() + u"/"_s + name + u".txt"_s), book.bookFileBytes(1, 6));
    EXPECT_TRUE(result.err.contains(u"6 页"_s)) << result.err.toStdString();
    EXPECT_EQ(run({u"queue"_s, u"list"_s}).out, QString());
}

// --out writes the book where asked; --name names the row.
TEST_F(CliGrabTest, WritesToTheGivenFile)
{
    defineTemplate();
    const QString out = folder.filePath(u"out.txt"_s);
    const CliResult result = run({u"grab"_s, firstChapter(), u"--name"_s, u"指定"_s, u"--out"_s, out});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(bytes(out), book.bookFileBytes(1, 6));
    EXPECT_FALSE(QFile::exists(saveDir() + u"/指定.txt"_s));
}

// A book file that cannot be written is a failure, not a finished book: the exit status says so, and the book
// stays queued at what its file holds.
TEST_F(CliGrabTest, AnUnwritableOutFileFails)
{
    defineTemplate();
    const CliResult result =
        run({u"grab"_s, firstChapter(), u"--name"_s, u"写不了"_s, u"--out"_s, folder.filePath(u"missing/dir/x.txt"_s)});
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(u"x.txt"_s)) << result.err.toStdString();
    EXPECT_TRUE(run({u"queue"_s, u"list"_s}).out.startsWith(u"写不了\t0\t排队中\t"_s));
}

// Two books whose names share their first 15 characters would share a file: the second is named apart.
TEST_F(CliGrabTest, BooksNeverShareAFile)
{
    defineTemplate();
    const QString one = u"My Long Novel Title - Part One"_s;
    const QString two = u"My Long Novel Title - Part Two"_s;
    ASSERT_EQ(run({u"queue"_s, u"add"_s, firstChapter(), u"--name"_s, one}).status, 0);
    const CliResult second = run({u"queue"_s, u"add"_s, firstChapter(), u"--name"_s, two});
    ASSERT_EQ(second.status, 0);
    EXPECT_NE(second.out.trimmed().left(15), one.left(15)) << second.out.toStdString();
}

// A site without a template fails with the message and leaves the book queued.
TEST_F(CliGrabTest, NoTemplateFails)
{
    const CliResult result = run({u"grab"_s, firstChapter(), u"--name"_s, u"无模板"_s});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(u"没有能够与当前电子书对应的抓书模板"_s)) << result.err.toStdString();
    EXPECT_TRUE(run({u"queue"_s, u"list"_s}).out.startsWith(u"无模板\t0\t排队中\t"_s));
}

// A failing first page is an error naming the address, and nothing is queued.
TEST_F(CliGrabTest, UnreadableFirstPageQueuesNothing)
{
    defineTemplate();
    const QString missing = server.url(u"/book/missing.html"_s).toString();
    const CliResult result = run({u"grab"_s, missing});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(missing)) << result.err.toStdString();
    EXPECT_EQ(run({u"queue"_s, u"list"_s}).out, QString());
}

// Added books are named like the add operation names them, a clash getting a number; queue run grabs them all.
TEST_F(CliGrabTest, QueueAddListAndRun)
{
    defineTemplate();
    const CliResult first = run({u"queue"_s, u"add"_s, firstChapter(), u"--name"_s, u"同名"_s});
    const CliResult second =
        run({u"queue"_s, u"add"_s, server.url(book.chapterPath(5)).toString(), u"--name"_s, u"同名"_s});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_EQ(first.out, u"同名\n"_s);
    EXPECT_EQ(second.out, u"同名2\n"_s);
    EXPECT_EQ(run({u"queue"_s, u"list"_s}).out, u"同名\t0\t排队中\t%1\n同名2\t0\t排队中\t%2\n"_s.arg(
                                                    firstChapter(), server.url(book.chapterPath(5)).toString()));

    const CliResult result = run({u"queue"_s, u"run"_s});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(bytes(saveDir() + u"/同名.txt"_s), book.bookFileBytes(1, 6));
    EXPECT_EQ(bytes(saveDir() + u"/同名2.txt"_s), book.bookFileBytes(5, 6));
    EXPECT_EQ(run({u"queue"_s, u"list"_s}).out, QString());
}

// Ctrl+C stops the grab: exit 3, the whole pages written, the book queued at the next page; queue run resumes it
// and the finished file holds every chapter once.
TEST_F(CliGrabTest, InterruptThenResume)
{
    defineTemplate();
    std::atomic<bool> hold = true;
    server.setHandler(book.chapterPath(4), [&](const qh::demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(book.chapterPage(4), "text/html");
        if (hold)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    QProcess process;
    start(process, {u"grab"_s, firstChapter(), u"--name"_s, u"中断"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount(book.chapterPath(4)) == 1; }, 30'000));
    ::kill(pid_t(process.processId()), SIGINT);
    const CliResult stopped = finish(process);
    EXPECT_EQ(stopped.status, 3) << stopped.err.toStdString();
    // Chapter 4 is asked for as soon as chapter 3 has arrived, so the stop lands once chapter 2 or 3 is complete;
    // either way the file holds exactly the complete chapters and the row points at the next one.
    const QStringList row = run({u"queue"_s, u"list"_s}).out.trimmed().split(u'\t');
    ASSERT_EQ(row.size(), 4);
    const int done = row.at(1).toInt();
    EXPECT_TRUE(done == 2 || done == 3) << done;
    EXPECT_EQ(row.at(0), u"中断"_s);
    EXPECT_EQ(row.at(2), u"排队中"_s);
    EXPECT_EQ(row.at(3), server.url(book.chapterPath(done + 1)).toString());
    EXPECT_EQ(bytes(saveDir() + u"/中断.txt"_s), book.bookFileBytes(1, done));

    hold = false;
    const CliResult resumed = run({u"queue"_s, u"run"_s});
    ASSERT_EQ(resumed.status, 0) << resumed.err.toStdString();
    EXPECT_EQ(bytes(saveDir() + u"/中断.txt"_s), book.bookFileBytes(1, 6));
}

namespace {

// The EPUB's pages as the text book writes pages: what both books of one grab must hold alike.
QByteArray asTextBook(const QList<qh::output::EpubPage> &pages)
{
    QByteArray bytes;
    for (const qh::output::EpubPage &page : pages)
        bytes += qh::engine::formatBookText({page.title, page.text}, qh::text::Encoding::Gb18030);
    return bytes;
}

} // namespace

// An EPUB book (chosen by --format, by an --out file's name or by the settings) holds the pages of the text book of
// the same grab, read back from its chapters, and is the only file its grab writes.
TEST_F(CliGrabTest, EpubBookHoldsTheTextBooksPages)
{
    defineTemplate();
    ASSERT_EQ(run({u"grab"_s, firstChapter(), u"--name"_s, u"文本"_s}).status, 0);
    const QByteArray textBook = bytes(saveDir() + u"/文本.txt"_s);
    ASSERT_EQ(textBook, book.bookFileBytes(1, 6));

    const CliResult byOption = run({u"grab"_s, firstChapter(), u"--name"_s, u"选项"_s, u"--format"_s, u"epub"_s});
    ASSERT_EQ(byOption.status, 0) << byOption.err.toStdString();
    EXPECT_EQ(asTextBook(qh::output::readEpubChapters(saveDir() + u"/选项.epub"_s)), textBook);
    EXPECT_FALSE(QFileInfo::exists(saveDir() + u"/选项.txt"_s));

    const QString out = folder.filePath(u"别处/书.epub"_s);
    QDir().mkpath(QFileInfo(out).path());
    ASSERT_EQ(run({u"grab"_s, firstChapter(), u"--name"_s, u"别处"_s, u"--out"_s, out}).status, 0);
    EXPECT_EQ(asTextBook(qh::output::readEpubChapters(out)), textBook);

    QFile ini(dataDir() + u"/SysCfg.ini"_s);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("format=epub\r\n");
    ini.close();
    ASSERT_EQ(run({u"queue"_s, u"add"_s, firstChapter(), u"--name"_s, u"设置"_s}).status, 0);
    ASSERT_EQ(run({u"queue"_s, u"add"_s, firstChapter(), u"--name"_s, u"仍是文本"_s, u"--format"_s, u"text"_s}).status,
              0);
    ASSERT_EQ(run({u"queue"_s, u"run"_s}).status, 0);
    EXPECT_EQ(asTextBook(qh::output::readEpubChapters(saveDir() + u"/设置.epub"_s)), textBook);
    EXPECT_EQ(bytes(saveDir() + u"/仍是文本.txt"_s), textBook);
}

// An EPUB book stopped by Ctrl+C is a valid book of the pages so far; queue run resumes it (its format kept in the
// queue) and the finished book holds every chapter once and passes the reference checker.
TEST_F(CliGrabTest, EpubInterruptThenResume)
{
    defineTemplate();
    std::atomic<bool> hold = true;
    server.setHandler(book.chapterPath(4), [&](const qh::demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(book.chapterPage(4), "text/html");
        if (hold)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    QProcess process;
    start(process, {u"grab"_s, firstChapter(), u"--name"_s, u"中断"_s, u"--format"_s, u"epub"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount(book.chapterPath(4)) == 1; }, 30'000));
    ::kill(pid_t(process.processId()), SIGINT);
    const CliResult stopped = finish(process);
    EXPECT_EQ(stopped.status, 3) << stopped.err.toStdString();
    const QStringList row = run({u"queue"_s, u"list"_s}).out.trimmed().split(u'\t');
    ASSERT_EQ(row.size(), 5);
    EXPECT_EQ(row.at(4), u"epub"_s);
    const int done = row.at(1).toInt();
    EXPECT_TRUE(done == 2 || done == 3) << done;
    const QString path = saveDir() + u"/中断.epub"_s;
    EXPECT_EQ(asTextBook(qh::output::readEpubChapters(path)), book.bookFileBytes(1, done));

    hold = false;
    const CliResult resumed = run({u"queue"_s, u"run"_s});
    ASSERT_EQ(resumed.status, 0) << resumed.err.toStdString();
    EXPECT_EQ(asTextBook(qh::output::readEpubChapters(path)), book.bookFileBytes(1, 6));
    EXPECT_FALSE(QFileInfo::exists(saveDir() + u"/中断.txt"_s));

    const QString epubcheck = qh::test::epubcheckProgram();
    if (epubcheck.isEmpty())
        GTEST_SKIP() << "epubcheck is not installed (apt-get install epubcheck)";
    const qh::test::EpubcheckResult result = qh::test::runEpubcheck(epubcheck, path);
    EXPECT_TRUE(result.clean()) << result.output.toStdString();
}

// Usage errors exit 2.
TEST_F(CliGrabTest, UsageErrors)
{
    for (const QStringList &args : {QStringList{u"grab"_s}, QStringList{u"grab"_s, u"a"_s, u"b"_s},
                                    QStringList{u"grab"_s, u"a"_s, u"--bogus"_s, u"x"_s}, QStringList{u"queue"_s},
                                    QStringList{u"queue"_s, u"add"_s}, QStringList{u"queue"_s, u"fly"_s},
                                    QStringList{u"grab"_s, u"a"_s, u"--format"_s, u"pdf"_s},
                                    QStringList{u"queue"_s, u"add"_s, u"a"_s, u"--format"_s}})
        EXPECT_EQ(run(args).status, 2) << args.join(u' ').toStdString();
}

#ifdef QH_HAVE_WEBENGINE
// A site whose next links are script links: a template defined with --engine web grabs it on the command line,
// where a static one stops at the first page's link.
TEST_F(CliGrabTest, WebTemplateFollowsScriptLinks)
{
    const auto page = [](int chapter, bool last) {
        const QString next = last ? u"javascript:void(0)"_s : u"javascript:go()"_s;
        return u"<html><head><title>脚本书</title></head><body><h1>第%1章</h1><div><p>正文%1</p></div>"
               "<a href=\"%2\">下一页</a><script>function go() { location.href = '/s/%3'; }</script></body></html>"_s
                   .arg(chapter)
                   .arg(next)
                   .arg(chapter + 1)
                   .toUtf8();
    };
    for (int chapter = 1; chapter <= 3; ++chapter)
        server.setPage(u"/s/%1"_s.arg(chapter), page(chapter, chapter == 3));
    const QString first = server.url(u"/s/1"_s).toString();
    const auto define = [&](const QString &engine) {
        const CliResult result =
            run({u"templates"_s,       u"define"_s, u"--name"_s,        u"脚本"_s, u"--url"_s,          first,
                 u"--linkname"_s,      u"下一页"_s, u"--title-index"_s, u"4"_s,    u"--title-tag"_s,    u"H1"_s,
                 u"--content-index"_s, u"6"_s,      u"--content-tag"_s, u"P"_s,    u"--parent-index"_s, u"5"_s,
                 u"--engine"_s,        engine});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
    };
    const QString out = folder.filePath(u"script.txt"_s);

    define(u"static"_s);
    CliResult result = run({u"grab"_s, first, u"--name"_s, u"静态"_s, u"--out"_s, out});
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(u"javascript:go()"_s)) << result.err.toStdString();

    define(u"web"_s);
    result = run({u"grab"_s, first, u"--name"_s, u"脚本"_s, u"--out"_s, out});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    QStringEncoder gb18030("GB18030");
    const QByteArray expected = gb18030.encode(u"第1章\r\n正文1\r\n第2章\r\n正文2\r\n第3章\r\n正文3\r\n"_s);
    EXPECT_EQ(bytes(out), expected);
}
#endif

namespace {

class CliGrabKillTest : public CliGrabTest, public ::testing::WithParamInterface<qh::BookFormat>
{};

} // namespace

// SIGKILL at random moments of a grab loses nothing that was checkpointed: after each kill the book's file holds
// whole pages only (an EPUB book: is a book that reads back, of whole pages), at least every page completed a
// checkpoint interval (and some slack) before the kill; a page is never written twice, and the resumed book ends
// byte for byte as a straight grab.
TEST_P(CliGrabKillTest, KilledAtRandomMomentsLosesNoCheckpointedPage)
{
    const qh::BookFormat format = GetParam();
    defineTemplate();
    constexpr int Chapters = 1200;
    constexpr int CheckpointMs = 50;
    constexpr qint64 SlackMs = 500;
    const SampleBook longBook(Chapters, 100, u"/long/"_s);
    QElapsedTimer clock;
    clock.start();
    QMutex mutex;
    QList<qint64> requestedAt(Chapters + 2, -1); // the first request of each chapter
    for (int chapter = 1; chapter <= Chapters; ++chapter) {
        server.setHandler(longBook.chapterPath(chapter), [&, chapter](const qh::demo::HttpRequest &) {
            {
                const QMutexLocker lock(&mutex);
                if (requestedAt[chapter] < 0)
                    requestedAt[chapter] = clock.elapsed();
            }
            HttpResponse response = HttpResponse::page(longBook.chapterPage(chapter), "text/html");
            response.delayMs = 8;
            return response;
        });
    }
    const QString file = saveDir() + (format == qh::BookFormat::Epub ? u"/长书.epub"_s : u"/长书.txt"_s);
    // What the file holds, in the text book's bytes; an EPUB book that does not read back fails the test.
    const auto heldBytes = [&]() -> QByteArray {
        if (!QFileInfo::exists(file))
            return QByteArray();
        if (format == qh::BookFormat::Text)
            return bytes(file);
        try {
            return asTextBook(qh::output::readEpubChapters(file));
        } catch (const qh::Error &error) {
            ADD_FAILURE() << error.message().toStdString();
            return "(unreadable)";
        }
    };
    // The pages a book file holds whole, or -1 when it ends inside one.
    const QByteArray wholeBook = longBook.bookFileBytes(1, Chapters);
    QList<qsizetype> pageEnds{0};
    for (int chapter = 1; chapter <= Chapters; ++chapter)
        pageEnds.append(pageEnds.last() + longBook.bookFileBytes(chapter, chapter).size());
    const auto wholePages = [&](const QByteArray &bytes) {
        const qsizetype pages = pageEnds.indexOf(bytes.size());
        return pages >= 0 && wholeBook.startsWith(bytes) ? int(pages) : -1;
    };

    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> pause(30, 400);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QUILLHAUL_CHECKPOINT_MS"_s, QString::number(CheckpointMs));
    const CliResult added = run({u"queue"_s, u"add"_s, server.url(longBook.chapterPath(1)).toString(), u"--name"_s,
                                 u"长书"_s, u"--format"_s, qh::formatKey(format)});
    ASSERT_EQ(added.status, 0) << added.err.toStdString();
    int kills = 0;
    bool finished = false;
    // 25 kills, then the rest of the book in one run: a book long enough that it is not done before.
    for (int round = 0; round < 25 && !finished; ++round) {
        {
            const QMutexLocker lock(&mutex);
            requestedAt.fill(-1); // this run's requests only: a resumed run asks again for pages not kept
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        start(process, {u"queue"_s, u"run"_s});
        ASSERT_TRUE(process.waitForStarted());
        if (process.waitForFinished(pause(random))) {
            ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
            finished = true;
            break;
        }
        process.kill();
        process.waitForFinished();
        const qint64 killedAt = clock.elapsed();
        ++kills;

        const int pages = wholePages(heldBytes());
        ASSERT_GE(pages, 0) << "round " << round << ": the book ends inside a page";
        // Page k is complete once chapter k + 1 has been asked for in this run.
        int due = 0;
        {
            const QMutexLocker lock(&mutex);
            for (int page = 1; page < Chapters; ++page) {
                const qint64 next = requestedAt[page + 1];
                if (next >= 0 && next < killedAt - CheckpointMs - SlackMs)
                    due = page;
            }
        }
        EXPECT_GE(pages, due) << "round " << round;
    }
    EXPECT_GE(kills, 20);
    if (!finished) {
        const CliResult rest = run({u"queue"_s, u"run"_s});
        ASSERT_EQ(rest.status, 0) << rest.err.toStdString();
    }
    EXPECT_EQ(heldBytes(), wholeBook);
    EXPECT_EQ(run({u"queue"_s, u"list"_s}).out, QString());
}

INSTANTIATE_TEST_SUITE_P(Formats, CliGrabKillTest, ::testing::Values(qh::BookFormat::Text, qh::BookFormat::Epub),
                         [](const auto &test) { return qh::formatKey(test.param).toStdString(); });
