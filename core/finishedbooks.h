#pragma once

#include "common/textfile.h"
#include "core/bookformat.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qh::core {

// A book grabbed to its last page, remembered so that its new chapters can be fetched later: where its file is and
// how it is written, and where the site stood when its last page was taken.
struct FinishedBook
{
    QString name;
    QString file; // absolute path of the book's file
    text::Encoding encoding = text::Encoding::Gb18030;
    BookFormat format = BookFormat::Text;
    QString templateName; // empty: chosen by the site, as "自动" does
    QUrl lastPage;        // the address of the last page the book holds
    int pages = 0;
    qint64 bytes = 0;   // the file's length as the program left it
    QByteArray endMark; // fileEndMark() of the file as the program left it
    QDateTime updated;  // when pages last came in (UTC)

    bool operator==(const FinishedBook &) const = default;
};

// A mark of a file's last bytes up to length (at most 4 KiB of them): a file changed or cut by hand since no longer
// ends with the same mark at the same length. Empty when the file is missing or shorter than length.
QByteArray fileEndMark(const QString &path, qint64 length);

// The finished books, one per name: a book finished again under its name replaces its older record.
class FinishedBooks
{
public:
    const QList<FinishedBook> &books() const { return m_books; }
    bool isEmpty() const { return m_books.isEmpty(); }
    // The record of the book of that name, or null.
    const FinishedBook *find(const QString &name) const;
    // Adds the book, or replaces the record of its name.
    void record(const FinishedBook &book);
    // false when no book has that name.
    bool remove(const QString &name);

private:
    QList<FinishedBook> m_books;
};

// The list file "finished.dat": UTF-8 text, CR LF after every line, one line per book with tab-separated fields
// name, pages, bytes, encoding, format, updated, end mark, template, last page and, last because a path may hold
// anything but a line break, the file. The strings of the format live here only.
QString formatFinishedLine(const FinishedBook &book);
// nullopt for a line that holds no book.
std::optional<FinishedBook> parseFinishedLine(const QString &line);

// The books of the file; a missing file holds none. A book whose file no longer exists is left out and put in gone.
// Throws qh::Error when the file exists but cannot be read.
FinishedBooks loadFinishedBooks(const QString &listFile, QList<FinishedBook> *gone = nullptr);
// Replaces the file atomically. Throws qh::Error.
void saveFinishedBooks(const FinishedBooks &books, const QString &listFile);

} // namespace qh::core
