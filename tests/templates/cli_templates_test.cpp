#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct CliResult
{
    int status = -1;
    QString out;
    QString err;
};

// quillhaul-cli with a data folder of its own in a temporary folder.
class CliTemplatesTest : public ::testing::Test
{
protected:
    QString dataDir() const { return m_dir.filePath(u"data"_s); }
    QString templateFile() const { return dataDir() + u"/system.tpe"_s; }

    CliResult run(const QStringList &args, const QString &dataFolder = QString()) const
    {
        QProcess process;
        process.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"),
                      QStringList{u"--data-dir"_s, dataFolder.isEmpty() ? dataDir() : dataFolder} + args);
        CliResult result;
        if (!process.waitForFinished(30000))
            return result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    CliResult define(const QString &name, const QString &url, const QString &title, const QString &tag = u"DIV"_s) const
    {
        return run({u"templates"_s, u"define"_s, u"--name"_s, name, u"--url"_s, url, u"--linkname"_s, u"下一页"_s,
                    u"--title-index"_s, title, u"--title-tag"_s, u"H1"_s, u"--content-index"_s, u"20"_s,
                    u"--content-tag"_s, tag, u"--parent-index"_s, u"19"_s});
    }

    QByteArray bytes(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }

    QTemporaryDir m_dir;
};

} // namespace

// data-dir prints the folder given with --data-dir, created.
TEST_F(CliTemplatesTest, DataDirPrintsTheFolder)
{
    const CliResult result = run({u"data-dir"_s});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, dataDir() + u'\n');
    EXPECT_TRUE(QFileInfo(dataDir()).isDir());
}

// define appends new templates with the sample page's head and the keys in the wizard's order; list and show read
// them back in store order.
TEST_F(CliTemplatesTest, DefineListAndShow)
{
    ASSERT_EQ(define(u"笔趣"_s, u"http://WWW.Example.com/b/1.html"_s, u"3"_s).status, 0);
    ASSERT_EQ(define(u"secure"_s, u"https://Secure.example/x"_s, u"4"_s).status, 0);
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out,
              u"笔趣\thttp://www.example.com\nsecure\thttps://secure.example\n"_s);
    const CliResult shown = run({u"templates"_s, u"show"_s, u"笔趣"_s});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, u"@@@@@@@@@@\nname=笔趣\nhead=http://www.example.com\nlinkname=下一页\nititleindex=3\n"
                         "icontentindex=20\niparentindex=19\nsContentTagname=DIV\nsTitleTagname=H1\n"_s);
}

// Redefining a name keeps its place and head and replaces the values; --url is then not needed.
TEST_F(CliTemplatesTest, RedefineKeepsPlaceAndHead)
{
    ASSERT_EQ(define(u"a"_s, u"http://a.cn/1"_s, u"1"_s).status, 0);
    ASSERT_EQ(define(u"b"_s, u"http://b.cn/1"_s, u"2"_s).status, 0);
    ASSERT_EQ(define(u"a"_s, u"http://elsewhere.cn/1"_s, u"7"_s, u"TD"_s).status, 0);
    const CliResult redefine = run({u"templates"_s, u"define"_s, u"--name"_s, u"b"_s, u"--linkname"_s, u""_s,
                                    u"--title-index"_s, u"8"_s, u"--title-tag"_s, u"H2"_s, u"--content-index"_s, u"9"_s,
                                    u"--content-tag"_s, u"P"_s, u"--parent-index"_s, u"5"_s});
    ASSERT_EQ(redefine.status, 0) << redefine.err.toStdString();
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out, u"a\thttp://a.cn\nb\thttp://b.cn\n"_s);
    EXPECT_TRUE(run({u"templates"_s, u"show"_s, u"a"_s}).out.contains(u"ititleindex=7\nicontentindex=20"_s));
    EXPECT_TRUE(run({u"templates"_s, u"show"_s, u"b"_s}).out.contains(u"linkname=\nititleindex=8"_s));
}

// --engine web marks a template for the web engine and show prints the key; a redefinition without --engine keeps
// the engine, --engine static turns it back, and a static template made without --engine has no such line at all.
TEST_F(CliTemplatesTest, DefineChoosesTheEngine)
{
    const auto defineWith = [this](const QStringList &extra) {
        return run(QStringList{u"templates"_s, u"define"_s, u"--name"_s, u"s"_s, u"--url"_s, u"http://s.cn/1"_s,
                               u"--linkname"_s, u"next"_s, u"--title-index"_s, u"1"_s, u"--title-tag"_s, u"H1"_s,
                               u"--content-index"_s, u"2"_s, u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s,
                               u"1"_s} +
                   extra);
    };
    const auto engineLines = [this] {
        const QStringList lines = run({u"templates"_s, u"show"_s, u"s"_s}).out.split(u'\n');
        return lines.filter(u"sEngine"_s);
    };
    const struct
    {
        QStringList extra;
        QStringList shown;
    } steps[] = {
        {{u"--engine"_s, u"web"_s}, {u"sEngine=web"_s}},       {{}, {u"sEngine=web"_s}},
        {{u"--engine"_s, u"static"_s}, {u"sEngine=static"_s}}, {{}, {u"sEngine=static"_s}},
        {{u"--engine"_s, u"web"_s}, {u"sEngine=web"_s}},
    };
    for (const auto &step : steps) {
        const CliResult result = defineWith(step.extra);
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(engineLines(), step.shown) << step.extra.join(u' ').toStdString();
    }
    EXPECT_TRUE(run({u"templates"_s, u"show"_s, u"s"_s}).out.endsWith(u"sTitleTagname=H1\nsEngine=web\n"_s));

    ASSERT_EQ(define(u"plain"_s, u"http://p.cn/1"_s, u"1"_s).status, 0);
    EXPECT_FALSE(run({u"templates"_s, u"show"_s, u"plain"_s}).out.contains(u"sEngine"_s));
}

// Bad command lines are usage errors (2) and change nothing; an empty name is the wizard's refusal (1).
TEST_F(CliTemplatesTest, RejectsBadCommandLines)
{
    ASSERT_EQ(define(u"a"_s, u"http://a.cn/1"_s, u"1"_s).status, 0);
    const QByteArray before = bytes(templateFile());
    QList<QStringList> usageErrors = {
        {u"templates"_s},
        {u"templates"_s, u"frobnicate"_s},
        {u"templates"_s, u"show"_s},
        {u"templates"_s, u"delete"_s, u"a"_s, u"b"_s},
        {u"templates"_s, u"define"_s, u"--name"_s, u"a"_s},
        {u"templates"_s, u"define"_s, u"--name"_s, u"new"_s, u"--linkname"_s, u"x"_s, u"--title-index"_s, u"1"_s,
         u"--title-tag"_s, u"H1"_s, u"--content-index"_s, u"2"_s, u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s,
         u"1"_s},
        {u"templates"_s, u"define"_s, u"--name"_s, u"a"_s, u"--linkname"_s, u"x"_s, u"--title-index"_s, u"-1"_s,
         u"--title-tag"_s, u"H1"_s, u"--content-index"_s, u"2"_s, u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s,
         u"1"_s},
    };
    for (const QString &engine : {u"chromium"_s, u"Web"_s, u""_s}) {
        usageErrors.append({u"templates"_s, u"define"_s, u"--name"_s, u"a"_s, u"--linkname"_s, u"x"_s,
                            u"--title-index"_s, u"1"_s, u"--title-tag"_s, u"H1"_s, u"--content-index"_s, u"2"_s,
                            u"--content-tag"_s, u"DIV"_s, u"--parent-index"_s, u"1"_s, u"--engine"_s, engine});
    }
    for (const QStringList &args : usageErrors)
        EXPECT_EQ(run(args).status, 2) << args.join(u' ').toStdString();
    EXPECT_EQ(define(u"new"_s, u"ftp://a.cn/1"_s, u"1"_s).status, 2);
    EXPECT_EQ(define(u"new"_s, u"http://a.cn/1"_s, u"01"_s).status, 2);
    const CliResult empty = define(QString(), u"http://a.cn/1"_s, u"1"_s);
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.err.contains(u"必须输入模板名称才能保存模板。"_s));
    EXPECT_EQ(bytes(templateFile()), before);
}

// Export copies system.tpe byte for byte, and importing that copy gives a byte-identical system.tpe.
TEST_F(CliTemplatesTest, ExportThenImportIsByteIdentical)
{
    ASSERT_EQ(define(u"a"_s, u"http://a.cn/1"_s, u"1"_s).status, 0);
    ASSERT_EQ(define(u"b"_s, u"http://b.cn/1"_s, u"2"_s).status, 0);
    const QByteArray original = bytes(templateFile());
    const QString exported = m_dir.filePath(u"shared.tpe"_s);
    ASSERT_EQ(run({u"templates"_s, u"export"_s, exported}).status, 0);
    EXPECT_EQ(bytes(exported), original);

    ASSERT_EQ(run({u"templates"_s, u"delete"_s, u"a"_s}).status, 0);
    ASSERT_EQ(run({u"templates"_s, u"import"_s, exported}).status, 0);
    EXPECT_EQ(bytes(templateFile()), original);
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out, u"a\thttp://a.cn\nb\thttp://b.cn\n"_s);
}

// A hand-made file imports as it is; broken or missing files are refused and system.tpe stays untouched.
TEST_F(CliTemplatesTest, ImportRefusesBadFiles)
{
    ASSERT_EQ(run({u"templates"_s, u"import"_s, qh::test::dataPath(u"tpe-handmade.tpe"_s)}).status, 0);
    EXPECT_EQ(bytes(templateFile()), bytes(qh::test::dataPath(u"tpe-handmade.tpe"_s)));
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out,
              u"笔趣站\thttp://www.example.com\nsecond\thttp://h.example:8080\n"_s);

    const QByteArray before = bytes(templateFile());
    for (const QString &bad : {qh::test::dataPath(u"broken-tpe-badpair.tpe"_s),
                               qh::test::dataPath(u"broken-tpe-empty.tpe"_s), m_dir.filePath(u"missing.tpe"_s)}) {
        const CliResult result = run({u"templates"_s, u"import"_s, bad});
        EXPECT_EQ(result.status, 1) << bad.toStdString();
        EXPECT_FALSE(result.err.isEmpty()) << bad.toStdString();
        EXPECT_EQ(bytes(templateFile()), before) << bad.toStdString();
    }
    EXPECT_TRUE(run({u"templates"_s, u"import"_s, qh::test::dataPath(u"broken-tpe-badpair.tpe"_s)})
                    .err.contains(u"'$G7' is not a valid integer value"_s));
}

// Moves and deletes are saved; the first cannot go up, the last cannot go down, an unknown name is an error.
TEST_F(CliTemplatesTest, MoveAndDelete)
{
    for (const QString &name : {u"a"_s, u"b"_s, u"c"_s})
        ASSERT_EQ(define(name, u"http://%1.cn/1"_s.arg(name), u"1"_s).status, 0);
    const auto names = [this] { return run({u"templates"_s, u"list"_s}).out.count(u'\n'); };
    ASSERT_EQ(names(), 3);

    const QByteArray before = bytes(templateFile());
    const CliResult first = run({u"templates"_s, u"up"_s, u"a"_s});
    EXPECT_EQ(first.status, 1);
    EXPECT_TRUE(first.err.contains(u"已经是第一个，无法向上移动。"_s));
    const CliResult last = run({u"templates"_s, u"down"_s, u"c"_s});
    EXPECT_EQ(last.status, 1);
    EXPECT_TRUE(last.err.contains(u"已经是最后一个，无法向下移动。"_s));
    EXPECT_EQ(run({u"templates"_s, u"up"_s, u"nobody"_s}).status, 1);
    EXPECT_EQ(run({u"templates"_s, u"delete"_s, u"nobody"_s}).status, 1);
    EXPECT_EQ(bytes(templateFile()), before);

    EXPECT_EQ(run({u"templates"_s, u"up"_s, u"c"_s}).status, 0);
    EXPECT_EQ(run({u"templates"_s, u"down"_s, u"a"_s}).status, 0);
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out, u"c\thttp://c.cn\na\thttp://a.cn\nb\thttp://b.cn\n"_s);
    EXPECT_EQ(run({u"templates"_s, u"delete"_s, u"a"_s}).status, 0);
    EXPECT_EQ(run({u"templates"_s, u"list"_s}).out, u"c\thttp://c.cn\nb\thttp://b.cn\n"_s);
}

// Without system.tpe there are no templates: the list is empty and export has nothing to copy.
TEST_F(CliTemplatesTest, MissingStoreHoldsNoTemplates)
{
    const CliResult listed = run({u"templates"_s, u"list"_s});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, QString());
    EXPECT_EQ(run({u"templates"_s, u"export"_s, m_dir.filePath(u"out.tpe"_s)}).status, 1);
    EXPECT_FALSE(QFile::exists(m_dir.filePath(u"out.tpe"_s)));
    EXPECT_FALSE(QFile::exists(templateFile()));
}

// With a sample page at --url, define checks the positions against it, records the anchors of what they point at
// and prints what the template takes from the page; positions or a link that the page does not have are refused
// with the store left as it was.
TEST_F(CliTemplatesTest, DefineReadsTheSamplePage)
{
    const qh::demo::SampleBook book(3, 200);
    qh::demo::HttpServer server;
    server.setPage(book.chapterPath(1), book.chapterPage(1), "text/html");
    const qh::demo::TemplatePositions at = book.templatePositions();
    const QString url = server.url(book.chapterPath(1)).toString();
    const auto defineAt = [&](int title, const QString &contentTag, const QString &linkname, int parent) {
        return run({u"templates"_s, u"define"_s, u"--name"_s, u"样例"_s, u"--url"_s, url, u"--linkname"_s, linkname,
                    u"--title-index"_s, QString::number(title), u"--title-tag"_s, u"H1"_s, u"--content-index"_s,
                    QString::number(at.content), u"--content-tag"_s, contentTag, u"--parent-index"_s,
                    QString::number(parent)});
    };

    const CliResult ok = defineAt(at.title, u"DIV"_s, u"下一页"_s, at.parent);
    ASSERT_EQ(ok.status, 0) << ok.err.toStdString();
    EXPECT_TRUE(ok.out.contains(u"title: "_s + book.chapterTitle(1))) << ok.out.toStdString();
    EXPECT_TRUE(ok.out.contains(u"text: "_s + book.chapterText(1).simplified().first(10))) << ok.out.toStdString();
    EXPECT_TRUE(ok.out.contains(u"next: "_s + server.url(book.chapterPath(2)).toString())) << ok.out.toStdString();
    const QString shown = run({u"templates"_s, u"show"_s, u"样例"_s}).out;
    EXPECT_TRUE(shown.contains(u"\nsTitleAnchor=1|H1;title;;;|"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(u"\nsContentAnchor=1|DIV;content;;;|DIV;;box_con|"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(u"\nsLinkAnchor=1|A;;;;下一页|DIV;;bottem1|"_s)) << shown.toStdString();
    const QByteArray saved = bytes(templateFile());

    const struct
    {
        const char *what;
        int title;
        QString contentTag;
        QString linkname;
        int parent;
        QString says;
    } refused[] = {
        {"title tag", at.title + 1, u"DIV"_s, u"下一页"_s, at.parent, u"--title-index"_s},
        {"content tag", at.title, u"TD"_s, u"下一页"_s, at.parent, u"--content-index"_s},
        {"parent", at.title, u"DIV"_s, u"下一页"_s, at.parent - 1, u"--parent-index"_s},
        {"link", at.title, u"DIV"_s, u"下一章"_s, at.parent, u"下一章"_s},
        {"out of range", 100000, u"DIV"_s, u"下一页"_s, at.parent, u"--title-index"_s},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.what);
        const CliResult result = defineAt(c.title, c.contentTag, c.linkname, c.parent);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains(c.says)) << result.err.toStdString();
        EXPECT_EQ(bytes(templateFile()), saved);
    }
}
