#include "core/queuecommands.h"

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
    const FinishedBooks finished =
        paths.finishedFile.isEmpty() ? FinishedBooks() : loadFinishedBooks(paths.finishedFile);
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
        // still need the addresses of its pages.
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
