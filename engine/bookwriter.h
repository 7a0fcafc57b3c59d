#pragma once

#include "common/bookformat.h"
#include "common/textfile.h"
#include "core/bookcheckpoint.h"

#include <QSet>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace qh::output {
class GrowingEpub;
}

namespace qh::engine {

using core::BookCheckpoint;
using core::pagesFileOf;
using core::readCheckpoint;
using core::writeCheckpoint;

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
