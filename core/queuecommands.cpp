#include "core/queuecommands.h"

#include "common/error.h"
#include "core/bookcheckpoint.h"
#include "core/finishedbooks.h"
#include "core/queuefile.h"
#include "core/safefilename.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::core {

namespace {

void removeIfPresent(const QString &path)
{
    // A file that cannot be deleted is left where it is; the row goes all the same.
    if (QFile::exists(path))
        QFile::remove(path);
}

// An update called off after it had appended pages leaves the book longer than its record says: the record is
// brought up to the book as the update's checkpoint has it, so that the next update goes on from the last page the
// book holds instead of refusing its file as changed by hand. None when there is nothing to bring up, or when the
// file is not as that checkpoint left it (bytes of pages whose checkpoint never landed lie past it, or hands have
// been at it): the next update then says so, as before.
std::optional<FinishedBook> bookAsUpdated(const FinishedBook &recorded, const QString &workFile)
{
    std::optional<BookCheckpoint> held;
    try {
        held = readCheckpoint(workFile);
    } catch (const Error &) {
        return std::nullopt;
    }
    // A next page shown in place at the last page's address cannot be reached from that page's address alone.
    if (!held || held->pages <= recorded.pages || held->lastPageUrl.isEmpty() || held->nextSteps != 0 ||
        QFileInfo(held->bookFile) != QFileInfo(recorded.file))
        return std::nullopt;
    const qint64 size = QFileInfo(recorded.file).size();
    // An EPUB book is written whole at each batch, so its length is its file's; a text book's is the checkpoint's.
    if (held->format == BookFormat::Text && size != held->bytes)
        return std::nullopt;
    FinishedBook updated = recorded;
    updated.pages = held->pages;
    updated.lastPage = held->lastPageUrl;
    updated.bytes = size;
    updated.endMark = fileEndMark(recorded.file, size);
    updated.updated = QDateTime::currentDateTimeUtc();
    return updated;
}

} // namespace

QueueCommands::QueueCommands(BookQueue &queue, const SchedulerState &scheduler, MessageSink &messages)
    : m_queue(queue), m_scheduler(scheduler), m_messages(messages)
{}

bool QueueCommands::refuseWhileGrabbing()
{
    if (!m_scheduler.isGrabbing())
        return false;
    m_messages.ShowMsg(StopFirstMessage);
    return true;
}

void QueueCommands::DeleteSelectedBooks(const QList<BookQueue::BookId> &selected, const BookListPaths &paths)
{
    if (refuseWhileGrabbing())
        return;
    FinishedBooks finished = paths.finishedFile.isEmpty() ? FinishedBooks() : loadFinishedBooks(paths.finishedFile);
    // The row that moves up into the place of a removed one is examined next.
    for (int row = 0; row < m_queue.size();) {
        if (!selected.contains(m_queue.idAt(row))) {
            ++row;
            continue;
        }
        const BookEntry book = m_queue.entry(row);
        if (book.Status == BookStatus::Downloading) {
            m_messages.ShowMsg(u"正在下载中的电子书不能删除，请先停止后再删除。"_s);
            return;
        }
        const QString workFile = BookWorkFilePath(paths.tempFolder, book.BookName);
        const QString bookFile = BookFilePath(paths.saveFolder, book.BookName, book.Format);
        const FinishedBook *const done = finished.find(book.BookName);
        // Deleting an update calls the update off; the finished book is not the row's to delete, and its updates
        // still need the addresses of its pages. The pages it had added stay in the book.
        if (const std::optional<FinishedBook> updated = done ? bookAsUpdated(*done, workFile) : std::nullopt) {
            finished.record(*updated);
            try {
                saveFinishedBooks(finished, paths.finishedFile);
            } catch (const Error &error) {
                m_messages.showError(error.message());
            }
        }
        removeIfPresent(workFile);
        if (!done)
            removeIfPresent(workFile.chopped(4) + u".pages"_s); // the addresses of its pages, beside its checkpoint
        if (!done || QFileInfo(done->file) != QFileInfo(bookFile))
            removeIfPresent(bookFile);
        m_queue.remove(row);
        SaveBookList(m_queue, paths.listFile);
    }
}

std::optional<int> QueueCommands::MoveBookUp(const QList<int> &selectedRows)
{
    return moveBook(selectedRows, -1);
}

std::optional<int> QueueCommands::MoveBookDown(const QList<int> &selectedRows)
{
    return moveBook(selectedRows, 1);
}

std::optional<int> QueueCommands::moveBook(const QList<int> &selectedRows, int offset)
{
    if (refuseWhileGrabbing())
        return std::nullopt;
    if (selectedRows.size() >= 2) {
        m_messages.ShowMsg(u"不能同时移动多本书"_s);
        return std::nullopt;
    }
    if (selectedRows.isEmpty())
        return std::nullopt;
    const int row = selectedRows.constFirst();
    if (row < 0 || row >= m_queue.size())
        return std::nullopt;
    if (m_queue.entry(row).Status == BookStatus::Downloading) {
        m_messages.ShowMsg(u"不能移动正在下载的书"_s);
        return std::nullopt;
    }
    const int target = row + offset;
    if (target < 0 || target >= m_queue.size())
        return std::nullopt;
    m_queue.swapWithNext(qMin(row, target));
    return target;
}

} // namespace qh::core
