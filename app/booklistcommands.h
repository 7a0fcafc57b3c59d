#pragma once

#include "common/messagesink.h"

#include <QString>

QT_BEGIN_NAMESPACE
class QItemSelectionModel;
QT_END_NAMESPACE

namespace qh::app {

class BookListModel;

// Whether the scheduler runs (the main window's TimerBegin is enabled); the engine supplies the real state.
class SchedulerState
{
public:
    virtual ~SchedulerState() = default;
    virtual bool isRunning() const = 0;
};

using MessageSink = qh::MessageSink;

// Where a book's files lie. Paths use "/" or the platform's separators.
struct BookListPaths
{
    QString listFile;   // "downlist.dat" in the data folder
    QString saveFolder; // SavePath: the books' text files
    QString tempFolder; // "temp" in the data folder: the books' work files
};

// The delete and move commands of the list's toolbar. They act on the rows that the selection model (the list
// view's) marks, refuse to run while the scheduler runs, and never touch a row that is being downloaded. The
// objects given must outlive this one.
class BookListCommands
{
public:
    BookListCommands(BookListModel &model, QItemSelectionModel &selection, const SchedulerState &scheduler,
                     MessageSink &messages);

    // Removes the selected rows from the top down, each with its text file and work file, and saves the list after
    // each row. Stops at the first selected row that is being downloaded; rows removed before it stay removed. A
    // file that cannot be deleted stays; its row goes all the same. Throws qh::Error when the list cannot be saved.
    void DeleteSelectedBooks(const BookListPaths &paths);

    // Moves the one selected row by one place and selects it there. Row 0 does not move up, the last row does not
    // move down. The list file is not written.
    void MoveBookUp();
    void MoveBookDown();

private:
    void moveBook(int offset);
    bool refuseWhileRunning();

    BookListModel &m_model;
    QItemSelectionModel &m_selection;
    const SchedulerState &m_scheduler;
    MessageSink &m_messages;
};

} // namespace qh::app
