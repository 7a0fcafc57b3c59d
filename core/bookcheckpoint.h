#pragma once

#include "common/bookformat.h"
#include "common/textfile.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace qh::core {

// Where a book's file stands on disk: the pages it holds whole, the address of the page after them, its length and
// the encoding it is written in. Kept in the book's work file ("temp/<name>.lst") and replaced atomically after
// every append, so after a crash at any moment the book file holds at least that many bytes of whole pages; bytes
// past them are pages whose checkpoint never landed, cut off when the book resumes and fetched again.
struct BookCheckpoint
{
    int pages = 0;
    QUrl nextUrl;
    qint64 bytes = 0;
    text::Encoding encoding = text::Encoding::Gb18030;
    QString templateName; // the template the book began with: it keeps it wherever its pages move
    // An EPUB book counts chapters in its file; bytes stay what they were (a finished book's: its file's length).
    BookFormat format = BookFormat::Text;
    // nextUrl is the last page the file holds, not one to take: the book goes on from that page's next link, if it
    // has one by now. So a book whose last page is in is never asked for it twice, and an update starts there.
    bool afterNextUrl = false;
    // Where the book's file is when it is not where the book's name puts it (an update of a book written elsewhere);
    // empty otherwise.
    QString bookFile;
    // fileEndMark() of the file at bytes, when the file must be exactly as the program left it (a finished
    // book taken up again, which hands may have changed meanwhile); empty: bytes past the checkpoint are cut off.
    QByteArray endMark;
    // How many times a script replaced the page at nextUrl in place before the next page: the pages to pass over
    // there on resume ("steps", written only when not 0).
    int nextSteps = 0;
    // The address of the last page the file holds. Written for an update (bookFile set) only: should the update be
    // called off, the finished book's record goes on from that page.
    QUrl lastPageUrl;

    bool operator==(const BookCheckpoint &) const = default;
};

// The name of a book's encoding as its checkpoint writes it ("utf-8", "gb18030"); messages use it too.
QString encodingName(text::Encoding encoding);
// The checkpoint file: "key=value" lines in UTF-8. Throws qh::Error.
void writeCheckpoint(const QString &path, const BookCheckpoint &checkpoint);
// nullopt when the file does not exist; throws qh::Error when it exists but is not a checkpoint.
std::optional<BookCheckpoint> readCheckpoint(const QString &path);
// The file of the addresses of a book's pages, beside its checkpoint: "temp/<name>.pages".
QString pagesFileOf(const QString &checkpointFile);

} // namespace qh::core
