#include "common/error.h"
#include "common/textfile.h"
#include "support/testutils.h"
#include "templates/templatefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::templates;

namespace {

// The message a call raised, or a note that it raised none.
template<typename Call> QString errorOf(Call call)
{
    try {
        call();
    } catch (const qh::Error &error) {
        return error.message();
    }
    return u"(no error)"_s;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The store of tpe-handmade.tpe, written by hand in the format's plain layout.
const QStringList HandmadeLines = {
    u"@@@@@@@@@@"_s,
    u"name=笔趣站"_s,
    u"head=http://www.example.com"_s,
    u"linkname=下一页"_s,
    u"ititleindex=12"_s,
    u"icontentindex=40"_s,
    u"iparentindex=39"_s,
    u"sContentTagname=DIV"_s,
    u"sTitleTagname=H1"_s,
    u"@@@@@@@@@@"_s,
    u"name=second"_s,
    u"head=http://h.example:8080"_s,
    u"linkname=<a href=\"x\">next</a>"_s,
    u"ititleindex=3"_s,
    u"icontentindex=5"_s,
    u"iparentindex=4"_s,
    u"sContentTagname=TD"_s,
    u"sTitleTagname=SPAN"_s,
};

class TemplateFileTest : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

} // namespace

// The worked example of the format: "ab" CR LF with seed 0x10 and key byte 'u', in either letter case.
TEST(ScrambleTest, UnscramblesAHandComputedText)
{
    EXPECT_EQ(UnscrambleText("100413552A"), QByteArray("ab\r\n"));
    EXPECT_EQ(UnscrambleText("100413552a"), QByteArray("ab\r\n"));
}

// Every byte GBK text can hold reads back unchanged, the output is the seed plus two upper-case digits per byte.
TEST(ScrambleTest, RoundTripsEveryByteFrom01ToFE)
{
    QByteArray plain;
    for (int b = 0x01; b <= 0xFE; ++b)
        plain.append(char(b));
    plain += plain;
    const QByteArray digits = ScrambleText(plain);
    EXPECT_EQ(digits.size(), 2 + 2 * plain.size());
    EXPECT_TRUE(std::all_of(digits.begin(), digits.end(),
                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }));
    EXPECT_EQ(UnscrambleText(digits), plain);
}

// A new seed per call: the same text scrambles differently but reads back the same.
TEST(ScrambleTest, DrawsANewSeedEachTime)
{
    const QByteArray plain("name=a\r\n");
    QSet<QByteArray> seen;
    for (int i = 0; i < 8; ++i) {
        const QByteArray digits = ScrambleText(plain);
        EXPECT_EQ(UnscrambleText(digits), plain);
        seen.insert(digits);
    }
    EXPECT_GT(seen.size(), 1);
}

// The modulus is 255: a 0x00 byte comes back as 0xFF, since nothing tells the two apart.
TEST(ScrambleTest, ZeroByteReadsBackAsFF)
{
    const QByteArray digits = "00" + QByteArray(1, char(0x00 ^ 'u')).toHex();
    EXPECT_EQ(UnscrambleText(digits), QByteArray(1, char(0xFF)));
}

// Seed alone is the empty text; a lone digit at the end is ignored.
TEST(ScrambleTest, IgnoresATrailingSingleDigit)
{
    EXPECT_EQ(UnscrambleText("7F"), QByteArray());
    EXPECT_EQ(UnscrambleText("1004135"), QByteArray("ab"));
}

// Anything that is not a pair of hex digits stops the load with the conversion error naming the digits, rather
// than being skipped as QByteArray::fromHex would.
TEST(ScrambleTest, RejectsPairsThatAreNotHexDigits)
{
    const struct
    {
        QByteArray digits;
        QString message;
    } cases[] = {
        {"", u"'$' is not a valid integer value"_s},
        {"A", u"'$A' is not a valid integer value"_s},
        {"G0", u"'$G0' is not a valid integer value"_s},
        {"1004 3552A", u"'$ 3' is not a valid integer value"_s},
        {"10+1", u"'$+1' is not a valid integer value"_s},
        {"10x1", u"'$x1' is not a valid integer value"_s},
        {"10\xE4\xB8", u"'$\\xe4\\xb8' is not a valid integer value"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(errorOf([&] { UnscrambleText(c.digits); }), c.message) << c.digits.toStdString();
}

// Integer values: decimal with sign; anything else is the conversion error with the value itself.
TEST(TemplateIntTest, ConvertsDecimalAndRejectsTheRest)
{
    EXPECT_EQ(toTemplateInt(u"12"_s), 12);
    EXPECT_EQ(toTemplateInt(u"-1"_s), -1);
    EXPECT_EQ(toTemplateInt(u"0"_s), 0);
    for (const QString &bad : {u"x"_s, u""_s, u"12a"_s, u"0x10"_s, u"99999999999"_s})
        EXPECT_EQ(errorOf([&] { toTemplateInt(bad); }), u"'%1' is not a valid integer value"_s.arg(bad));
}

// A file made by hand in lower-case digits, broken over lines of any length with LF and CR LF ends, loads.
TEST_F(TemplateFileTest, LoadsAHandmadeFile)
{
    EXPECT_EQ(LoadTemplateFile(qh::test::dataPath(u"tpe-handmade.tpe"_s)).lines(), HandmadeLines);
}

// What SaveTemplateFile writes reads back identically: Chinese text, "=" in values, unknown keys, keyless lines.
TEST_F(TemplateFileTest, SavedFileReadsBackIdentically)
{
    QStringList lines = HandmadeLines;
    lines << u"sEngine=static"_s << u"a line without a key"_s << u"linkname=a=b==c"_s << u"name=生僻字𠀀"_s;
    const TemplateStore store(lines);
    SaveTemplateFile(path(u"system.tpe"_s), store);
    EXPECT_EQ(LoadTemplateFile(path(u"system.tpe"_s)), store);

    // One line of upper-case digits and CR LF, no byte-order mark.
    const QByteArray bytes = fileBytes(path(u"system.tpe"_s));
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count('\n'), 1);
    EXPECT_EQ(bytes.toUpper(), bytes);
    EXPECT_EQ(bytes.size(), 2 + 2 * qh::text::joinLines(lines).size() + 2);
}

// An empty store is four bytes on disk and loads as an empty store.
TEST_F(TemplateFileTest, EmptyStoreIsFourBytes)
{
    SaveTemplateFile(path(u"empty.tpe"_s), TemplateStore());
    EXPECT_EQ(fileBytes(path(u"empty.tpe"_s)).size(), 4);
    EXPECT_TRUE(LoadTemplateFile(path(u"empty.tpe"_s)).isEmpty());
}

// A value holding a line break is written as it is; on the next load the text after the break is a keyless line.
TEST_F(TemplateFileTest, LineBreakInAValueSplitsOnReload)
{
    TemplateStore store({u"@@@@@@@@@@"_s, u"name=a"_s, u"head=http://h"_s});
    store.WriteTemplateParam(u"a"_s, QString(), u"linkname"_s, u"<b>next\npage</b>"_s);
    store.WriteTemplateParam(u"a"_s, QString(), u"ititleindex"_s, u"5"_s);
    SaveTemplateFile(path(u"system.tpe"_s), store);
    const TemplateStore loaded = LoadTemplateFile(path(u"system.tpe"_s));
    EXPECT_EQ(loaded.lines(), (QStringList{u"@@@@@@@@@@"_s, u"name=a"_s, u"head=http://h"_s, u"linkname=<b>next"_s,
                                           u"page</b>"_s, u"ititleindex=5"_s}));
    QString name = u"a"_s;
    EXPECT_EQ(loaded.ReadTemplateParam(QString(), u"ititleindex"_s, name), u"5"_s);
}

// Broken files end in the conversion error, never in a partial store.
TEST_F(TemplateFileTest, BrokenFilesRaiseTheConversionError)
{
    const struct
    {
        const char16_t *file;
        QString message;
    } cases[] = {
        {u"broken-tpe-empty.tpe", u"'$' is not a valid integer value"_s},
        {u"broken-tpe-seed-only-digit.tpe", u"'$A' is not a valid integer value"_s},
        {u"broken-tpe-badpair.tpe", u"'$G7' is not a valid integer value"_s},
        {u"broken-tpe-utf8-text.tpe", u"'$na' is not a valid integer value"_s},
    };
    for (const auto &c : cases) {
        const QString file = QString::fromUtf16(c.file);
        EXPECT_EQ(errorOf([&] { LoadTemplateFile(qh::test::dataPath(file)); }), c.message) << file.toStdString();
    }
}

// A file over 16 MiB is refused before it is read whole; a missing file is an error naming it.
TEST_F(TemplateFileTest, RefusesHugeAndMissingFiles)
{
    QFile huge(path(u"huge.tpe"_s));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(MaxTemplateFileBytes + 1));
    huge.close();
    EXPECT_TRUE(errorOf([&] { LoadTemplateFile(path(u"huge.tpe"_s)); }).contains(u"huge.tpe"_s));
    EXPECT_TRUE(errorOf([&] { LoadTemplateFile(path(u"missing.tpe"_s)); }).contains(u"missing.tpe"_s));
}

// A save into a folder that does not exist fails with an error naming the file and leaves nothing behind.
TEST_F(TemplateFileTest, FailedSaveNamesTheFile)
{
    const QString target = path(u"no-such-folder/system.tpe"_s);
    EXPECT_TRUE(errorOf([&] { SaveTemplateFile(target, TemplateStore(HandmadeLines)); }).contains(u"system.tpe"_s));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}
