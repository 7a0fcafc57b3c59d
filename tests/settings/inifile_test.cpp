#include "settings/inifile.h"

#include "common/error.h"
#include "common/textfile.h"
#include "support/testutils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::StringLiterals;
using qh::settings::IniFile;

namespace {

const QStringList SampleLines = {
    u"orphan=before any section"_s,
    u"; a comment"_s,
    u"[First]"_s,
    u"Name = spaced value \t"_s,
    u"name=second of the same key"_s,
    u"quoted=\"  kept  \""_s,
    u"single='x'"_s,
    u"half=\"open"_s,
    u"  [ second ]  "_s,
    u"path=C:\\书\\我抓的书"_s,
    u"wide=末尾全角空格　"_s,
    u"empty="_s,
    u"no equals sign"_s,
    u"[first]"_s,
    u"late=in a repeated section"_s,
};

struct LookupCase
{
    const char16_t *section;
    const char16_t *key;
    std::optional<QString> expected;
};

class IniLookup : public ::testing::TestWithParam<LookupCase>
{};

} // namespace

// Keys and sections match without regard to case, the first of equal ones wins, blanks around the value and one
// pair of enclosing quotes go, other Unicode spaces stay, and lines outside the section do not count.
TEST_P(IniLookup, FindsValuesAsWindowsProfileFunctionsDo)
{
    const LookupCase &c = GetParam();
    const IniFile ini(SampleLines);
    EXPECT_EQ(ini.value(QString::fromUtf16(c.section), QString::fromUtf16(c.key)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniLookup,
    ::testing::Values(LookupCase{u"first", u"NAME", u"spaced value"_s}, LookupCase{u"FIRST", u"quoted", u"  kept  "_s},
                      LookupCase{u"first", u"single", u"x"_s}, LookupCase{u"first", u"half", u"\"open"_s},
                      LookupCase{u"Second", u"path", u"C:\\书\\我抓的书"_s},
                      LookupCase{u"second", u"wide", u"末尾全角空格　"_s}, LookupCase{u"second", u"empty", QString()},
                      LookupCase{u"second", u"name", std::nullopt}, LookupCase{u"first", u"late", std::nullopt},
                      LookupCase{u"first", u"orphan", std::nullopt}, LookupCase{u"missing", u"name", std::nullopt}));

// Setting an existing key rewrites only that line and keeps the key as the file spells it.
TEST(IniFile, ReplacesAnExistingKeyInPlace)
{
    IniFile ini(SampleLines);
    ini.setValue(u"FIRST"_s, u"name"_s, u"新值"_s);
    QStringList expected = SampleLines;
    expected[3] = u"Name =新值"_s;
    EXPECT_EQ(ini.lines(), expected);
}

// A new key goes after the section's last non-blank line, so the blank line before the next section stays there.
TEST(IniFile, AddsAMissingKeyAtTheEndOfItsSection)
{
    IniFile ini({u"[system]"_s, u"a=1"_s, u"; note"_s, QString(), u"[other]"_s, u"b=2"_s});
    ini.setValue(u"system"_s, u"pagedelay"_s, u"0"_s);
    EXPECT_EQ(ini.lines(),
              (QStringList{u"[system]"_s, u"a=1"_s, u"; note"_s, u"pagedelay=0"_s, QString(), u"[other]"_s, u"b=2"_s}));
}

// A missing section is created at the end of the file, after a blank line when the file does not end with one.
TEST(IniFile, CreatesAMissingSectionAtTheEnd)
{
    IniFile empty;
    empty.setValue(u"system"_s, u"autodown"_s, u"1"_s);
    EXPECT_EQ(empty.lines(), (QStringList{u"[system]"_s, u"autodown=1"_s}));

    IniFile other({u"[other]"_s, u"b=2"_s});
    other.setValue(u"system"_s, u"autodown"_s, u"1"_s);
    EXPECT_EQ(other.lines(), (QStringList{u"[other]"_s, u"b=2"_s, QString(), u"[system]"_s, u"autodown=1"_s}));
}

// Values that reading would change (blanks at the ends, enclosing quotes) are quoted on writing and read back as
// given, through the file and its GB18030 encoding.
TEST(IniFile, EveryValueReadsBackAsWritten)
{
    const QStringList values = {
        u""_s,   u"plain"_s, u" leading"_s,        u"trailing\t"_s, u"\"quoted\""_s,   u"'single'"_s,
        u"\""_s, u"a=b=c"_s, u"[not a section]"_s, u"D:\\书 \\"_s,  u"表情😀与全角　"_s};
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"SysCfg.ini"_s);
    IniFile ini;
    for (qsizetype i = 0; i < values.size(); ++i)
        ini.setValue(u"system"_s, u"key"_s + QString::number(i), values.at(i));
    ini.save(path);

    const IniFile read = IniFile::load(path);
    for (qsizetype i = 0; i < values.size(); ++i)
        EXPECT_EQ(read.value(u"system"_s, u"key"_s + QString::number(i)), values.at(i)) << i;
}

// A line break in a value would split its line and plant a line of its own, so it is refused.
TEST(IniFile, RefusesValuesWithLineBreaks)
{
    for (const QString &value : {u"a\nsection=x"_s, u"a\r[evil]"_s}) {
        IniFile ini({u"[system]"_s, u"proxy=1"_s});
        EXPECT_THROW(ini.setValue(u"system"_s, u"proxy"_s, value), qh::Error);
        EXPECT_EQ(ini.lines(), (QStringList{u"[system]"_s, u"proxy=1"_s}));
    }
}

// A missing file is an empty document rather than an error.
TEST(IniFile, MissingFileIsEmpty)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(IniFile::load(dir.filePath(u"none.ini"_s)).lines().isEmpty());
}
