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
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>

using namespace Qt::StringLiterals;
using qh::demo::HttpResponse;
using qh::demo::SampleBook;

namespace {

using qh::test::CliResult;

// quillhaul-cli against a loopback serial that has published nine chapters and may publish three more, with a data
// folder and a save folder of its own. Each command is a new process, so every record is read back from disk.
class CliUpdateTest : public ::testing::Test
{
protected:
    CliUpdateTest() : nine(9, 200), twelve(12, 200) {}

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        publish(nine);
        QDir().mkpath(dataDir());
        QFile ini(dataDir() + u"/SysCfg.ini"_s);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[system]\r\nsavepath=" + saveDir().toUtf8() + "\r\n");
        ini.close();
        const qh::demo::TemplatePositions at = nine.templatePositions();
        const CliResult defined =
            run({u"templates"_s, u"define"_s, u"--name"_s, u"样例"_s, u"--url"_s, chapter(1), u"--linkname"_s,
                 SampleBook::nextLinkName(), u"--title-index"_s, QString::number(at.title), u"--title-tag"_s, u"H1"_s,
                 u"--content-index"_s, QString::number(at.content), u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s,
                 QString::number(at.parent)});
        ASSERT_EQ(defined.status, 0) << defined.err.toStdString();
    }

    void publish(const SampleBook &book)
    {
        for (int chapter = 1; chapter <= book.chapterCount(); ++chapter)
            server.setResponse(book.chapterPath(chapter), HttpResponse::page(book.chapterPage(chapter), "text/html"));
    }

    QString dataDir() const { return folder.filePath(u"data"_s); }
    QString saveDir() const { return folder.filePath(u"books"_s); }
    QString chapter(int n) const { return server.url(twelve.chapterPath(n)).toString(); }

    void start(QProcess &process, const QStringList &args) const { qh::test::startCli(process, dataDir(), args); }

    CliResult run(const QStringList &args) const
    {
        QProcess process;
        start(process, args);
        return finish(process);
    }

    static CliResult finish(QProcess &process) { return qh::test::finishCli(process); }

    static QByteArray bytes(const QString &path) { return qh::test::fileBytesOr(path); }

    // An EPUB book's pages as the text book writes pages.
    static QByteArray epubAsText(const QString &path)
    {
        QByteArray text;
        for (const qh::output::EpubPage &page : qh::output::readEpubChapters(path))
            text += qh::engine::formatBookText({page.title, page.text}, qh::text::Encoding::Gb18030);
        return text;
    }

    // The nine chapters grabbed to their end as the book name, into out when given.
    void grabNine(const QString &name, const QString &out = QString(), const QString &format = u"text"_s)
    {
        QStringList args{u"grab"_s, chapter(1), u"--name"_s, name, u"--format"_s, format};
        if (!out.isEmpty())
            args << u"--out"_s << out;
        const CliResult grabbed = run(args);
        ASSERT_EQ(grabbed.status, 0) << grabbed.err.toStdString();
    }

    QTemporaryDir folder;
    SampleBook nine;
    SampleBook twelve;
    qh::demo::HttpServer server;
};

} // namespace

// Books finished by grab (with and without --out) and by queue run are all remembered; update fetches the new
// chapters of each, one after another, and says how many; a second update finds nothing.
TEST_F(CliUpdateTest, UpdatesEveryFinishedBook)
{
    const QString out = folder.filePath(u"elsewhere.txt"_s);
    grabNine(u"甲"_s);
    grabNine(u"乙"_s, out);
    ASSERT_EQ(run({u"queue"_s, u"add"_s, chapter(1), u"--name"_s, u"丙"_s}).status, 0);
    const CliResult ran = run({u"queue"_s, u"run"_s});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();

    const CliResult listed = run({u"books"_s});
    ASSERT_EQ(listed.status, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.trimmed().split(u'\n');
    ASSERT_EQ(lines.size(), 3) << listed.out.toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(u"甲\t9\t"_s)) << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(1).endsWith(QDir::toNativeSeparators(out))) << lines.at(1).toStdString();

    publish(twelve);
    const CliResult updated = run({u"update"_s});
    ASSERT_EQ(updated.status, 0) << updated.err.toStdString();
    EXPECT_EQ(updated.out, u"《甲》：新增 3 页\n《乙》：新增 3 页\n《丙》：新增 3 页\n"_s);
    for (const QString &file : QStringList{saveDir() + u"/甲.txt"_s, out, saveDir() + u"/丙.txt"_s})
        EXPECT_EQ(bytes(file), twelve.bookFileBytes(1, 12)) << file.toStdString();
    EXPECT_TRUE(run({u"books"_s}).out.startsWith(u"甲\t12\t"_s));

    const CliResult again = run({u"update"_s, u"乙"_s});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, u"《乙》：已是最新\n"_s);
    EXPECT_EQ(bytes(out), twelve.bookFileBytes(1, 12));
    EXPECT_EQ(server.requestCount(twelve.chapterPath(10)), 3);
}

// Ctrl+C stops an update: exit 3, the new pages before the stop kept; the next update goes on from there and the
// book holds every chapter once.
TEST_F(CliUpdateTest, InterruptThenResume)
{
    grabNine(u"中断"_s);
    publish(twelve);
    std::atomic<bool> hold = true;
    server.setHandler(twelve.chapterPath(11), [&](const qh::demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(twelve.chapterPage(11), "text/html");
        if (hold)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    QProcess process;
    start(process, {u"update"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount(twelve.chapterPath(11)) == 1; }, 30'000));
    QTest::qWait(300); // chapter 11 may be asked for while chapter 10 is still read
    ::kill(pid_t(process.processId()), SIGINT);
    const CliResult stopped = finish(process);
    EXPECT_EQ(stopped.status, 3) << stopped.err.toStdString();
    const QString file = saveDir() + u"/中断.txt"_s;
    EXPECT_EQ(bytes(file), twelve.bookFileBytes(1, 10));

    hold = false;
    const CliResult resumed = run({u"update"_s, u"中断"_s});
    EXPECT_EQ(resumed.status, 0) << resumed.err.toStdString();
    EXPECT_EQ(resumed.out, u"《中断》：新增 3 页\n"_s);
    EXPECT_EQ(bytes(file), twelve.bookFileBytes(1, 12));
    EXPECT_EQ(server.requestCount(twelve.chapterPath(10)), 1);
}

// A book file cut short by hand is not appended to: the update of that book fails naming the file, the others are
// still updated, and the exit status says one failed. A deleted book file drops the book from the list, with a
// notice.
TEST_F(CliUpdateTest, ChangedAndDeletedFiles)
{
    grabNine(u"好"_s);
    grabNine(u"截"_s);
    grabNine(u"删"_s);
    const QString cut = saveDir() + u"/截.txt"_s;
    const QByteArray whole = bytes(cut);
    QFile file(cut);
    ASSERT_TRUE(file.resize(whole.size() - 50));
    ASSERT_TRUE(QFile::remove(saveDir() + u"/删.txt"_s));
    publish(twelve);

    const CliResult updated = run({u"update"_s});
    EXPECT_EQ(updated.status, 1) << updated.err.toStdString();
    EXPECT_EQ(updated.out, u"《截》：更新失败\n《好》：新增 3 页\n"_s);
    EXPECT_TRUE(updated.err.contains(QDir::toNativeSeparators(cut))) << updated.err.toStdString();
    EXPECT_TRUE(updated.err.contains(u"删"_s)) << updated.err.toStdString();
    EXPECT_EQ(bytes(cut), whole.chopped(50));
    EXPECT_EQ(bytes(saveDir() + u"/好.txt"_s), twelve.bookFileBytes(1, 12));

    const CliResult listed = run({u"books"_s});
    EXPECT_FALSE(listed.out.contains(u"删"_s)) << listed.out.toStdString();
    EXPECT_FALSE(listed.err.contains(u"删"_s)) << listed.err.toStdString(); // said once, when dropped
    EXPECT_EQ(run({u"update"_s, u"删"_s}).status, 1);
}

// An EPUB book is updated as a text book is: the new chapters are added after its last one (a stop in the middle
// resumes), the book then holds what a fresh grab of all twelve holds and passes the reference checker; a second
// update finds nothing, and an EPUB changed by hand is left alone.
TEST_F(CliUpdateTest, EpubBooksToo)
{
    grabNine(u"电子"_s, QString(), u"epub"_s);
    grabNine(u"改过"_s, QString(), u"epub"_s);
    const QString epub = saveDir() + u"/电子.epub"_s;
    ASSERT_EQ(epubAsText(epub), nine.bookFileBytes(1, 9));
    const QString changed = saveDir() + u"/改过.epub"_s;
    {
        QFile file(changed);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("tampered");
    }
    publish(twelve);
    std::atomic<bool> hold = true;
    server.setHandler(twelve.chapterPath(11), [&](const qh::demo::HttpRequest &) {
        HttpResponse response = HttpResponse::page(twelve.chapterPage(11), "text/html");
        if (hold)
            response.delayMs = HttpResponse::Never;
        return response;
    });
    QProcess process;
    start(process, {u"update"_s, u"电子"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount(twelve.chapterPath(11)) == 1; }, 30'000));
    QTest::qWait(300);
    ::kill(pid_t(process.processId()), SIGINT);
    const CliResult stopped = finish(process);
    EXPECT_EQ(stopped.status, 3) << stopped.err.toStdString();
    EXPECT_EQ(epubAsText(epub), twelve.bookFileBytes(1, 10));

    hold = false;
    const CliResult updated = run({u"update"_s});
    EXPECT_EQ(updated.status, 1) << updated.err.toStdString();
    EXPECT_TRUE(updated.out.contains(u"《电子》：新增 3 页\n"_s)) << updated.out.toStdString();
    EXPECT_TRUE(updated.out.contains(u"《改过》：更新失败\n"_s)) << updated.out.toStdString();
    EXPECT_TRUE(updated.err.contains(QDir::toNativeSeparators(changed))) << updated.err.toStdString();
    EXPECT_EQ(epubAsText(epub), twelve.bookFileBytes(1, 12));
    EXPECT_EQ(run({u"update"_s, u"电子"_s}).out, u"《电子》：已是最新\n"_s);
    EXPECT_FALSE(QFileInfo::exists(saveDir() + u"/电子.txt"_s));

    const QString epubcheck = qh::test::epubcheckProgram();
    if (epubcheck.isEmpty())
        GTEST_SKIP() << "epubcheck is not installed (apt-get install epubcheck)";
    const qh::test::EpubcheckResult check = qh::test::runEpubcheck(epubcheck, epub);
    EXPECT_TRUE(check.clean()) << check.output.toStdString();
}
