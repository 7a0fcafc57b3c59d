#pragma once

#include <QString>

namespace qh::core {

class BookQueue;

// A name a new book may take: not empty, no queued book's name begins with it (letter case ignored), no queued book
// is written to the same file, and no file of that name exists yet (text or EPUB).
bool isBookNameFree(const BookQueue &books, const QString &saveFolder, const QString &candidate);

// The name a page title gives a book: its first 15 characters.
QString bookNameFromTitle(const QString &title);

// candidate if free, else candidate (cut so that the number falls within the 15 characters that name the file)
// followed by the first number from 2 on that makes it free. For callers that cannot ask the user for another name.
QString numberedFreeBookName(const BookQueue &books, const QString &saveFolder, const QString &candidate);

} // namespace qh::core
