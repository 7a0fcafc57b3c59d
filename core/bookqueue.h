#pragma once

#include "core/bookentry.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <optional>

namespace qh::core {

// The download queue: row 0 is its head and the only row the scheduler and the grabber touch. Widget-free; the
// desktop program's list view shows it through an item model that follows its signals, the command line prints it.
// Every name that enters goes through storableText(), so what is shown, saved and read back is the same.
//
// Each row has an id that stays with it through moves, so an operation that waits (adding a book) finds its row
// again or learns that it is gone.
class BookQueue : public QObject
{
    Q_OBJECT

public:
    using BookId = quint64;

    explicit BookQueue(QObject *parent = nullptr);

    int size() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    // row must exist.
    const BookEntry &entry(int row) const;
    // The head of the queue; the queue must not be empty.
    const BookEntry &head() const { return entry(0); }
    QList<BookEntry> entries() const;

    BookId idAt(int row) const;
    // The row that holds id, or -1 when it is gone.
    int rowOf(BookId id) const;

    BookId append(const BookEntry &entry);
    void remove(int row);
    // Replaces every row. lines, when given, holds for each row the list-file line it was read from, if it is to be
    // written back so.
    void setEntries(const QList<BookEntry> &entries, const QList<std::optional<QString>> &lines = {});
    // Exchanges a row with its neighbour below; both must exist.
    void swapWithNext(int row);

    // Setters of one field; a row that does not exist is left alone.
    void setBookName(int row, const QString &name);
    void setPagesDone(int row, int pagesDone);
    void setStatus(int row, BookStatus status);
    void setCurrentUrl(int row, const QUrl &url);

    // The list-file line a row was read from while nothing of it has changed since, else empty: such a row is
    // written back as it was read, however the file spelt it.
    std::optional<QString> storedLine(int row) const;

    // The names the list file held when this queue last read or wrote it: a row of the file that is neither among
    // them nor in the queue was added by another process.
    const QSet<QString> &namesOnDisk() const { return m_namesOnDisk; }
    void setNamesOnDisk(QSet<QString> names) { m_namesOnDisk = std::move(names); }

Q_SIGNALS:
    void aboutToAdd(int row);
    void added(int row);
    void aboutToRemove(int row);
    void removed(int row);
    // row and row + 1 exchange places.
    void aboutToSwap(int row);
    void swapped(int row);
    // A field of row changed.
    void changed(int row);
    void aboutToReset();
    void reset();

private:
    struct Row
    {
        BookId id = 0;
        BookEntry entry;
        std::optional<QString> storedLine;
    };

    bool hasRow(int row) const { return row >= 0 && row < m_rows.size(); }
    Row makeRow(const BookEntry &entry);
    void touched(int row);

    QList<Row> m_rows;
    BookId m_nextId = 1;
    QSet<QString> m_namesOnDisk;
};

} // namespace qh::core
