#pragma once

#include "common/messagesink.h"
#include "core/bookqueue.h"

#include <QList>
#include <QString>

#include <optional>

namespace qh::core {

// Whether the engine holds the queue and the templates: while a book is being grabbed or winds down after a stop,
// the commands that change them refuse. A running timer with nothing to grab holds nothing.
class SchedulerState
{
public:
    virtual ~SchedulerState() = default;
    virtual bool isGrabbing() const = 0;
};

// Where a book's files lie. Paths use "/" or the platform's separators.
struct BookListPaths
{
    QString listFile;   // "downlist.dat" in the data folder
    QString saveFolder; // SavePath: the books' text files
    QString tempFolder; // "temp" in the data folder: the books' work files
    // "finished.dat": the row of a finished book's update goes without the book's file. Empty: no finished books.
    QString finishedFile = {};
};

inline const QString StopFirstMessage = QStringLiteral("请停止抓书后，再进行本操作。");

// The delete and move commands of the list's toolbar, on the rows the user selected. They refuse to run while a
// book is being grabbed and never touch a row that is being downloaded. The objects given must outlive this one.
class QueueCommands
{
public:
    QueueCommands(BookQueue &queue, const SchedulerState &scheduler, MessageSink &messages);

    // Removes the selected books from the top down, each with its text file and work file, and saves the list after
    // each row. An update of a finished book goes with its work file only: the book stays as it is. Stops at the first
    // selected book that is being downloaded; books removed before it stay removed. A file that cannot be deleted
    // stays; its row goes all the same. Throws qh::Error when the list cannot be saved.
    void DeleteSelectedBooks(const QList<BookQueue::BookId> &selected, const BookListPaths &paths);

    // Moves the one selected row by one place; returns the row it now stands in, to be selected, or nothing when it
    // did not move. Row 0 does not move up, the last row does not move down. The list file is not written.
    std::optional<int> MoveBookUp(const QList<int> &selectedRows);
    std::optional<int> MoveBookDown(const QList<int> &selectedRows);

private:
    std::optional<int> moveBook(const QList<int> &selectedRows, int offset);
    bool refuseWhileGrabbing();

    BookQueue &m_queue;
    const SchedulerState &m_scheduler;
    MessageSink &m_messages;
};

} // namespace qh::core
