#include "app/booklistmodel.h"

using namespace Qt::StringLiterals;

namespace qh::app {

BookListModel::BookListModel(QObject *parent) : QAbstractTableModel(parent) {}

int BookListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int BookListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BookListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !hasRow(index.row()))
        return QVariant();
    if (role == Qt::TextAlignmentRole) {
        const bool centred = index.column() == PagesColumn || index.column() == StatusColumn;
        return QVariant::fromValue(centred ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    const BookEntry &row = m_rows.at(index.row());
    switch (index.column()) {
    case NameColumn:
        return row.BookName;
    case PagesColumn:
        return row.PagesDone;
    case StatusColumn:
        return row.Status;
    case UrlColumn:
        return row.CurrentUrl;
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

const BookEntry &BookListModel::entry(int row) const
{
    Q_ASSERT(hasRow(row));
    return m_rows.at(row);
}

void BookListModel::appendBook(const BookEntry &entry)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(storableEntry(entry));
    endInsertRows();
}

void BookListModel::removeBook(int row)
{
    if (!hasRow(row))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void BookListModel::setEntries(const QList<BookEntry> &entries)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(entries.size());
    for (const BookEntry &entry : entries)
        m_rows.append(storableEntry(entry));
    endResetModel();
}

void BookListModel::swapWithNext(int row)
{
    if (!hasRow(row) || !hasRow(row + 1))
        return;
    // Moving the lower row above keeps the selection model and any view in step with the exchange.
    beginMoveRows(QModelIndex(), row + 1, row + 1, QModelIndex(), row);
    m_rows.swapItemsAt(row, row + 1);
    endMoveRows();
}

void BookListModel::setBookName(int row, const QString &name)
{
    if (!hasRow(row))
        return;
    m_rows[row].BookName = storableText(name);
    changed(row, NameColumn);
}

void BookListModel::setPagesDone(int row, const QString &pagesDone)
{
    if (!hasRow(row))
        return;
    m_rows[row].PagesDone = storableText(pagesDone);
    changed(row, PagesColumn);
}

void BookListModel::setStatus(int row, const QString &status)
{
    if (!hasRow(row))
        return;
    m_rows[row].Status = storableText(status);
    changed(row, StatusColumn);
}

void BookListModel::setCurrentUrl(int row, const QString &url)
{
    if (!hasRow(row))
        return;
    m_rows[row].CurrentUrl = storableUrl(url);
    changed(row, UrlColumn);
}

void BookListModel::changed(int row, Column column)
{
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

} // namespace qh::app
