#pragma once

#include <QAbstractTableModel>

namespace qh::core {
class BookQueue;
}

namespace qh::app {

// The download queue as the main window's list view (LVDownList) shows it: four captioned columns of text, row 0 the
// head. A thin adapter: it holds no rows of its own and follows the queue's signals; every change goes through the
// queue.
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

    // The queue must outlive the model.
    explicit BookListModel(const core::BookQueue &queue, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    const core::BookQueue &m_queue;
};

} // namespace qh::app
