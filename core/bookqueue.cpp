#include "core/bookqueue.h"

namespace qh::core {

BookQueue::BookQueue(QObject *parent) : QObject(parent) {}

const BookEntry &BookQueue::entry(int row) const
{
    Q_ASSERT(hasRow(row));
    return m_rows.at(row).entry;
}

QList<BookEntry> BookQueue::entries() const
{
    QList<BookEntry> result;
    result.reserve(m_rows.size());
    for (const Row &row : m_rows)
        result.append(row.entry);
    return result;
}

BookQueue::BookId BookQueue::idAt(int row) const
{
    return hasRow(row) ? m_rows.at(row).id : 0;
}

int BookQueue::rowOf(BookId id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id == id)
            return row;
    }
    return -1;
}

BookQueue::Row BookQueue::makeRow(const BookEntry &entry)
{
    Row row{m_nextId++, entry, std::nullopt};
    row.entry.BookName = storableText(entry.BookName);
    return row;
}

BookQueue::BookId BookQueue::append(const BookEntry &entry)
{
    const int row = size();
    Q_EMIT aboutToAdd(row);
    m_rows.append(makeRow(entry));
    Q_EMIT added(row);
    return m_rows.constLast().id;
}

void BookQueue::remove(int row)
{
    if (!hasRow(row))
        return;
    Q_EMIT aboutToRemove(row);
    m_rows.removeAt(row);
    Q_EMIT removed(row);
}

void BookQueue::setEntries(const QList<BookEntry> &entries, const QList<std::optional<QString>> &lines)
{
    Q_EMIT aboutToReset();
    m_rows.clear();
    m_rows.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        m_rows.append(makeRow(entries.at(i)));
        if (i < lines.size())
            m_rows.last().storedLine = lines.at(i);
    }
    Q_EMIT reset();
}

void BookQueue::swapWithNext(int row)
{
    if (!hasRow(row) || !hasRow(row + 1))
        return;
    Q_EMIT aboutToSwap(row);
    m_rows.swapItemsAt(row, row + 1);
    Q_EMIT swapped(row);
}

void BookQueue::setBookName(int row, const QString &name)
{
    if (!hasRow(row))
        return;
    m_rows[row].entry.BookName = storableText(name);
    touched(row);
}

void BookQueue::setPagesDone(int row, int pagesDone)
{
    if (!hasRow(row))
        return;
    m_rows[row].entry.PagesDone = pagesDone;
    touched(row);
}

void BookQueue::setStatus(int row, BookStatus status)
{
    if (!hasRow(row))
        return;
    m_rows[row].entry.Status = status;
    touched(row);
}

void BookQueue::setCurrentUrl(int row, const QUrl &url)
{
    if (!hasRow(row))
        return;
    m_rows[row].entry.CurrentUrl = url;
    touched(row);
}

std::optional<QString> BookQueue::storedLine(int row) const
{
    return hasRow(row) ? m_rows.at(row).storedLine : std::nullopt;
}

void BookQueue::touched(int row)
{
    m_rows[row].storedLine.reset();
    Q_EMIT changed(row);
}

} // namespace qh::core
