#include "demo/httpserver.h"
#include "support/testutils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

using namespace qh::test;
using namespace qh::demo;
using namespace Qt::StringLiterals;

namespace {

struct CliRun
{
    int exitCode = -1;
    QStringList lines; // stdout, split at line breaks
    QByteArray out;
    QString err;
};

// Runs quillhaul-cli to its end. The server answers on its own thread meanwhile.
CliRun runCli(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"), args);
    EXPECT_TRUE(process.waitForFinished(20000)) << args.join(u' ').toStdString();
    CliRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    run.lines = QString::fromUtf8(run.out).split(u'\n');
    if (!run.lines.isEmpty() && run.lines.last().isEmpty())
        run.lines.removeLast();
    return run;
}

// The chapter page the command prints: text long enough to be cut, line breaks and tabs to be spelled out, a
// surrogate pair where the cut falls, and a link.
const QByteArray chapterPage = "<html><head><title>Book</title></head><body>"
                               "<h1>Chapter 1</h1>"
                               "<pre>tab\there\nback\\slash</pre>"
                               "<p>abcdefghijklmnopqrstuvwxyz012\xF0\x9F\x98\x80 and more</p>"
                               "<a href=\"/2\">Next <b>page</b></a>"
                               "</body></html>";

} // namespace

// One line per element of `all`: index, tag, parent index (-1 at the root), the first 30 characters of the text
// with line breaks and tabs spelled out and no half surrogate pair.
TEST(CliDom, PrintsOneLinePerElement)
{
    HttpServer server;
    server.setPage(u"/1"_s, chapterPage);
    const CliRun run = runCli({u"dom"_s, server.url(u"/1"_s).toString()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.lines, (QStringList{
                             u"0\tHTML\t-1\tChapter 1\\ntab\\there\\nback\\slash\\n"_s,
                             u"1\tHEAD\t0\tBook"_s,
                             u"2\tTITLE\t1\tBook"_s,
                             u"3\tBODY\t0\tChapter 1\\ntab\\there\\nback\\slash\\n"_s,
                             u"4\tH1\t3\tChapter 1"_s,
                             u"5\tPRE\t3\ttab\\there\\nback\\slash"_s,
                             u"6\tP\t3\tabcdefghijklmnopqrstuvwxyz012"_s,
                             u"7\tA\t3\tNext page"_s,
                             u"8\tB\t7\tpage"_s,
                         }))
        << run.out.toStdString();
}

// --json gives the same fields as an array of objects, plus the inner markup of links.
TEST(CliDom, PrintsJson)
{
    HttpServer server;
    server.setPage(u"/1"_s, chapterPage);
    const CliRun run = runCli({u"dom"_s, u"--json"_s, server.url(u"/1"_s).toString()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    QJsonParseError error;
    const QJsonArray elements = QJsonDocument::fromJson(run.out, &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.out.toStdString();
    ASSERT_EQ(elements.size(), 9);
    for (int i = 0; i < elements.size(); ++i) {
        const QJsonObject element = elements[i].toObject();
        EXPECT_EQ(element.value(u"index"_s).toInt(-2), i);
        EXPECT_EQ(element.contains(u"innerHTML"_s), element.value(u"tagName"_s).toString() == u"A") << i;
    }
    const QJsonObject pre = elements[5].toObject();
    EXPECT_EQ(pre.value(u"tagName"_s).toString(), u"PRE"_s);
    EXPECT_EQ(pre.value(u"parentIndex"_s).toInt(), 3);
    EXPECT_EQ(pre.value(u"text"_s).toString(), u"tab\there\nback\\slash"_s);
    EXPECT_EQ(elements[0].toObject().value(u"parentIndex"_s).toInt(), -1);
    const QJsonObject link = elements[7].toObject();
    EXPECT_EQ(link.value(u"text"_s).toString(), u"Next page"_s);
    EXPECT_EQ(link.value(u"innerHTML"_s).toString(), u"Next <b>page</b>"_s);
}

// A local file, given as a path or a file:// address, is read with its charset sniffed from the page itself.
TEST(CliDom, ReadsLocalFiles)
{
    const QString path = dataPath(u"dom-sample.html"_s);
    const QStringList expected{
        u"0\tHTML\t-1\t第一章 风起\\n\\n他走进了院子。\\n\\n院子里有一棵很老很老的槐树"_s,
        u"1\tHEAD\t0\t测试书"_s,
        u"2\tMETA\t1\t"_s,
        u"3\tTITLE\t1\t测试书"_s,
        u"4\tBODY\t0\t第一章 风起\\n\\n他走进了院子。\\n\\n院子里有一棵很老很老的槐树"_s,
        u"5\tH1\t4\t第一章 风起"_s,
        u"6\tDIV\t4\t他走进了院子。\\n\\n院子里有一棵很老很老的槐树，树下坐着一个人"_s,
        u"7\tP\t6\t他走进了院子。"_s,
        u"8\tP\t6\t院子里有一棵很老很老的槐树，树下坐着一个人，正在看书。"_s,
        u"9\tPRE\t4\ta\\tb\\c\\nd"_s,
        u"10\tA\t4\t下一页"_s,
    };
    for (const QString &source : {path, QUrl::fromLocalFile(path).toString()}) {
        const CliRun run = runCli({u"dom"_s, source});
        EXPECT_EQ(run.exitCode, 0) << source.toStdString() << ": " << run.err.toStdString();
        EXPECT_EQ(run.lines, expected) << source.toStdString() << '\n' << run.out.toStdString();
    }
}

// A page that cannot be loaded prints the reason on stderr and nothing on stdout, with exit status 1.
TEST(CliDom, LoadFailureExitsWithOne)
{
    HttpServer server;
    HttpResponse missing = HttpResponse::page("<html><body><p>Not Found</p></body></html>");
    missing.status = 404;
    server.setResponse(u"/gone"_s, missing);
    const QString url = server.url(u"/gone"_s).toString();
    const QString missingFile = dataPath(u"no-such-page.html"_s);

    for (const QString &source : {url, missingFile}) {
        const CliRun run = runCli({u"dom"_s, source});
        EXPECT_EQ(run.exitCode, 1) << source.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(source)) << run.err.toStdString();
    }
    EXPECT_TRUE(runCli({u"dom"_s, url}).err.contains(u"404"_s));
}

// Wrong arguments are usage errors with exit status 2.
TEST(CliDom, UsageErrorsExitWithTwo)
{
    const QList<QStringList> cases{
        {u"dom"_s},
        {u"dom"_s, u"--json"_s},
        {u"dom"_s, u"a.html"_s, u"b.html"_s},
        {u"dom"_s, u"--xml"_s, u"a.html"_s},
        {u"dom"_s, u"--wait"_s, u"100"_s, u"a.html"_s},
        {u"dom"_s, u"--web"_s, u"--wait"_s, u"soon"_s, u"a.html"_s},
    };
    for (const QStringList &args : cases) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(u"Usage: quillhaul-cli dom"_s)) << run.err.toStdString();
    }
}

#ifdef QH_HAVE_WEBENGINE
// With --web the page's scripts run: what they write is printed, after the wait asked for.
TEST(CliDom, WebPrintsTheLivePage)
{
    HttpServer server;
    server.setPage(u"/live"_s, "<html><body><div id=c></div><script>document.getElementById('c').innerHTML ="
                               " '<p>\xe8\x84\x9a\xe6\x9c\xac\xe5\x86\x99\xe7\x9a\x84</p>';"
                               " setTimeout(function () { document.body.appendChild(document.createElement('hr')); },"
                               " 100);</script></body></html>");
    const CliRun run = runCli({u"dom"_s, u"--web"_s, u"--wait"_s, u"1000"_s, server.url(u"/live"_s).toString()});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(run.out).contains(u"4\tP\t3\t脚本写的\n"_s)) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\tHR\t2\t")) << run.out.toStdString();
}

// A web template defined from a sample page reads that page with its scripts run, as its grabs will.
TEST(CliDom, AWebTemplateIsDefinedFromTheLivePage)
{
    HttpServer server;
    server.setPage(u"/live"_s,
                   u"<html><body><h1></h1><div id=c></div><a href=\"/2\">下一页</a><script>"
                   "document.querySelector('h1').textContent = '脚本写的标题';"
                   "document.getElementById('c').textContent = '脚本写的正文';</script></body></html>"_s.toUtf8());
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const CliRun run = runCli({u"--data-dir"_s,    data.path(), u"templates"_s,       u"define"_s,
                               u"--name"_s,        u"脚本站"_s, u"--url"_s,           server.url(u"/live"_s).toString(),
                               u"--linkname"_s,    u"下一页"_s, u"--title-index"_s,   u"3"_s,
                               u"--title-tag"_s,   u"H1"_s,     u"--content-index"_s, u"4"_s,
                               u"--content-tag"_s, u"DIV"_s,    u"--parent-index"_s,  u"2"_s,
                               u"--engine"_s,      u"web"_s});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(u"no web engine"_s)) << run.err.toStdString();
    EXPECT_TRUE(run.lines.contains(u"title: 脚本写的标题"_s)) << run.out.toStdString();
    EXPECT_TRUE(run.lines.contains(u"text: 脚本写的正文"_s)) << run.out.toStdString();
}
#endif
