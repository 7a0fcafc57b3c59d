#include "settings/appsettings.h"

#include "common/textfile.h"
#include "settings/inifile.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::settings;
using qh::text::Encoding;

namespace {

// A temporary copy of a fixture, so that the test may write it.
QString copyOfFixture(const QTemporaryDir &dir, const QString &fixture)
{
    const QString path = dir.filePath(u"SysCfg.ini"_s);
    EXPECT_TRUE(QFile::copy(qh::test::dataPath(fixture), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

struct ValueCase
{
    const char16_t *text;
    bool autoDownload;
};

class AutoDownloadValue : public ::testing::TestWithParam<ValueCase>
{};

} // namespace

// "autodown" is an integer, decimal or hexadecimal after "0x" or "$": only zero means no, and an empty or
// non-numeric value means yes.
TEST_P(AutoDownloadValue, ZeroIsNoEverythingElseYes)
{
    EXPECT_EQ(readAutoDownload(QString::fromUtf16(GetParam().text)), GetParam().autoDownload);
}

INSTANTIATE_TEST_SUITE_P(Table, AutoDownloadValue,
                         ::testing::Values(ValueCase{u"0", false}, ValueCase{u"000", false}, ValueCase{u"-0", false},
                                           ValueCase{u"0x0", false}, ValueCase{u"0X00", false}, ValueCase{u"$0", false},
                                           ValueCase{u"1", true}, ValueCase{u"-1", true}, ValueCase{u"0x10", true},
                                           ValueCase{u"$a", true}, ValueCase{u"99999999999999999999", true},
                                           ValueCase{u"", true}, ValueCase{u"abc", true}, ValueCase{u"0x", true},
                                           ValueCase{u"$", true}, ValueCase{u"0 0", true}, ValueCase{u"0a", true},
                                           ValueCase{u"０", true}));

// "pagedelay" takes non-negative decimal milliseconds; negatives, garbage and overflow give the default 0.
TEST(AppSettings, PageDelayRejectsAnythingButADecimalNumber)
{
    const struct
    {
        QString text;
        int expected;
    } cases[] = {{u"0"_s, 0},   {u"1500"_s, 1500}, {u"-5"_s, 0},          {u"+5"_s, 0},  {u"1e3"_s, 0},
                 {u"abc"_s, 0}, {u""_s, 0},        {u"99999999999"_s, 0}, {u"0x10"_s, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(readPageDelay(c.text), c.expected) << c.text.toStdString();
}

// "encoding" is "utf-8" for UTF-8 in any case; every other value keeps the GB18030 default.
TEST(AppSettings, EncodingDefaultsToGb18030)
{
    EXPECT_EQ(readEncoding(u"utf-8"_s), Encoding::Utf8);
    EXPECT_EQ(readEncoding(u"UTF8"_s), Encoding::Utf8);
    for (const QString &other : {u"gb18030"_s, u""_s, u"latin1"_s, u"utf-16"_s})
        EXPECT_EQ(readEncoding(other), Encoding::Gb18030) << other.toStdString();
}

// Without a file every setting has its default, the save folder under the documents folder, and nothing is
// written.
TEST(AppSettings, MissingFileGivesDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"SysCfg.ini"_s);
    const AppSettings settings = LoadSettings(path, u"/home/u/Documents"_s);
    EXPECT_EQ(settings.SavePath, QDir::toNativeSeparators(u"/home/u/Documents/我抓的书"_s));
    EXPECT_TRUE(settings.Proxy.isEmpty());
    EXPECT_TRUE(settings.ProxyPort.isEmpty());
    EXPECT_TRUE(settings.AutoDownload);
    EXPECT_EQ(settings.BookEncoding, Encoding::Gb18030);
    EXPECT_EQ(settings.PageDelay, 0);
    EXPECT_FALSE(QFileInfo::exists(path));
}

// The documents folder comes from the platform and is created when missing; the default save folder lies in it.
TEST(AppSettings, DocumentsFolderIsCreated)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(u"config"_s)));

    const QString documents = DocumentsFolder();
    const AppSettings settings = LoadSettings(home.filePath(u"SysCfg.ini"_s));

    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);

    EXPECT_TRUE(documents.startsWith(QDir::toNativeSeparators(home.path())));
    EXPECT_TRUE(QFileInfo(documents).isDir());
    EXPECT_EQ(settings.SavePath, defaultSavePath(documents));
}

// A file written by the old program reads as it meant it, and saving adds only the new keys at the end of its
// section: every other line stays byte for byte.
TEST(AppSettings, LegacyFileKeepsItsLines)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = copyOfFixture(dir, u"cfg-legacy.ini"_s);
    const QByteArray before = qh::text::readFile(path);

    const AppSettings settings = LoadSettings(path, u"/unused"_s);
    EXPECT_EQ(settings.SavePath, u"C:\\Documents and Settings\\用户\\My Documents\\我抓的书"_s);
    EXPECT_EQ(settings.Proxy, u"..."_s);
    EXPECT_TRUE(settings.ProxyPort.isEmpty());
    EXPECT_FALSE(settings.AutoDownload);

    SaveSettings(path, settings);
    QStringList lines = qh::text::readLines(path);
    const qsizetype at = lines.indexOf(u"skin=经典"_s) + 1;
    ASSERT_GT(at, 0);
    EXPECT_EQ(lines.mid(at, 3), (QStringList{u"encoding=gb18030"_s, u"pagedelay=0"_s, u"format=text"_s}));
    lines.remove(at, 3);
    EXPECT_EQ(qh::text::joinLines(lines), before);
}

// A file that already holds all seven keys is rewritten byte for byte when nothing changed, whatever case its
// section and keys are spelled in.
TEST(AppSettings, UnchangedSettingsRewriteTheSameBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = copyOfFixture(dir, u"cfg-full.ini"_s);
    const QByteArray before = qh::text::readFile(path);

    const AppSettings settings = LoadSettings(path, u"/unused"_s);
    EXPECT_EQ(settings.SavePath, u"D:\\我的文档\\我抓的书"_s);
    EXPECT_EQ(settings.BookEncoding, Encoding::Utf8);
    EXPECT_EQ(settings.PageDelay, 1500);
    EXPECT_EQ(settings.OutputFormat, qh::BookFormat::Epub);
    SaveSettings(path, settings);

    EXPECT_EQ(qh::text::readFile(path), before);
}

// A new file holds section "system" with the keys in their fixed order; an empty masked proxy field stores its
// dots and the empty port stays empty.
TEST(AppSettings, NewFileHoldsTheKeysInOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"SysCfg.ini"_s);
    AppSettings settings;
    settings.SavePath = u"/home/u/我抓的书"_s;
    settings.Proxy = StripSpaces(u"   .   .   .   "_s);
    settings.ProxyPort = StripSpaces(u"     "_s);
    SaveSettings(path, settings);

    EXPECT_EQ(qh::text::readLines(path),
              (QStringList{u"[system]"_s, u"savepath=/home/u/我抓的书"_s, u"proxy=..."_s, u"proxyport="_s,
                           u"autodown=1"_s, u"encoding=gb18030"_s, u"pagedelay=0"_s, u"format=text"_s}));
}

// Whatever the settings hold, they read back identically from the file they were saved to.
TEST(AppSettings, RoundTrip)
{
    AppSettings odd;
    odd.SavePath = u"  /tmp/书 名/😀\"引号\"  "_s;
    odd.Proxy = u"10.0.0.1"_s;
    odd.ProxyPort = u"3128"_s;
    odd.AutoDownload = false;
    odd.BookEncoding = Encoding::Utf8;
    odd.OutputFormat = qh::BookFormat::Epub;
    odd.PageDelay = 2500;
    AppSettings root;
    root.SavePath = u"/"_s;

    for (const AppSettings &settings : {odd, root, AppSettings{u"D:\\"_s, {}, {}, true, Encoding::Gb18030, 0}}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(u"SysCfg.ini"_s);
        SaveSettings(path, settings);
        EXPECT_EQ(LoadSettings(path, u"/unused"_s), settings) << settings.SavePath.toStdString();
    }
}

// StripSpaces removes spaces only; dots and other characters stay.
TEST(AppSettings, StripSpacesKeepsDots)
{
    EXPECT_EQ(StripSpaces(u" 1.  2 .3\t. 4 "_s), u"1.2.3\t.4"_s);
}
