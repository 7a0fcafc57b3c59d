#include "app/booklistmodel.h"

#include "core/bookqueue.h"

using namespace Qt::StringLiterals;

namespace qh::app {

BookListModel::BookListModel(const core::BookQueue &queue, QObject *parent)
    : QAbstractTableModel(parent), m_queue(queue)
{
    using core::BookQueue;
    connect(&queue, &BookQueue::aboutToAdd, this, [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&queue, &BookQueue::added, this, [this] { endInsertRows(); });
    connect(&queue, &BookQueue::aboutToRemove, this, [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
    connect(&queue, &BookQueue::removed, this, [this] { endRemoveRows(); });
    // Moving the lower row above keeps the selection model and the view in step with the exchange.
    connect(&queue, &BookQueue::aboutToSwap, this,
            [this](int row) { beginMoveRows(QModelIndex(), row + 1, row + 1, QModelIndex(), row); });
    connect(&queue, &BookQueue::swapped, this, [this] { endMoveRows(); });
    connect(&queue, &BookQueue::aboutToReset, this, [this] { beginResetModel(); });
    connect(&queue, &BookQueue::reset, this, [this] { endResetModel(); });
    connect(&queue, &BookQueue::changed, this,
            [this](int row) { Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::DisplayRole}); });
}

int BookListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_queue.size();
}

int BookListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BookListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_queue.size())
        return QVariant();
    if (role == Qt::TextAlignmentRole) {
        const bool centred = index.column() == PagesColumn || index.column() == StatusColumn;
        return QVariant::fromValue(centred ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    const core::BookEntry &row = m_queue.entry(index.row());
    switch (index.column()) {
    case NameColumn:
        return row.BookName;
    case PagesColumn:
        return QString::number(row.PagesDone);
    case StatusColumn:
        return core::statusWord(row.Status);
    case UrlColumn:
        return row.CurrentUrl.toString();
    default:
        return QVariant();
    }
}

QVariant BookListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return u"书名"_s;
    case PagesColumn:
        return u"当前页"_s;
    case StatusColumn:
        return u"状态"_s;
    case UrlColumn:
        return u"当前下载地址"_s;
    default:
        return QVariant();
    }
}

Qt::ItemFlags BookListModel::flags(const QModelIndex &index) const
{
    // Selectable but never edited in place.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace qh::app
