#pragma once

#include "core/bookformat.h"

#include <QString>

namespace qh::core {

// One file-name component that Linux and Windows both accept and that cannot leave its folder: \ / : * ? " < > |,
// control characters and unpaired surrogates become "_", spaces and dots at either end are removed, an empty result
// becomes "_" and a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension) gets a
// leading "_". Book names come from web page titles, so every file named after a book goes through this.
QString safeFileName(const QString &name);

// The book's text file: saveFolder, "/", the safe form of the first 15 UTF-16 code units of bookName, ".txt".
QString BookFilePath(const QString &saveFolder, const QString &bookName);
// The same with the extension of the book's format: ".txt" or ".epub".
QString BookFilePath(const QString &saveFolder, const QString &bookName, BookFormat format);

// The book's work file, which this program never writes but deletes with its book: tempFolder, "/", the safe form
// of the whole bookName, ".lst".
QString BookWorkFilePath(const QString &tempFolder, const QString &bookName);

} // namespace qh::core
