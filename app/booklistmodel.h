#pragma once

#include "app/booklistentry.h"

#include <QAbstractTableModel>
#include <QList>

namespace qh::app {

// The download list, which is the queue itself: row 0 is its head and the only row the scheduler and the grabber
// touch. The main window's list view (LVDownList) shows it; there is no other copy. Every field that enters goes
// through storableEntry(), so what is shown, saved and read back is the same.
class BookListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NameColumn,
        PagesColumn,
        StatusColumn,
        UrlColumn,
        ColumnCount
    };

    explicit BookListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    const QList<BookEntry> &entries() const { return m_rows; }
    bool isEmpty() const { return m_rows.isEmpty(); }
    int size() const { return int(m_rows.size()); }
    // row must exist.
    const BookEntry &entry(int row) const;
    // The head of the queue; the list must not be empty.
    const BookEntry &head() const { return entry(0); }

    void appendBook(const BookEntry &entry);
    void removeBook(int row);
    // Replaces every row.
    void setEntries(const QList<BookEntry> &entries);
    // Exchanges a row with its neighbour below; both must exist.
    void swapWithNext(int row);

    // Setters of one field; a row that does not exist is left alone.
    void setBookName(int row, const QString &name);
    void setPagesDone(int row, const QString &pagesDone);
    void setStatus(int row, const QString &status);
    void setCurrentUrl(int row, const QString &url);

private:
    bool hasRow(int row) const { return row >= 0 && row < m_rows.size(); }
    void changed(int row, Column column);

    QList<BookEntry> m_rows;
};

} // namespace qh::app
