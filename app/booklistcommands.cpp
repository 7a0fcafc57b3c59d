#include "app/booklistcommands.h"

#include "app/booklistfile.h"
#include "app/booklistmodel.h"
#include "app/safefilename.h"

#include <QFile>
#include <QItemSelectionModel>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

bool isRowSelected(const QItemSelectionModel &selection, int row)
{
    return selection.rowIntersectsSelection(row, QModelIndex());
}

QList<int> selectedRows(const QItemSelectionModel &selection, int rowCount)
{
    QList<int> rows;
    for (int row = 0; row < rowCount; ++row) {
        if (isRowSelected(selection, row))
            rows.append(row);
    }
    return rows;
}

void removeIfPresent(const QString &path)
{
    // A file that cannot be deleted is left where it is; the row goes all the same.
    if (QFile::exists(path))
        QFile::remove(path);
}

} // namespace

BookListCommands::BookListCommands(BookListModel &model, QItemSelectionModel &selection,
                                   const SchedulerState &scheduler, MessageSink &messages)
    : m_model(model), m_selection(selection), m_scheduler(scheduler), m_messages(messages)
{}

bool BookListCommands::refuseWhileRunning()
{
    if (!m_scheduler.isRunning())
        return false;
    m_messages.ShowMsg(u"请停止抓书后，再进行本操作。"_s);
    return true;
}

void BookListCommands::DeleteSelectedBooks(const BookListPaths &paths)
{
    if (refuseWhileRunning())
        return;
    // The selection model drops a removed row's selection and shifts the rest, so the row that moves up into the
    // place of a removed one is examined next.
    for (int row = 0; row < m_model.size();) {
        if (!isRowSelected(m_selection, row)) {
            ++row;
            continue;
        }
        const BookEntry book = m_model.entry(row);
        if (book.Status == StatusDownloading) {
            m_messages.ShowMsg(u"正在下载中的电子书不能删除，请先停止后再删除。"_s);
            return;
        }
        removeIfPresent(BookWorkFilePath(paths.tempFolder, book.BookName));
        removeIfPresent(BookFilePath(paths.saveFolder, book.BookName));
        m_model.removeBook(row);
        SaveBookList(m_model, paths.listFile);
    }
}

void BookListCommands::MoveBookUp()
{
    moveBook(-1);
}

void BookListCommands::MoveBookDown()
{
    moveBook(1);
}

void BookListCommands::moveBook(int offset)
{
    if (refuseWhileRunning())
        return;
    const QList<int> rows = selectedRows(m_selection, m_model.size());
    if (rows.size() >= 2) {
        m_messages.ShowMsg(u"不能同时移动多本书"_s);
        return;
    }
    if (rows.isEmpty())
        return;
    const int row = rows.constFirst();
    if (m_model.entry(row).Status == StatusDownloading) {
        m_messages.ShowMsg(u"不能移动正在下载的书"_s);
        return;
    }
    const int target = row + offset;
    if (target < 0 || target >= m_model.size())
        return;
    m_model.swapWithNext(qMin(row, target));
    m_selection.setCurrentIndex(m_model.index(target, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace qh::app
