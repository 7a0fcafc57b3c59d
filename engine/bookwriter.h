#pragma once

#include "common/textfile.h"

#include <QSet>
#include <QStringList>
#include <QUrl>

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
    // How many times a script replaced the page at nextUrl in place before the next page: the pages to pass over
    // there on resume ("steps", written only when not 0).
    int nextSteps = 0;

    bool operator==(const BookCheckpoint &) const = default;
};

// The checkpoint file: "key=value" lines in UTF-8. Throws qh::Error.
void writeCheckpoint(const QString &path, const BookCheckpoint &checkpoint);
// nullopt when the file does not exist; throws qh::Error when it exists but is not a checkpoint.
std::optional<BookCheckpoint> readCheckpoint(const QString &path);

// Writes one book as it is grabbed: pages are taken one by one and appended to the book file in batches, each
// batch flushed to disk and followed by a new checkpoint. The text is never held whole in memory, and resuming
// reads only the checkpoint, whatever the book's size.
class BookWriter
{
public:
    BookWriter(QString bookFile, QString checkpointFile);

    // Makes the book ready to take pages. A book with a checkpoint resumes from it: its file must be there and hold
    // at least the checkpoint's bytes (more are cut off), and it keeps its own encoding whatever encoding says. A
    // book without one either starts anew (pagesDone 0: an existing file is replaced) or, with pages done, is an
    // older version's file: it must exist and read cleanly in encoding. Returns the checkpoint the grab goes on
    // from. Throws qh::Error naming the file when the book cannot be resumed.
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
    qsizetype pendingBytes() const { return m_pending.size(); }

    // Appends the pages taken since the last commit, flushes them and writes the checkpoint. On failure the file is
    // cut back to the last checkpoint, which stays in force, and qh::Error names the file and the cause.
    const BookCheckpoint &commit();
    const BookCheckpoint &committed() const { return m_committed; }

    // The book is complete: its checkpoint is no longer needed.
    void finish();

    const QString &bookFile() const { return m_bookFile; }

private:
    void readPageUrls();

    const QString m_bookFile;
    const QString m_checkpointFile;
    const QString m_pagesFile; // the pages' addresses, a line each, in the order of the book
    QSet<QUrl> m_pageUrls;
    QByteArray m_pendingUrls;
    BookCheckpoint m_committed;
    QByteArray m_pending; // encoded as they come, so a batch costs its size in the file, not twice that in UTF-16
    int m_pendingPages = 0;
    QUrl m_pendingNextUrl;
    int m_pendingNextSteps = 0;
};

} // namespace qh::engine
