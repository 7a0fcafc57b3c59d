#include "core/finishedbooks.h"

#include "common/textfile.h"

#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace qh;
using core::FinishedBook;

namespace {

class FinishedBooksTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString listFile() const { return folder.filePath(u"finished.dat"_s); }

    // A record of a book file made for it.
    FinishedBook book(const QString &name, const QString &fileName)
    {
        FinishedBook book;
        book.name = name;
        book.file = folder.filePath(fileName);
        text::writeFileAtomically(book.file, "第一章\r\n正文\r\n");
        book.pages = 1;
        book.bytes = QFileInfo(book.file).size();
        book.endMark = core::fileEndMark(book.file, book.bytes);
        book.lastPage = QUrl(u"http://127.0.0.1/book/1.html"_s);
        book.updated = QDateTime(QDate(2026, 3, 1), QTime(8, 30, 5), QTimeZone::utc());
        return book;
    }

    QTemporaryDir folder;
};

} // namespace

// Every field reads back as it was saved, whatever the text: a path with a tab or spaces, an address with a query,
// a named template, UTF-8 and EPUB books, Chinese names.
TEST_F(FinishedBooksTest, ReadsBackWhatItSaved)
{
    core::FinishedBooks books;
    FinishedBook plain = book(u"样例"_s, u"样例.txt"_s);
    books.record(plain);
    FinishedBook odd = book(u"Odd name"_s, u"a\tb c.txt"_s);
    odd.encoding = text::Encoding::Utf8;
    odd.format = core::BookFormat::Epub;
    odd.templateName = u"书海阁"_s;
    odd.lastPage = QUrl(u"http://127.0.0.1:8080/read.php?id=12&page=2"_s);
    odd.pages = 2345;
    books.record(odd);
    core::saveFinishedBooks(books, listFile());

    const core::FinishedBooks read = core::loadFinishedBooks(listFile());
    ASSERT_EQ(read.books().size(), 2);
    EXPECT_EQ(read.books().at(0), plain);
    EXPECT_EQ(read.books().at(1), odd);
    // The text helpers read the file: UTF-8, CR LF, a line a book.
    EXPECT_EQ(text::readLines(listFile(), text::Encoding::Utf8).size(), 2);
    EXPECT_TRUE(text::readFile(listFile()).endsWith("\r\n"));
}

// A book finished again under its name replaces its record rather than adding one.
TEST_F(FinishedBooksTest, ABookIsRecordedOnce)
{
    core::FinishedBooks books;
    FinishedBook first = book(u"样例"_s, u"样例.txt"_s);
    books.record(first);
    books.record(book(u"别的"_s, u"别的.txt"_s));
    first.pages = 12;
    books.record(first);
    ASSERT_EQ(books.books().size(), 2);
    EXPECT_EQ(books.find(u"样例"_s)->pages, 12);
    EXPECT_TRUE(books.remove(u"样例"_s));
    EXPECT_EQ(books.find(u"样例"_s), nullptr);
    EXPECT_FALSE(books.remove(u"样例"_s));
}

// A book whose file has been deleted is left out when the list is read, and named; lines that hold no book (a
// damaged or cut line) are skipped.
TEST_F(FinishedBooksTest, ReadingDropsBooksWhoseFilesAreGone)
{
    core::FinishedBooks books;
    books.record(book(u"留着"_s, u"留着.txt"_s));
    books.record(book(u"删了"_s, u"删了.txt"_s));
    core::saveFinishedBooks(books, listFile());
    QFile::remove(folder.filePath(u"删了.txt"_s));
    QStringList lines = text::readLines(listFile(), text::Encoding::Utf8);
    lines << u"残缺\t3\t100"_s << QString() << QString(lines.first()).replace(u"\t1\t"_s, u"\tx\t"_s);
    text::writeLines(listFile(), lines, text::Encoding::Utf8);

    QList<FinishedBook> gone;
    const core::FinishedBooks read = core::loadFinishedBooks(listFile(), &gone);
    ASSERT_EQ(read.books().size(), 1);
    EXPECT_EQ(read.books().first().name, u"留着"_s);
    ASSERT_EQ(gone.size(), 1);
    EXPECT_EQ(gone.first().name, u"删了"_s);
    EXPECT_TRUE(core::loadFinishedBooks(folder.filePath(u"none.dat"_s)).isEmpty());
}

// The end mark changes with the file's last bytes and its length, and is empty for a file shorter than asked.
TEST_F(FinishedBooksTest, TheEndMarkFollowsTheFilesEnd)
{
    const QString path = folder.filePath(u"b.txt"_s);
    text::writeFileAtomically(path, QByteArray(10000, 'a') + "end\r\n");
    const QByteArray mark = core::fileEndMark(path, 10005);
    EXPECT_FALSE(mark.isEmpty());
    EXPECT_EQ(core::fileEndMark(path, 10005), mark);
    EXPECT_NE(core::fileEndMark(path, 10004), mark);
    EXPECT_TRUE(core::fileEndMark(path, 10006).isEmpty());
    text::writeFileAtomically(path, QByteArray(10000, 'a') + "enD\r\n");
    EXPECT_NE(core::fileEndMark(path, 10005), mark);
    text::writeFileAtomically(path, "b" + QByteArray(9999, 'a') + "end\r\n");
    EXPECT_EQ(core::fileEndMark(path, 10005), mark); // only the end is looked at
}

// A writer killed at any moment never leaves a cut list: the file read afterwards is always one whole version.
TEST_F(FinishedBooksTest, AKilledWriteLeavesAWholeList)
{
    core::FinishedBooks small;
    core::FinishedBooks large;
    const FinishedBook model = book(u"样例"_s, u"样例.txt"_s);
    small.record(model);
    for (int i = 0; i < 3000; ++i) {
        FinishedBook more = model;
        more.name = u"书%1"_s.arg(i);
        large.record(more);
    }
    core::saveFinishedBooks(small, listFile());
    std::mt19937 random(17);
    for (int kill = 0; kill < 20; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                core::saveFinishedBooks(i % 2 ? small : large, listFile());
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(1000, 20000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const int count = int(core::loadFinishedBooks(listFile()).books().size());
        EXPECT_TRUE(count == 1 || count == 3000) << count;
    }
}

// A line edited by hand reads as the book it will be written back as, so a save and a load change nothing more: an
// address with a bare "#" in its fragment, a time with milliseconds.
TEST_F(FinishedBooksTest, AHandEditedLineReadsAsItIsWrittenBack)
{
    const QString line =
        u"样例\t9\t10\tgb18030\ttext\t2026-03-01T08:30:05.250Z\t\t\thttp://h/9.html#a#b\t/x/样例.txt"_s;
    const std::optional<FinishedBook> book = core::parseFinishedLine(line);
    ASSERT_TRUE(book);
    const QString written = core::formatFinishedLine(*book);
    EXPECT_EQ(core::parseFinishedLine(written), book);
    EXPECT_EQ(core::formatFinishedLine(*core::parseFinishedLine(written)), written);
    EXPECT_EQ(book->updated.time().msec(), 250);
}
