#pragma once

#include "core/bookentry.h"

#include <QString>

namespace qh::core {

class BookQueue;

// The list file "downlist.dat": GB18030 text (GBK text byte-identical), CR LF after every line, one line per row in
// queue order, the fields BookName|PagesDone|Status|CurrentUrl neither quoted nor escaped. An empty queue is an
// empty file. The strings of the format live here only: the queue holds typed rows. A book written as anything but
// text has its format as a fifth field ("|epub"), which older versions' readers pass over: they read the first four
// fields as ever.

// The line a row is stored as. A "|" in the address is written "%7C" and line breaks are dropped, so every row reads
// back as it was saved.
QString formatQueueLine(const BookEntry &entry);

// The row a line holds: NthField 0 to 3 as name, count, status word and address, and a fifth field, when the line
// has one, as the format (text unless it names another). "下载中" reads as "排队中", as no book
// is being grabbed when the list is loaded; a count that is no integer reads as -1, which the scheduler refuses.
BookEntry parseQueueLine(const QString &line);

// Rewrites the file from every row, atomically; a row unchanged since it was read is written as it was read. Rows
// that another process has added to the file since this queue last read or wrote it are appended to the queue
// first, so they are kept. Throws qh::Error when the file cannot be written.
void SaveBookList(BookQueue &queue, const QString &listFile);
// The same without looking at what the file holds now: the queue as it stands, nothing merged.
void writeBookList(const BookQueue &queue, const QString &listFile);

// Replaces the rows by those of the file; blank lines hold no row. A missing file, or one with no line that is not
// blank, leaves the rows unchanged. Throws qh::Error when the file exists but cannot be read.
void LoadBookList(BookQueue &queue, const QString &listFile);

// Field n (from 0) of a "|"-separated line: empty when the line holds no "|"; past the last field, the one before
// the last.
QString NthField(const QString &line, int n);

} // namespace qh::core
