#include "app/booklistmodel.h"

#include "core/bookqueue.h"
#include "support/testutils.h"

#include <QItemSelectionModel>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh;
using app::BookListModel;
using core::BookEntry;
using core::BookStatus;

// The list view shows four columns with their captions, the second and third centred, and nothing is editable.
TEST(BookListModel, ShowsFourCaptionedColumns)
{
    core::BookQueue queue;
    BookListModel model(queue);
    queue.append({u"我的书"_s, 12, BookStatus::Queued, QUrl(u"http://a/1.html"_s)});

    ASSERT_EQ(model.rowCount(), 1);
    ASSERT_EQ(model.columnCount(), 4);
    const QStringList captions = {u"书名"_s, u"当前页"_s, u"状态"_s, u"当前下载地址"_s};
    const QStringList cells = {u"我的书"_s, u"12"_s, u"排队中"_s, u"http://a/1.html"_s};
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), captions.at(column));
        const QModelIndex cell = model.index(0, column);
        EXPECT_EQ(cell.data().toString(), cells.at(column));
        EXPECT_FALSE(model.flags(cell) & Qt::ItemIsEditable);
        EXPECT_TRUE(model.flags(cell) & Qt::ItemIsSelectable);
        const bool centred = cell.data(Qt::TextAlignmentRole).value<Qt::Alignment>() == Qt::AlignCenter;
        EXPECT_EQ(centred, column == 1 || column == 2) << column;
    }
}

// The model follows the queue: a changed field repaints its row, and an exchange of neighbours keeps a selection
// model on the moved rows.
TEST(BookListModel, FollowsTheQueue)
{
    core::BookQueue queue;
    BookListModel model(queue);
    queue.append({u"一"_s, 1, BookStatus::Queued, QUrl(u"u1"_s)});
    queue.append({u"二"_s, 2, BookStatus::Queued, QUrl(u"u2"_s)});
    QSignalSpy changed(&model, &BookListModel::dataChanged);
    queue.setStatus(1, BookStatus::Downloading);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>().row(), 1);
    EXPECT_EQ(model.index(1, BookListModel::StatusColumn).data().toString(), u"下载中"_s);

    QItemSelectionModel selection(&model);
    selection.select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    queue.swapWithNext(0);
    EXPECT_EQ(model.index(0, 0).data().toString(), u"二"_s);
    EXPECT_TRUE(selection.isRowSelected(0, QModelIndex()));
    EXPECT_FALSE(selection.isRowSelected(1, QModelIndex()));

    queue.remove(0);
    EXPECT_EQ(model.rowCount(), 1);
    queue.setEntries({});
    EXPECT_EQ(model.rowCount(), 0);
}
