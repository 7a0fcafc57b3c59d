#pragma once

#include "common/bookformat.h"
#include "common/textfile.h"

#include <QSet>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace qh::output {
class GrowingEpub;
}

namespace qh::engine {

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
    // core::fileEndMark() of the file at bytes, when the file must be exactly as the program left it (a finished
    // book taken up again, which hands may have changed meanwhile); empty: bytes past the checkpoint are cut off.
    QByteArray endMark;
    // How many times a script replaced the page at nextUrl in place before the next page: the pages to pass over
    // there on resume ("steps", written only when not 0).
    int nextSteps = 0;

    bool operator==(const BookCheckpoint &) const = default;
};

// The checkpoint file: "key=value" lines in UTF-8. Throws qh::Error.
void writeCheckpoint(const QString &path, const BookCheckpoint &checkpoint);
// nullopt when the file does not exist; throws qh::Error when it exists but is not a checkpoint.
std::optional<BookCheckpoint> readCheckpoint(const QString &path);
// The file of the addresses of a book's pages, beside its checkpoint: "temp/<name>.pages".
QString pagesFileOf(const QString &checkpointFile);

// Writes one book as it is grabbed: pages are taken one by one and appended to the book file in batches, each
// batch flushed to disk and followed by a new checkpoint. The text is never held whole in memory, and resuming
// reads only the checkpoint, whatever the book's size. An EPUB book is replaced atomically at each batch, with the
// chapters it held copied as they are and the batch's pages added (output::GrowingEpub); title names it there.
class BookWriter
{
public:
    BookWriter(QString bookFile, QString checkpointFile, BookFormat format = BookFormat::Text, QString title = {});
    ~BookWriter();

    // Makes the book ready to take pages. A book with a checkpoint resumes from it: its file must be there and hold
    // at least the checkpoint's bytes (more are cut off), and it keeps its own encoding whatever encoding says. A
    // book without one either starts anew (pagesDone 0: an existing file is replaced) or, with pages done, is an
    // older version's file: it must exist and read cleanly in encoding (an EPUB book: hold at least that many
    // chapters). Returns the checkpoint the grab goes on from. Throws qh::Error naming the file when the book cannot
    // be resumed, or when its checkpoint is of another format.
    BookCheckpoint open(int pagesDone, const QUrl &url, text::Encoding encoding, const QString &templateName = {});

    // The addresses of the pages the book holds, as far as they were recorded (books begun by older versions: only
    // those of later runs).
    const QSet<QUrl> &pageUrls() const { return m_pageUrls; }

    // A whole page; nextUrl is where the book goes on (empty after its last page).
    // pageUrl: the page's own address. nextSteps: see BookCheckpoint.
    void addPage(const QString &title, const QString &text, const QUrl &pageUrl, const QUrl &nextUrl,
                 int nextSteps = 0);
    bool hasPendingPages() const { return m_pendingPages > 0; }
    // The bytes of the pages not yet on disk.
    qsizetype pendingBytes() const;

    // Appends the pages taken since the last commit, flushes them and writes the checkpoint. On failure the file is
    // cut back to the last checkpoint, which stays in force, and qh::Error names the file and the cause.
    const BookCheckpoint &commit();
    const BookCheckpoint &committed() const { return m_committed; }

    // The book is complete: its checkpoint is no longer needed. keepPageUrls keeps the addresses of its pages, for a
    // later update's loop guard.
    void finish(bool keepPageUrls = false);

    const QString &bookFile() const { return m_bookFile; }

private:
    void readPageUrls();
    void openEpub(int pages);
    void requireUnchanged(const BookCheckpoint &saved) const;
    void clearPending();

    const QString m_bookFile;
    const QString m_checkpointFile;
    const QString m_pagesFile; // the pages' addresses, a line each, in the order of the book
    QSet<QUrl> m_pageUrls;
    QByteArray m_pendingUrls;
    BookCheckpoint m_committed;
    QByteArray m_pending; // encoded as they come, so a batch costs its size in the file, not twice that in UTF-16
    int m_pendingPages = 0;
    QUrl m_pendingNextUrl;
    const BookFormat m_format;
    std::unique_ptr<output::GrowingEpub> m_epub; // an EPUB book's file
    QString m_epubTitle;
    QUrl m_pendingLastPageUrl;
    int m_pendingNextSteps = 0;
};

} // namespace qh::engine
