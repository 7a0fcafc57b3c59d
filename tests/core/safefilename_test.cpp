#include "core/safefilename.h"

#include "common/textfile.h"
#include "core/booknaming.h"
#include "core/bookqueue.h"

#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::core;

namespace {

bool windowsAccepts(const QString &fileName)
{
    static const QString forbidden = u"\\/:*?\"<>|"_s;
    for (const QChar c : fileName) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return false;
    }
    const QString base = fileName.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList reserved = {u"CON"_s,  u"PRN"_s,  u"AUX"_s,  u"NUL"_s,
                                         u"COM1"_s, u"COM9"_s, u"LPT1"_s, u"LPT9"_s};
    return !fileName.isEmpty() && !fileName.endsWith(u' ') && !fileName.endsWith(u'.') && !reserved.contains(base);
}

} // namespace

// The safe name replaces what Windows or Linux refuse, trims spaces and dots, and defuses device names; ordinary
// Chinese names pass unchanged.
TEST(SafeFileName, MakesOneAcceptableComponent)
{
    const struct
    {
        QString name;
        QString expected;
    } cases[] = {
        {u"斗破苍穹"_s, u"斗破苍穹"_s},
        {u"第1章 开始.终"_s, u"第1章 开始.终"_s},
        {u"a|b"_s, u"a_b"_s},
        {u"a:b*c?d\"e<f>g\\h/i"_s, u"a_b_c_d_e_f_g_h_i"_s},
        {u"tab\there\x7f\u0085"_s, u"tab_here__"_s},
        {u"  .. name .. "_s, u"name"_s},
        {u"..."_s, u"_"_s},
        {u""_s, u"_"_s},
        {u"   "_s, u"_"_s},
        {u"CON"_s, u"_CON"_s},
        {u"con.txt"_s, u"_con.txt"_s},
        {u"Nul .tar.gz"_s, u"_Nul .tar.gz"_s},
        {u"COM1"_s, u"_COM1"_s},
        {u"lpt9"_s, u"_lpt9"_s},
        {u"COM10"_s, u"COM10"_s},
        {u"CONSOLE"_s, u"CONSOLE"_s},
        {u"COM0"_s, u"COM0"_s},
        {u"表情😀"_s, u"表情😀"_s},
        {u"lone"_s + QChar(0xD83D), u"lone_"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(safeFileName(c.name), c.expected) << c.name.toStdString();
}

// The text file takes the first 15 UTF-16 code units of the name, the work file the whole name.
TEST(SafeFileName, TextFileUsesTheFirstFifteenCharacters)
{
    const QString name = u"一二三四五六七八九十甲乙丙丁戊己庚辛壬癸"_s;
    EXPECT_EQ(BookFilePath(u"/save"_s, name), u"/save/一二三四五六七八九十甲乙丙丁戊.txt"_s);
    EXPECT_EQ(BookWorkFilePath(u"/data/temp"_s, name), u"/data/temp/"_s + name + u".lst"_s);
    // A folder that ends with its separator, as a drive's root does.
    EXPECT_EQ(BookFilePath(u"/"_s, u"书"_s), u"/书.txt"_s);
}

// Every hostile title gives a file directly inside the save folder, under a name Windows accepts too; creating it
// puts exactly that one entry into the folder.
TEST(SafeFileName, HostileTitlesStayInsideTheSaveFolder)
{
    const QStringList titles = {
        u"../../x"_s,        u"/etc/x"_s,  u"..\\..\\x"_s, u"CON"_s,          u"a|b"_s,       QString(300, u'长'),
        u"....."_s,          u".."_s,      u"."_s,         u"\x01\x02\r\n"_s, u"x/../../y"_s, u"~/x"_s,
        u"C:\\Windows\\x"_s, u"aux.txt"_s, u"name. . ."_s, u"\0/evil"_s};
    for (const QString &title : titles) {
        SCOPED_TRACE(title.toStdString());
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString save = dir.filePath(u"save"_s);
        ASSERT_TRUE(QDir().mkpath(save));

        for (const QString &path : {BookFilePath(save, title), BookWorkFilePath(save, title)}) {
            const QFileInfo info(path);
            EXPECT_EQ(info.absolutePath(), QFileInfo(save).absoluteFilePath());
            EXPECT_TRUE(windowsAccepts(info.fileName())) << info.fileName().toStdString();
        }

        // The work file keeps the whole name and may be too long to exist; the text file can always be made.
        const QString path = BookFilePath(save, title);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.close();
        EXPECT_EQ(QDir(save).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{QFileInfo(path).fileName()});
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{u"save"_s});
    }
}

// A new book's name is free only when no queued book has it (or begins with it) and neither a text nor an EPUB
// book of that name is in the save folder, whichever format the new book will be written as.
TEST(BookNaming, NameIsFreeWithoutEitherFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qh::core::BookQueue queue;
    queue.append({u"排队的书"_s, 0, qh::core::BookStatus::Queued, QUrl(u"http://h/1"_s)});
    qh::text::writeFileAtomically(BookFilePath(dir.path(), u"文本"_s, qh::BookFormat::Text), "x");
    qh::text::writeFileAtomically(BookFilePath(dir.path(), u"电子"_s, qh::BookFormat::Epub), "x");
    const struct
    {
        QString name;
        bool free;
    } cases[] = {{u"新书"_s, true}, {u"文本"_s, false}, {u"电子"_s, false}, {u"排队"_s, false}, {QString(), false}};
    for (const auto &c : cases)
        EXPECT_EQ(qh::core::isBookNameFree(queue, dir.path(), c.name), c.free) << c.name.toStdString();
    EXPECT_EQ(qh::core::numberedFreeBookName(queue, dir.path(), u"电子"_s), u"电子2"_s);
}
