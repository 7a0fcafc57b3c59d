#include "core/queuecommands.h"

#include "common/textfile.h"
#include "core/bookcheckpoint.h"
#include "core/bookqueue.h"
#include "core/finishedbooks.h"
#include "core/queuefile.h"
#include "core/safefilename.h"
#include "support/recordinghost.h"
#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::core;

namespace {

class FakeScheduler final : public SchedulerState
{
public:
    bool isGrabbing() const override { return grabbing; }
    bool grabbing = false;
};

const QString StopFirst = u"请停止抓书后，再进行本操作。"_s;
const QString CannotDelete = u"正在下载中的电子书不能删除，请先停止后再删除。"_s;
const QString CannotMoveSeveral = u"不能同时移动多本书"_s;
const QString CannotMoveDownloading = u"不能移动正在下载的书"_s;

// Five books, each with its text file in the save folder and its work file in the temp folder.
class QueueCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_paths = {m_dir.filePath(u"downlist.dat"_s), m_dir.filePath(u"books"_s), m_dir.filePath(u"temp"_s)};
        ASSERT_TRUE(QDir().mkpath(m_paths.saveFolder));
        ASSERT_TRUE(QDir().mkpath(m_paths.tempFolder));
        for (const QString &name : {u"零"_s, u"一"_s, u"二"_s, u"三"_s, u"四"_s}) {
            m_model.append({name, 1, BookStatus::Queued, QUrl(u"http://h/"_s + name)});
            touch(BookFilePath(m_paths.saveFolder, name));
            touch(BookWorkFilePath(m_paths.tempFolder, name));
        }
    }

    static void touch(const QString &path) { qh::text::writeFileAtomically(path, "x"); }

    void select(std::initializer_list<int> rows)
    {
        for (int row : rows)
            m_selected.append(m_model.idAt(row));
    }

    void deleteSelected() { m_commands.DeleteSelectedBooks(m_selected, m_paths); }

    QStringList names() const
    {
        QStringList result;
        for (const BookEntry &entry : m_model.entries())
            result.append(entry.BookName);
        return result;
    }

    bool hasFiles(const QString &name) const
    {
        const bool text = QFileInfo::exists(BookFilePath(m_paths.saveFolder, name));
        const bool work = QFileInfo::exists(BookWorkFilePath(m_paths.tempFolder, name));
        EXPECT_EQ(text, work) << name.toStdString();
        return text;
    }

    QStringList savedNames() const
    {
        BookQueue saved;
        LoadBookList(saved, m_paths.listFile);
        QStringList result;
        for (const BookEntry &entry : saved.entries())
            result.append(entry.BookName);
        return result;
    }

    QTemporaryDir m_dir;
    BookListPaths m_paths;
    BookQueue m_model;
    QList<BookQueue::BookId> m_selected;
    FakeScheduler m_scheduler;
    qh::test::RecordingSink m_messages;
    QueueCommands m_commands{m_model, m_scheduler, m_messages};
};

} // namespace

// While a book is being grabbed, every command only says so: no row moves or goes, no file is touched.
TEST_F(QueueCommandsTest, RefuseWhileABookIsGrabbed)
{
    m_scheduler.grabbing = true;
    select({1});
    deleteSelected();
    EXPECT_FALSE(m_commands.MoveBookUp({1}));
    EXPECT_FALSE(m_commands.MoveBookDown({1}));

    EXPECT_EQ(m_messages.messages, (QStringList{StopFirst, StopFirst, StopFirst}));
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"一"_s, u"二"_s, u"三"_s, u"四"_s}));
    EXPECT_TRUE(hasFiles(u"一"_s));
    EXPECT_FALSE(QFileInfo::exists(m_paths.listFile));
}

// Without a selection, delete does nothing and writes no list file.
TEST_F(QueueCommandsTest, DeleteWithoutSelectionDoesNothing)
{
    deleteSelected();
    EXPECT_EQ(m_model.size(), 5);
    EXPECT_TRUE(m_messages.messages.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(m_paths.listFile));
}

// Deleting several rows, neighbours included, removes each with its text and work file and leaves the others and
// their files alone; the list file holds what remains.
TEST_F(QueueCommandsTest, DeleteRemovesSelectedRowsWithTheirFiles)
{
    select({0, 2, 3});
    deleteSelected();

    EXPECT_TRUE(m_messages.messages.isEmpty());
    EXPECT_EQ(names(), (QStringList{u"一"_s, u"四"_s}));
    EXPECT_EQ(savedNames(), names());
    for (const QString &gone : {u"零"_s, u"二"_s, u"三"_s})
        EXPECT_FALSE(hasFiles(gone)) << gone.toStdString();
    for (const QString &kept : {u"一"_s, u"四"_s})
        EXPECT_TRUE(hasFiles(kept)) << kept.toStdString();
}

// An EPUB book is deleted with its own file; a text file of the same name (another book's, or the reader's) stays.
TEST_F(QueueCommandsTest, DeleteRemovesAnEpubBooksFile)
{
    BookEntry epub{u"电子"_s, 1, BookStatus::Queued, QUrl(u"http://h/e"_s)};
    epub.Format = BookFormat::Epub;
    m_model.append(epub);
    const QString epubFile = BookFilePath(m_paths.saveFolder, epub.BookName, BookFormat::Epub);
    touch(epubFile);
    touch(BookFilePath(m_paths.saveFolder, epub.BookName));
    select({5});
    deleteSelected();

    EXPECT_FALSE(QFileInfo::exists(epubFile));
    EXPECT_TRUE(QFileInfo::exists(BookFilePath(m_paths.saveFolder, epub.BookName)));
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"一"_s, u"二"_s, u"三"_s, u"四"_s}));
}

// A selected row that is being downloaded stops the delete with a message; rows above it are gone already, rows
// below it stay. Unselected downloading rows do not hinder deleting others.
TEST_F(QueueCommandsTest, DeleteStopsAtADownloadingRow)
{
    m_model.setStatus(2, BookStatus::Downloading);
    select({1, 2, 3});
    deleteSelected();
    EXPECT_EQ(m_messages.messages, QStringList{CannotDelete});
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"二"_s, u"三"_s, u"四"_s}));
    EXPECT_EQ(savedNames(), names());
    EXPECT_TRUE(hasFiles(u"二"_s));
    EXPECT_TRUE(hasFiles(u"三"_s));

    m_messages.messages.clear();
    m_model.setStatus(0, BookStatus::Downloading);
    m_selected.clear();
    select({3});
    deleteSelected();
    EXPECT_TRUE(m_messages.messages.isEmpty());
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"二"_s, u"三"_s}));
}

// A missing file is no obstacle: the row goes all the same.
TEST_F(QueueCommandsTest, DeleteRemovesRowsWhoseFilesAreMissing)
{
    QFile::remove(BookFilePath(m_paths.saveFolder, u"一"_s));
    QFile::remove(BookWorkFilePath(m_paths.tempFolder, u"一"_s));
    select({1});
    deleteSelected();
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"二"_s, u"三"_s, u"四"_s}));
}

// A book named to climb out of its folders deletes only its own files: the files it names outside the save and
// temp folders survive.
TEST_F(QueueCommandsTest, DeleteStaysInsideItsFolders)
{
    const QString hostile = u"../victim"_s;
    const QString outsideText = m_dir.filePath(u"victim.txt"_s);
    const QString outsideWork = m_dir.filePath(u"victim.lst"_s);
    touch(outsideText);
    touch(outsideWork);
    m_model.append({hostile, 0, BookStatus::Queued, QUrl(u"http://h/"_s)});
    touch(BookFilePath(m_paths.saveFolder, hostile));
    touch(BookWorkFilePath(m_paths.tempFolder, hostile));

    select({5});
    deleteSelected();

    EXPECT_EQ(m_model.size(), 5);
    EXPECT_FALSE(hasFiles(hostile));
    EXPECT_TRUE(QFileInfo::exists(outsideText));
    EXPECT_TRUE(QFileInfo::exists(outsideWork));
}

namespace {

struct MoveCase
{
    const char *what;
    QList<int> selected;
    bool up;
    int downloadingRow; // -1: none
    QStringList expectedOrder;
    int expectedMoved; // the row the book now stands in; -1: it did not move
    QStringList expectedMessages;
};

} // namespace

// A move exchanges the one selected row with its neighbour and says where it went; it does nothing at the ends or
// without a selection, refuses several rows and a downloading row, and never writes the list file.
TEST_F(QueueCommandsTest, MovesFollowTheirRules)
{
    const QStringList start = {u"零"_s, u"一"_s, u"二"_s, u"三"_s, u"四"_s};
    const MoveCase cases[] = {
        {"up from the middle", {2}, true, -1, {u"零"_s, u"二"_s, u"一"_s, u"三"_s, u"四"_s}, 1, {}},
        {"down from the middle", {2}, false, -1, {u"零"_s, u"一"_s, u"三"_s, u"二"_s, u"四"_s}, 3, {}},
        {"down from the top", {0}, false, -1, {u"一"_s, u"零"_s, u"二"_s, u"三"_s, u"四"_s}, 1, {}},
        {"up from the bottom", {4}, true, -1, {u"零"_s, u"一"_s, u"二"_s, u"四"_s, u"三"_s}, 3, {}},
        {"up from row 0", {0}, true, -1, start, -1, {}},
        {"down from the last row", {4}, false, -1, start, -1, {}},
        {"nothing selected", {}, true, -1, start, -1, {}},
        {"two selected", {1, 3}, true, -1, start, -1, {CannotMoveSeveral}},
        {"downloading row", {1}, false, 1, start, -1, {CannotMoveDownloading}},
    };
    for (const MoveCase &c : cases) {
        SCOPED_TRACE(c.what);
        QList<BookEntry> rows;
        for (const QString &name : start)
            rows.append({name, 1, BookStatus::Queued, QUrl(u"http://h/"_s + name)});
        if (c.downloadingRow >= 0)
            rows[c.downloadingRow].Status = BookStatus::Downloading;
        m_model.setEntries(rows);
        m_messages.messages.clear();

        const std::optional<int> moved = c.up ? m_commands.MoveBookUp(c.selected) : m_commands.MoveBookDown(c.selected);

        EXPECT_EQ(names(), c.expectedOrder);
        EXPECT_EQ(m_messages.messages, c.expectedMessages);
        EXPECT_EQ(moved.value_or(-1), c.expectedMoved);
        if (moved) {
            const BookEntry &book = m_model.entry(*moved);
            EXPECT_EQ(book.CurrentUrl, QUrl(u"http://h/"_s + book.BookName));
        }
        EXPECT_FALSE(QFileInfo::exists(m_paths.listFile));
    }
}

// Deleting the row of a finished book's update calls the update off and keeps the book: its file and the addresses
// of its pages stay, its work file goes. A book merely of the same name as a finished one written elsewhere goes
// with its file.
TEST_F(QueueCommandsTest, DeletingAnUpdateKeepsTheBook)
{
    m_paths.finishedFile = m_dir.filePath(u"finished.dat"_s);
    FinishedBooks finished;
    FinishedBook update;
    update.name = u"一"_s;
    update.file = BookFilePath(m_paths.saveFolder, u"一"_s);
    update.pages = 1;
    update.lastPage = QUrl(u"http://h/一"_s);
    finished.record(update);
    FinishedBook elsewhere = update;
    elsewhere.name = u"二"_s;
    elsewhere.file = m_dir.filePath(u"elsewhere.txt"_s);
    touch(elsewhere.file);
    finished.record(elsewhere);
    saveFinishedBooks(finished, m_paths.finishedFile);
    const QString pages = BookWorkFilePath(m_paths.tempFolder, u"一"_s).chopped(4) + u".pages"_s;
    touch(pages);

    select({1, 2});
    deleteSelected();
    EXPECT_EQ(names(), (QStringList{u"零"_s, u"三"_s, u"四"_s}));
    EXPECT_TRUE(QFileInfo::exists(update.file));
    EXPECT_TRUE(QFileInfo::exists(pages));
    EXPECT_FALSE(QFileInfo::exists(BookWorkFilePath(m_paths.tempFolder, u"一"_s)));
    EXPECT_FALSE(hasFiles(u"二"_s));
    EXPECT_TRUE(QFileInfo::exists(elsewhere.file));
}

// An update called off after it had appended pages: the book's record is brought up to the book as the update's
// checkpoint has it (pages, last page, length, end), so the next update goes on from there. Where the file is not
// as that checkpoint left it, or the checkpoint says nothing new, the record stays as it was.
TEST_F(QueueCommandsTest, DeletingAnUpdateWithNewPagesBringsItsRecordUpToTheBook)
{
    m_paths.finishedFile = m_dir.filePath(u"finished.dat"_s);
    const QString file = BookFilePath(m_paths.saveFolder, u"一"_s);
    const QByteArray before = "第一章\r\n正文\r\n";
    const QByteArray after = before + "第二章\r\n正文\r\n第三章\r\n正文\r\n";
    FinishedBook recorded;
    recorded.name = u"一"_s;
    recorded.file = QFileInfo(file).absoluteFilePath();
    recorded.pages = 1;
    recorded.lastPage = QUrl(u"http://h/1"_s);
    recorded.bytes = before.size();
    recorded.updated = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());

    BookCheckpoint update;
    update.pages = 3;
    update.bytes = after.size();
    update.nextUrl = QUrl(u"http://h/4"_s);
    update.lastPageUrl = QUrl(u"http://h/3"_s);
    update.bookFile = recorded.file;
    const struct
    {
        const char *what;
        std::function<void(BookCheckpoint &, QByteArray &)> change;
        bool followsTheBook;
    } cases[] = {
        {"pages added", [](BookCheckpoint &, QByteArray &) {}, true},
        {"an EPUB book: its file's length",
         [](BookCheckpoint &held, QByteArray &) {
             held.format = BookFormat::Epub;
             held.bytes = 0;
         },
         true},
        {"bytes past the checkpoint", [](BookCheckpoint &, QByteArray &bytes) { bytes += "第四"; }, false},
        {"cut by hand", [](BookCheckpoint &, QByteArray &bytes) { bytes.chop(3); }, false},
        {"nothing added",
         [&](BookCheckpoint &held, QByteArray &bytes) {
             held.pages = 1;
             bytes = before;
             held.bytes = before.size();
         },
         false},
        {"an older checkpoint without its last page",
         [](BookCheckpoint &held, QByteArray &) { held.lastPageUrl.clear(); }, false},
        {"the next page shown in place", [](BookCheckpoint &held, QByteArray &) { held.nextSteps = 1; }, false},
        {"another book's file", [&](BookCheckpoint &held, QByteArray &) { held.bookFile = m_dir.filePath(u"x.txt"_s); },
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        BookCheckpoint held = update;
        QByteArray bytes = after;
        c.change(held, bytes);
        qh::text::writeFileAtomically(file, bytes);
        recorded.endMark = fileEndMark(file, before.size()); // as the book was when it was finished
        FinishedBooks finished;
        finished.record(recorded);
        saveFinishedBooks(finished, m_paths.finishedFile);
        writeCheckpoint(BookWorkFilePath(m_paths.tempFolder, u"一"_s), held);
        while (!m_model.isEmpty())
            m_model.remove(0);
        m_model.append({u"一"_s, held.pages, BookStatus::Queued, held.nextUrl});
        m_selected = {m_model.idAt(0)};

        deleteSelected();
        EXPECT_TRUE(m_model.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(BookWorkFilePath(m_paths.tempFolder, u"一"_s)));
        EXPECT_EQ(qh::text::readFile(file, 1 << 20), bytes) << "the book's file is never touched";
        const FinishedBooks now = loadFinishedBooks(m_paths.finishedFile);
        ASSERT_TRUE(now.find(u"一"_s));
        const FinishedBook &record = *now.find(u"一"_s);
        if (!c.followsTheBook) {
            EXPECT_EQ(record, recorded);
            continue;
        }
        EXPECT_EQ(record.pages, 3);
        EXPECT_EQ(record.lastPage, QUrl(u"http://h/3"_s));
        EXPECT_EQ(record.bytes, bytes.size());
        EXPECT_EQ(record.endMark, fileEndMark(file, bytes.size()));
        EXPECT_GT(record.updated, recorded.updated);
    }
    EXPECT_TRUE(m_messages.messages.isEmpty()) << m_messages.messages.join(u'|').toStdString();
    EXPECT_TRUE(m_messages.errors.isEmpty()) << m_messages.errors.join(u'|').toStdString();
}
