#pragma once

#include <QString>

namespace qh::app {

class BookListModel;

// The list file "downlist.dat": GB18030 text (GBK text byte-identical), CR LF after every line, one line per row in
// list order, the fields BookName|PagesDone|Status|CurrentUrl neither quoted nor escaped. An empty list is an empty
// file. The model keeps "|" out of the fields, so every row reads back as it was saved.

// Rewrites the file from every row, atomically. Throws qh::Error when the file cannot be written.
void SaveBookList(const BookListModel &model, const QString &listFile);

// Replaces the rows by those of the file; "下载中" is read back as "排队中", as no book is being grabbed when the list
// is loaded. A missing or empty file, or one whose first line is blank, leaves the rows unchanged. Throws
// qh::Error when the file exists but cannot be read.
void LoadBookList(BookListModel &model, const QString &listFile);

// Field n (from 0) of a "|"-separated line: empty when the line holds no "|"; past the last field, the one before
// the last.
QString NthField(const QString &line, int n);

} // namespace qh::app
