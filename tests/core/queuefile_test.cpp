#include "core/queuefile.h"

#include "common/textfile.h"
#include "core/bookqueue.h"
#include "support/testutils.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::core;

namespace {

class BookListFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(u"downlist.dat"_s);
    }

    void writeRaw(const QByteArray &bytes) { qh::text::writeFileAtomically(m_path, bytes); }

    QTemporaryDir m_dir;
    QString m_path;
    const BookEntry m_existing{u"已有"_s, 3, BookStatus::Queued, QUrl(u"http://old/3.html"_s)};
};

} // namespace

// NthField cuts at every "|"; without one it is empty, and past the last piece it gives the one before the last.
TEST(NthField, FollowsTheSeparatorRules)
{
    const struct
    {
        QString line;
        int n;
        QString expected;
    } cases[] = {
        {u"no separator"_s, 0, u""_s},
        {u""_s, 0, u""_s},
        {u"a|b|c|d"_s, 0, u"a"_s},
        {u"a|b|c|d"_s, 3, u"d"_s},
        {u"a|b|c"_s, 2, u"c"_s},
        {u"a|b|c"_s, 3, u"b"_s},
        {u"a|b"_s, 3, u"a"_s},
        {u"a|b|c|d|e"_s, 3, u"d"_s},
        {u"|"_s, 0, u""_s},
        {u"|"_s, 1, u""_s},
        {u"a||d"_s, 1, u""_s},
        {u"书|页"_s, 5, u"书"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(NthField(c.line, c.n), c.expected) << c.line.toStdString() << " #" << c.n;
}

// Each line becomes a row: "下载中" is read back as "排队中", a line without "|" gives empty fields (a count that is
// no number reads as -1, a word the program does not know as an unknown status), a blank line gives no row, and a
// short line repeats its second field as the address. Rows read back as they were are written as they were read.
TEST_F(BookListFile, LoadTurnsLinesIntoRows)
{
    const QStringList lines = {u"a|0|下载中|u"_s, u"no separator"_s, u"a|b|c"_s, QString(),
                               u"书|7|已下载|http://x/?q=1|2"_s};
    writeRaw(qh::text::joinLines(lines));
    BookQueue model;
    model.append(m_existing);
    LoadBookList(model, m_path);

    const BookEntry empty{QString(), -1, BookStatus::Unknown, QUrl()};
    EXPECT_EQ(model.entries(), (QList<BookEntry>{{u"a"_s, 0, BookStatus::Queued, QUrl(u"u"_s)},
                                                 empty,
                                                 {u"a"_s, -1, BookStatus::Unknown, QUrl(u"b"_s)},
                                                 {u"书"_s, 7, BookStatus::Downloaded, QUrl(u"http://x/?q=1"_s)}}));

    SaveBookList(model, m_path);
    QStringList saved = lines;
    saved[0] = u"a|0|排队中|u"_s;
    saved.removeAt(3);
    EXPECT_EQ(qh::text::readFile(m_path), qh::text::joinLines(saved));
}

// A missing file, an empty one and one of blank lines only leave the rows as they were.
TEST_F(BookListFile, LoadKeepsTheRowsWhenThereIsNothingToLoad)
{
    const QList<QByteArray> contents = {QByteArray(), "\r\n", " \t\x01\r\n\r\n"};
    BookQueue model;
    model.append(m_existing);

    LoadBookList(model, m_path);
    EXPECT_EQ(model.entries(), QList<BookEntry>{m_existing});
    for (const QByteArray &bytes : contents) {
        writeRaw(bytes);
        LoadBookList(model, m_path);
        EXPECT_EQ(model.entries(), QList<BookEntry>{m_existing}) << bytes.toHex().toStdString();
    }
}

// A GBK list written by the old program loads and saves back byte for byte, placeholder row and untrimmed
// address included.
TEST_F(BookListFile, GbkListRoundTripsByteForByte)
{
    ASSERT_TRUE(QFile::copy(qh::test::dataPath(u"list-sample.dat"_s), m_path));
    const QByteArray before = qh::text::readFile(m_path);
    BookQueue model;
    LoadBookList(model, m_path);
    ASSERT_EQ(model.size(), 3);
    EXPECT_EQ(model.entry(0),
              (BookEntry{u"斗破苍穹"_s, 12, BookStatus::Queued, QUrl(u"http://www.example.com/book/1/12.html"_s)}));
    EXPECT_EQ(model.entry(2).BookName, ProbingCaption);
    EXPECT_EQ(model.entry(2).CurrentUrl, QUrl(u"http://www.example.com/new.html"_s));

    const QString copy = m_dir.filePath(u"copy.dat"_s);
    SaveBookList(model, copy);
    EXPECT_EQ(qh::text::readFile(copy), before);
}

// Whatever enters the list, including "|" and characters GBK lacks, reads back as the rows were; an empty list
// is an empty file.
TEST_F(BookListFile, SavedRowsReadBackIdentically)
{
    BookQueue model;
    model.append({u"名|字"_s, 0, BookStatus::Queued, QUrl(u"http://h/a|b"_s)});
    model.append({u"表情😀书"_s, 5, BookStatus::Downloading, QUrl(u"http://h/5.html"_s)});
    SaveBookList(model, m_path);
    EXPECT_EQ(qh::text::readFile(m_path),
              qh::text::joinLines({u"名｜字|0|排队中|http://h/a%7Cb"_s, u"表情😀书|5|下载中|http://h/5.html"_s}));

    BookQueue loaded;
    LoadBookList(loaded, m_path);
    QList<BookEntry> expected = model.entries();
    expected[1].Status = BookStatus::Queued;
    EXPECT_EQ(loaded.entries(), expected);

    writeBookList(BookQueue(), m_path);
    EXPECT_TRUE(QFileInfo::exists(m_path));
    EXPECT_EQ(QFileInfo(m_path).size(), 0);
}

// A row read back as queued again is written anew; with an address that does not parse, it reads back as it was
// loaded, without one (found by the list file's fuzz target; its input is fuzz/corpus/booklist/invalid-address.dat).
TEST_F(BookListFile, ARowWithAnInvalidAddressReadsBackAsLoaded)
{
    writeRaw(qh::text::joinLines({u"书|0|下载中|http://www&example.com/read.php?id=7"_s}));
    BookQueue loaded;
    LoadBookList(loaded, m_path);
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_TRUE(loaded.entry(0).CurrentUrl.isEmpty());
    writeBookList(loaded, m_path);
    BookQueue reloaded;
    LoadBookList(reloaded, m_path);
    EXPECT_EQ(reloaded.entries(), loaded.entries());
}

// Blank lines hold no book: one at the top no longer hides the books below it (which the next add then overwrote),
// and one at the end adds no empty row that would block the queue.
TEST_F(BookListFile, BlankLinesAreSkipped)
{
    writeRaw(
        " \t\x01\r\nb|1|\xc5\xc5\xb6\xd3\xd6\xd0|http://h/1\r\n\r\nc|2|\xc5\xc5\xb6\xd3\xd6\xd0|http://h/2\r\n\r\n");
    BookQueue model;
    LoadBookList(model, m_path);
    EXPECT_EQ(model.entries(), (QList<BookEntry>{{u"b"_s, 1, BookStatus::Queued, QUrl(u"http://h/1"_s)},
                                                 {u"c"_s, 2, BookStatus::Queued, QUrl(u"http://h/2"_s)}}));
}

// A book another process added to the file meanwhile (the window and the command line may run at once) survives
// this queue's next save; a book this queue removed does not come back.
TEST_F(BookListFile, SaveKeepsBooksAddedByAnotherProcess)
{
    BookQueue mine;
    mine.append({u"甲"_s, 0, BookStatus::Queued, QUrl(u"http://h/a"_s)});
    mine.append({u"乙"_s, 0, BookStatus::Queued, QUrl(u"http://h/b"_s)});
    SaveBookList(mine, m_path);

    BookQueue other;
    LoadBookList(other, m_path);
    other.append({u"丙"_s, 0, BookStatus::Queued, QUrl(u"http://h/c"_s)});
    SaveBookList(other, m_path);

    mine.remove(1);
    mine.setPagesDone(0, 4);
    SaveBookList(mine, m_path);
    BookQueue reloaded;
    LoadBookList(reloaded, m_path);
    EXPECT_EQ(reloaded.entries(), (QList<BookEntry>{{u"甲"_s, 4, BookStatus::Queued, QUrl(u"http://h/a"_s)},
                                                    {u"丙"_s, 0, BookStatus::Queued, QUrl(u"http://h/c"_s)}}));
}

// A book's format rides in a fifth field that only books other than text have: a text book's line is as every
// version wrote it, an older reader's NthField still finds the four fields of an EPUB book's line, and the format
// reads back; a fifth field that names no format (a line some other program wrote) is a text book.
TEST(QueueLine, KeepsTheFormatWhereOlderReadersPassOverIt)
{
    BookEntry epub{u"书"_s, 4, BookStatus::Queued, QUrl(u"http://x/4.html"_s)};
    epub.Format = BookFormat::Epub;
    const QString line = formatQueueLine(epub);
    EXPECT_EQ(line, u"书|4|排队中|http://x/4.html|epub"_s);
    const QStringList four = {u"书"_s, u"4"_s, u"排队中"_s, u"http://x/4.html"_s};
    for (int field = 0; field < 4; ++field)
        EXPECT_EQ(NthField(line, field), four.at(field)) << field;
    EXPECT_EQ(parseQueueLine(line), epub);

    const BookEntry text{u"书"_s, 4, BookStatus::Queued, QUrl(u"http://x/4.html"_s)};
    EXPECT_EQ(formatQueueLine(text), u"书|4|排队中|http://x/4.html"_s);
    EXPECT_EQ(parseQueueLine(u"书|4|排队中|http://x/4.html|2"_s), text);
    // Four fields: NthField(4) would give the status word again, which must not be taken for a format.
    EXPECT_EQ(parseQueueLine(u"书|4|epub|http://x/4.html"_s).Format, BookFormat::Text);
}
