#include "core/bookqueue.h"

#include "support/testutils.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace qh::core;

// Names from web pages cannot plant a "|" or a line break in the list file, whether they come with a new row or
// through a setter.
TEST(BookQueue, KeepsSeparatorsOutOfNames)
{
    BookQueue queue;
    queue.append({u"a|b\r\nc"_s, 1, BookStatus::Queued, QUrl(u"http://h/p"_s)});
    EXPECT_EQ(queue.head().BookName, u"a｜b  c"_s);
    queue.setBookName(0, u"x|y"_s);
    EXPECT_EQ(queue.head().BookName, u"x｜y"_s);
    queue.setEntries({{u"n|"_s, 0, BookStatus::Queued, QUrl(u"u"_s)}});
    EXPECT_EQ(queue.head().BookName, u"n｜"_s);
}

// A field change names its row; a row that does not exist is left alone and nothing is signalled.
TEST(BookQueue, SettersSignalTheirRow)
{
    BookQueue queue;
    queue.append({u"a"_s, 0, BookStatus::Queued, QUrl(u"u"_s)});
    queue.append({u"b"_s, 0, BookStatus::Queued, QUrl(u"v"_s)});
    QSignalSpy spy(&queue, &BookQueue::changed);

    queue.setPagesDone(1, 7);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(queue.entry(1).PagesDone, 7);

    queue.setStatus(5, BookStatus::Downloading);
    queue.setStatus(-1, BookStatus::Downloading);
    queue.setCurrentUrl(2, QUrl(u"x"_s));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(queue.head().Status, BookStatus::Queued);
}

// A row's id follows it through exchanges and is gone with it, so a waiting operation finds its row or learns it is
// gone.
TEST(BookQueue, IdsFollowTheirRows)
{
    BookQueue queue;
    const BookEntry first{u"一"_s, 1, BookStatus::Queued, QUrl(u"u1"_s)};
    const BookEntry second{u"二"_s, 2, BookStatus::Queued, QUrl(u"u2"_s)};
    const BookQueue::BookId a = queue.append(first);
    const BookQueue::BookId b = queue.append(second);
    EXPECT_NE(a, b);

    queue.swapWithNext(0);
    EXPECT_EQ(queue.entries(), (QList<BookEntry>{second, first}));
    EXPECT_EQ(queue.rowOf(a), 1);
    EXPECT_EQ(queue.rowOf(b), 0);
    queue.swapWithNext(1); // no row below the last: nothing happens
    EXPECT_EQ(queue.rowOf(a), 1);

    queue.remove(0);
    EXPECT_EQ(queue.rowOf(b), -1);
    EXPECT_EQ(queue.rowOf(a), 0);
}

// A row read from the list file keeps its line until one of its fields changes.
TEST(BookQueue, StoredLineLastsUntilTheRowChanges)
{
    BookQueue queue;
    queue.setEntries({{u"a"_s, 0, BookStatus::Queued, QUrl(u"u"_s)}, {u"b"_s, 0, BookStatus::Queued, QUrl(u"v"_s)}},
                     {u"a|0|排队中| u "_s, u"b|0|排队中|v"_s});
    EXPECT_EQ(queue.storedLine(0), u"a|0|排队中| u "_s);
    queue.setPagesDone(0, 1);
    EXPECT_FALSE(queue.storedLine(0));
    EXPECT_EQ(queue.storedLine(1), u"b|0|排队中|v"_s);
    queue.swapWithNext(0);
    EXPECT_EQ(queue.storedLine(0), u"b|0|排队中|v"_s);
}
