#include "app/booklistmodel.h"

#include "support/testutils.h"

#include <QItemSelectionModel>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::app;

// The list view shows four columns with their captions, the second and third centred, and nothing is editable.
TEST(BookListModel, ShowsFourCaptionedColumns)
{
    BookListModel model;
    model.appendBook({u"我的书"_s, u"12"_s, StatusQueued, u"http://a/1.html"_s});

    ASSERT_EQ(model.columnCount(), 4);
    const QStringList captions = {u"书名"_s, u"当前页"_s, u"状态"_s, u"当前下载地址"_s};
    const QStringList cells = {u"我的书"_s, u"12"_s, StatusQueued, u"http://a/1.html"_s};
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

// Fields from web pages cannot plant a "|" or a line break in the list file, whether they come with a new row or
// through a setter: names take the full-width "｜", addresses "%7C", and line breaks go.
TEST(BookListModel, KeepsSeparatorsOutOfEveryField)
{
    BookListModel model;
    model.appendBook({u"a|b\r\nc"_s, u"1|2"_s, u"排队|中"_s, u"http://h/p?a=1|2\n"_s});
    EXPECT_EQ(model.head(), (BookEntry{u"a｜b  c"_s, u"1｜2"_s, u"排队｜中"_s, u"http://h/p?a=1%7C2"_s}));

    model.setBookName(0, u"x|y"_s);
    model.setPagesDone(0, u"3|"_s);
    model.setStatus(0, u"|"_s);
    model.setCurrentUrl(0, u"http://h/|\r|"_s);
    EXPECT_EQ(model.head(), (BookEntry{u"x｜y"_s, u"3｜"_s, u"｜"_s, u"http://h/%7C%7C"_s}));

    model.setEntries({{u"n|"_s, u"0"_s, StatusQueued, u"u|"_s}});
    EXPECT_EQ(model.head(), (BookEntry{u"n｜"_s, u"0"_s, StatusQueued, u"u%7C"_s}));
}

// A field change tells the view which cell changed; a row that does not exist is left alone.
TEST(BookListModel, SettersSignalTheirCell)
{
    BookListModel model;
    model.appendBook({u"a"_s, u"0"_s, StatusQueued, u"u"_s});
    QSignalSpy spy(&model, &BookListModel::dataChanged);

    model.setPagesDone(0, u"1"_s);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<QModelIndex>(), model.index(0, BookListModel::PagesColumn));

    model.setStatus(5, StatusDownloading);
    model.setStatus(-1, StatusDownloading);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(model.head().Status, StatusQueued);
}

// Exchanging neighbours carries all four fields and keeps a selection model on the moved rows.
TEST(BookListModel, SwapWithNextMovesWholeRows)
{
    BookListModel model;
    const BookEntry first{u"一"_s, u"1"_s, StatusQueued, u"u1"_s};
    const BookEntry second{u"二"_s, u"2"_s, StatusQueued, u"u2"_s};
    model.appendBook(first);
    model.appendBook(second);
    QItemSelectionModel selection(&model);
    selection.select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

    model.swapWithNext(0);
    EXPECT_EQ(model.entries(), (QList<BookEntry>{second, first}));
    EXPECT_TRUE(selection.isRowSelected(0, QModelIndex()));
    EXPECT_FALSE(selection.isRowSelected(1, QModelIndex()));

    model.swapWithNext(1);
    EXPECT_EQ(model.entries(), (QList<BookEntry>{second, first}));
}
