#include "common/error.h"
#include "output/epubreader.h"
#include "output/epubwriter.h"
#include "output/zipreader.h"

#include "support/epubcheck.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace qh::output;

namespace {

// A single UTF-16 code unit, for surrogates that a string literal cannot hold alone.
QString unit(char16_t c)
{
    return QString(QChar(c));
}

EpubBook sampleBook()
{
    return {u"测试之书"_s, u"zh"_s, epubIdentifier(u"https://example.com/book/1"_s),
            QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC)};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The text of every element with the given local name, in document order.
QStringList elementTexts(const QByteArray &xml, QStringView name)
{
    QXmlStreamReader reader(xml);
    QStringList texts;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == name)
            texts.append(reader.readElementText(QXmlStreamReader::IncludeChildElements));
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return texts;
}

// Titles and texts that a hostile or careless site can produce.
QList<EpubPage> hostilePages()
{
    return {
        {u"<h1>&amp; \"引号\" 'apostrophe' </p>"_s, u"a < b && c > d\n\"quoted\" & 'single'"_s},
        {u""_s, u"无标题的一页"_s},
        {u"   "_s, u"\u00a0\u00a0\u00a0\u00a0缩进的一行\n\n\n隔了两行"_s},
        {u"控制\u0001字符\u001f"_s, u"\u0000\u0008tab\there\u000b\u000c\u0007\ufffe\uffff\u007f\u0085"_s},
        {u"𠀀𩸽 😀"_s, u"扩展区𠀀 emoji 😀\nلغة عربية מימין לשמאל \u202eRLO\u202c"_s},
        {unit(0xD800) + u"lone"_s, u"lone"_s + unit(0xDC00) + u"low"_s + unit(0xD800)},
        {u"]]> <![CDATA[ x"_s, u"<!-- not a comment -->\n<script>alert(1)</script>"_s},
    };
}

} // namespace

// Every page comes back with its title and text; only what XML cannot hold, CR and U+00A0 change.
TEST(Epub, ChaptersRoundTrip)
{
    const struct
    {
        const char *what;
        QString title;
        QString text;
        QString readTitle;
        QString readText;
    } cases[] = {
        {"markup characters", u"<b>&amp;\"'</b>"_s, u"1 < 2 & 3 > 2\n\"a\" 'b'"_s, u"<b>&amp;\"'</b>"_s,
         u"1 < 2 & 3 > 2\n\"a\" 'b'"_s},
        {"empty title", u""_s, u"正文"_s, u""_s, u"正文"_s},
        {"empty text", u"只有标题"_s, u""_s, u"只有标题"_s, u""_s},
        {"empty lines", u"空行"_s, u"\n第一行\n\n\n第四行\n"_s, u"空行"_s, u"\n第一行\n\n\n第四行\n"_s},
        {"only line breaks", u"t"_s, u"\n\n"_s, u"t"_s, u"\n\n"_s},
        {"CR LF and CR read as LF", u"t"_s, u"a\r\nb\rc\r\n"_s, u"t"_s, u"a\nb\nc\n"_s},
        {"no-break spaces", u"\u00a0章"_s, u"\u00a0\u00a0\u00a0\u00a0正文\u00a0"_s, u" 章"_s, u"    正文 "_s},
        {"spaces and tabs kept", u" t "_s, u"  \ta b  \n \t "_s, u" t "_s, u"  \ta b  \n \t "_s},
        {"controls dropped", u"a\u0001b\u001fc"_s, u"\u0000x\u0008\ty\u000b\u000c\u007f"_s, u"abc"_s, u"x\ty\u007f"_s},
        {"non-characters dropped", u"a\ufffeb"_s, u"\uffffc\ufffd"_s, u"ab"_s, u"c\ufffd"_s},
        {"unpaired surrogates dropped", unit(0xD800) + u"a"_s + unit(0xDC00),
         u"b"_s + unit(0xDBFF) + u"\n"_s + unit(0xDFFF) + u"c"_s, u"a"_s, u"b\nc"_s},
        {"outside the BMP", u"𠀀😀"_s, u"𩸽\n😀😀"_s, u"𠀀😀"_s, u"𩸽\n😀😀"_s},
        {"right to left", u"مرحبا"_s, u"שלום עולם\n\u202eabc\u202c"_s, u"مرحبا"_s, u"שלום עולם\n\u202eabc\u202c"_s},
        {"line break in title", u"上\n下"_s, u"x"_s, u"上\n下"_s, u"x"_s},
    };
    QStringList contentList;
    QList<EpubPage> expected;
    for (const auto &c : cases) {
        contentList << c.title << c.text;
        expected.append({c.readTitle, c.readText});
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(path, sampleBook(), ContentListPages(contentList));

    const QList<EpubPage> read = readEpubChapters(path);
    ASSERT_EQ(read.size(), expected.size());
    for (qsizetype i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read.at(i).title, expected.at(i).title) << cases[i].what;
        EXPECT_EQ(read.at(i).text, expected.at(i).text) << cases[i].what;
    }
}

// A content list that ends on a title (its text not grabbed yet) still gives that page, with an empty text.
TEST(Epub, ContentListWithoutLastText)
{
    const QStringList contentList{u"一"_s, u"正文"_s, u"二"_s};
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(path, sampleBook(), ContentListPages(contentList));
    EXPECT_EQ(readEpubChapters(path), (QList<EpubPage>{{u"一"_s, u"正文"_s}, {u"二"_s, u""_s}}));
}

// Both tables of contents list every page in order, and a page without a title shows "第N页".
TEST(Epub, TablesOfContentsNameEveryPage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(
        path, sampleBook(),
        QList<EpubPage>{{u"第一章 <开始>"_s, u"a"_s}, {u""_s, u"b"_s}, {u" \u0001 "_s, u"c"_s}, {u"上\n下"_s, u"d"_s}});
    const ZipReader zip(path);
    const QStringList labels{u"第一章 <开始>"_s, u"第2页"_s, u"第3页"_s, u"上 下"_s};
    EXPECT_EQ(elementTexts(zip.read(u"OEBPS/nav.xhtml"_s), u"a"), labels);
    EXPECT_EQ(elementTexts(zip.read(u"OEBPS/toc.ncx"_s), u"text").mid(1), labels); // after the book's title
    // Each chapter's <title> is its label too, never empty.
    EXPECT_EQ(elementTexts(zip.read(u"OEBPS/text/c00002.xhtml"_s), u"title"), QStringList{u"第2页"_s});
}

// The package document carries the caller's identifier, the language and the time of change in UTC to the second.
TEST(Epub, PackageMetadata)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"《书》.epub"_s);
    EpubBook book = sampleBook();
    book.title = u" "_s;
    book.modified = QDateTime(QDate(2026, 3, 4), QTime(13, 6, 7, 891), Qt::OffsetFromUTC, 8 * 3600);
    writeEpub(path, book, QList<EpubPage>{{u"t"_s, u"x"_s}});
    const QByteArray opf = ZipReader(path).read(u"OEBPS/content.opf"_s);
    EXPECT_EQ(elementTexts(opf, u"identifier"), QStringList{book.identifier});
    EXPECT_EQ(elementTexts(opf, u"title"), QStringList{u"《书》"_s}); // a blank title gives the file's name
    EXPECT_EQ(elementTexts(opf, u"language"), QStringList{u"zh"_s});
    EXPECT_EQ(elementTexts(opf, u"meta"), QStringList{u"2026-03-04T05:06:07Z"_s});
}

// The identifier depends only on the key: a rewrite keeps it, another book gets its own.
TEST(Epub, IdentifierIsStablePerKey)
{
    const QString id = epubIdentifier(u"https://example.com/a/1.html"_s);
    EXPECT_EQ(id, epubIdentifier(u"https://example.com/a/1.html"_s));
    EXPECT_NE(id, epubIdentifier(u"https://example.com/b/1.html"_s));
    EXPECT_TRUE(QRegularExpression(u"^urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-5[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s)
                    .match(id)
                    .hasMatch())
        << id.toStdString();
}

// mimetype is the first entry, stored, without extra fields: readers recognise the format by its first bytes.
TEST(Epub, MimetypeFirstAndStored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(path, sampleBook(), hostilePages());
    const QByteArray bytes = fileBytes(path);
    ASSERT_GE(bytes.size(), 58);
    const auto u16 = [&](int at) { return quint8(bytes[at]) | quint8(bytes[at + 1]) << 8; };
    EXPECT_EQ(bytes.left(4), QByteArray("PK\x03\x04"));
    EXPECT_EQ(u16(8), 0) << "compression method";
    EXPECT_EQ(u16(26), 8) << "name length";
    EXPECT_EQ(u16(28), 0) << "extra field length";
    EXPECT_EQ(bytes.mid(30, 8), QByteArray("mimetype"));
    EXPECT_EQ(bytes.mid(38, 20), QByteArray("application/epub+zip"));
}

// Writing over a book replaces it whole and keeps its permissions; no temporary stays behind.
TEST(Epub, RewriteReplacesTheBook)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(path, sampleBook(), QList<EpubPage>{{u"旧"_s, u"旧的正文"_s}});
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFile::Permissions permissions = QFile::permissions(path);
    const QList<EpubPage> pages{{u"新一"_s, u"新的正文"_s}, {u"新二"_s, u"更多"_s}};
    writeEpub(path, sampleBook(), pages);
    EXPECT_EQ(readEpubChapters(path), pages);
    EXPECT_EQ(QFile::permissions(path), permissions);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{u"book.epub"_s});
}

namespace {

// A source whose text fails part-way, as one read from a file that went away would.
class FailingPages : public PageSource
{
public:
    qsizetype count() const override { return 50; }
    QString title(qsizetype index) const override { return u"第%1章"_s.arg(index + 1); }
    QString text(qsizetype index) const override
    {
        if (index == 40)
            throw std::runtime_error("page source broke");
        return u"正文"_s.repeated(1000);
    }
};

class NoPages : public PageSource
{
public:
    qsizetype count() const override { return 0; }
    QString title(qsizetype) const override { return {}; }
    QString text(qsizetype) const override { return {}; }
};

} // namespace

// A write that fails leaves the old book byte for byte, leaves no temporary, and names the file and the cause.
TEST(Epub, FailedWriteKeepsTheOldBook)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.epub"_s);
    writeEpub(path, sampleBook(), QList<EpubPage>{{u"旧"_s, u"旧的正文"_s}});
    const QByteArray old = fileBytes(path);

    const struct
    {
        const char *what;
        std::function<void()> write;
        const char *cause;
    } cases[] = {
        {"the page source throws", [&] { writeEpub(path, sampleBook(), FailingPages()); }, "page source broke"},
        {"no pages", [&] { writeEpub(path, sampleBook(), NoPages()); }, "没有章节"},
        {"no identifier",
         [&] {
             writeEpub(path, EpubBook{u"t"_s, u"zh"_s, {}, {}}, QList<EpubPage>{{u"t"_s, {}}});
         },
         "标识"},
    };
    for (const auto &c : cases) {
        try {
            c.write();
            ADD_FAILURE() << c.what << ": no error";
        } catch (const qh::Error &error) {
            EXPECT_TRUE(error.message().contains(QDir::toNativeSeparators(path))) << error.what();
            EXPECT_TRUE(error.message().contains(QString::fromUtf8(c.cause))) << error.what();
        }
        EXPECT_EQ(fileBytes(path), old) << c.what;
        EXPECT_EQ(entriesOf(dir.path()), QStringList{u"book.epub"_s}) << c.what;
    }
}

// A folder that cannot hold the file gives an error naming the file, and nothing is created.
TEST(Epub, UnwritableFolder)
{
    QTemporaryDir dir;
    QFile plainFile(dir.filePath(u"not-a-folder"_s));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    const QString paths[] = {dir.filePath(u"missing/book.epub"_s), dir.filePath(u"not-a-folder/book.epub"_s)};
    for (const QString &path : paths) {
        try {
            writeEpub(path, sampleBook(), hostilePages());
            ADD_FAILURE() << path.toStdString() << ": no error";
        } catch (const qh::Error &error) {
            EXPECT_TRUE(error.message().contains(QDir::toNativeSeparators(path))) << error.what();
        }
    }
    EXPECT_EQ(entriesOf(dir.path()), QStringList{u"not-a-folder"_s});
}

// A file that is not an EPUB gives an error naming it instead of an empty book.
TEST(Epub, ReadingBrokenFiles)
{
    QTemporaryDir dir;
    const QString notZip = dir.filePath(u"not.epub"_s);
    QFile file(notZip);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PK\x03\x04 this is no zip");
    file.close();
    for (const QString &path : {notZip, dir.filePath(u"missing.epub"_s)}) {
        try {
            readEpubChapters(path);
            ADD_FAILURE() << path.toStdString() << ": no error";
        } catch (const qh::Error &error) {
            EXPECT_TRUE(error.message().contains(QDir::toNativeSeparators(path))) << error.what();
        }
    }
}

namespace {

// Chapters of about 6 KB, like a grabbed novel's.
class LongBook : public PageSource
{
public:
    explicit LongBook(qsizetype count) : m_count(count) {}
    qsizetype count() const override { return m_count; }
    QString title(qsizetype index) const override { return u"第%1章 标题"_s.arg(index + 1); }
    QString text(qsizetype index) const override
    {
        const QString line = u"\u00a0\u00a0\u00a0\u00a0这是第%1章的一段正文，写得很长很长。"_s.arg(index + 1);
        return QStringList(100, line).join(u"\n\n"_s);
    }

private:
    qsizetype m_count;
};

} // namespace

// epubcheck, the reference checker, finds neither errors nor warnings in a book of hostile pages and long ones.
// One book, because each run starts a Java machine; the full 2000 chapters take epubcheck minutes and are checked
// by hand.
TEST(Epub, EpubcheckFindsNothing)
{
    const QString epubcheck = qh::test::epubcheckProgram();
    if (epubcheck.isEmpty())
        GTEST_SKIP() << "epubcheck is not installed (apt-get install epubcheck)";
    QList<EpubPage> pages = hostilePages();
    const LongBook longPages(100);
    for (qsizetype i = 0; i < longPages.count(); ++i)
        pages.append({longPages.title(i), longPages.text(i)});
    QTemporaryDir dir;
    const QString path = dir.filePath(u"hostile.epub"_s);
    writeEpub(path, EpubBook{u"<书名> & \"引号\"\u0001"_s, u"zh"_s, epubIdentifier(u"hostile"_s), {}}, pages);

    const qh::test::EpubcheckResult result = qh::test::runEpubcheck(epubcheck, path);
    EXPECT_TRUE(result.clean()) << result.output.toStdString();
}
