#pragma once

#include "output/epubdocuments.h"
#include "output/epubwriter.h"
#include "output/zipwriter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <future>
#include <memory>
#include <vector>

class QThreadPool;

namespace qh::output {

class ZipReader;

// An EPUB book that grows as it is grabbed, page by page. Every write makes the whole file again beside it and
// puts it in place atomically, as writeEpub() does, but the chapters the file already holds are copied as they are
// stored, still compressed: a write costs the new pages and a copy of the old bytes, never the whole book made anew.
// Pages are made into their chapter documents when they are added and deflated on a thread of the book's own while
// the grab goes on, so a write mostly copies bytes, and the pages waiting for it take about their compressed size.
class GrowingEpub
{
public:
    // book: what the package document says (the identifier a book already in the file has is kept instead).
    GrowingEpub(QString path, EpubBook book);
    ~GrowingEpub();

    GrowingEpub(const GrowingEpub &) = delete;
    GrowingEpub &operator=(const GrowingEpub &) = delete;

    // Reads the chapters the file holds: none when there is no file. Throws qh::Error naming the file when it is
    // there but is not a book this program wrote.
    void open();
    bool fileExists() const;
    // The chapters in the file as it stands.
    qsizetype pagesInFile() const { return m_fileEntries; }

    // A page for the next write().
    void addPage(QStringView title, QStringView text);
    qsizetype pendingPages() const { return qsizetype(m_pending.size()); }
    qsizetype pendingBytes() const { return m_pendingBytes; }
    // Drops the pages added since the last write.
    void discardPending();

    // Replaces the file with its first keepPages chapters and the pages added since, which then belong to the file.
    // At least one page must remain. On failure the old file is left whole, the pages stay pending and qh::Error
    // names the file and the cause.
    void write(qsizetype keepPages);

    const QString &path() const { return m_path; }

private:
    void readFile();

    QString m_path;
    EpubBook m_book;
    std::unique_ptr<ZipReader> m_file; // the book as it stands; its chapters are copied from here
    QList<epub::TocEntry> m_entries;   // every chapter: those in the file, then the pending ones
    qsizetype m_fileEntries = 0;
    std::vector<std::shared_future<DeflatedBytes>> m_pending; // the chapter documents added since the last write
    qsizetype m_pendingBytes = 0;                             // their size before deflating
    std::unique_ptr<QThreadPool> m_deflater;
};

} // namespace qh::output
