#include "engine/bookwriter.h"

#include "common/error.h"
#include "engine/bookfile.h"
#include "output/growingepub.h"

#include "core/finishedbooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace qh::engine {

namespace {

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Whether bytes read as text in encoding: valid UTF-8 for UTF-8, and for GB18030 not a UTF-8 text with characters
// beyond ASCII (Chinese UTF-8 text is never meant as GB18030, though its bytes may pass as such).
bool readsAs(const QByteArray &bytes, text::Encoding encoding)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString decoded = utf8.decode(bytes);
    const bool validUtf8 = !utf8.hasError();
    if (encoding == text::Encoding::Utf8)
        return validUtf8;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    return ascii || !validUtf8;
}

} // namespace

BookWriter::BookWriter(QString bookFile, QString checkpointFile, BookFormat format, QString title)
    : m_bookFile(std::move(bookFile)), m_checkpointFile(std::move(checkpointFile)),
      m_pagesFile(pagesFileOf(m_checkpointFile)), m_format(format)
{
    if (m_format == BookFormat::Epub) {
        // A book resumed keeps the identifier its file has; this one stands in for a file that has none.
        output::EpubBook book{title, u"zh"_s, output::epubIdentifier(title), {}};
        m_epub = std::make_unique<output::GrowingEpub>(m_bookFile, book);
        m_epubTitle = std::move(title);
    }
}

BookWriter::~BookWriter() = default;

qsizetype BookWriter::pendingBytes() const
{
    return m_epub ? m_epub->pendingBytes() : m_pending.size();
}

void BookWriter::clearPending()
{
    m_pending.clear();
    m_pendingUrls.clear();
    m_pendingPages = 0;
    m_pendingNextUrl.clear();
    m_pendingLastPageUrl.clear();
    m_pendingNextSteps = 0;
    if (m_epub)
        m_epub->discardPending();
}

// A finished book taken up again must be exactly as the program left it: appending to a file edited by hand would
// put the new chapters after whatever is there now.
void BookWriter::requireUnchanged(const BookCheckpoint &saved) const
{
    const QFileInfo file(m_bookFile);
    if (saved.endMark.isEmpty() || !file.exists())
        return;
    if (file.size() != saved.bytes || core::fileEndMark(m_bookFile, saved.bytes) != saved.endMark)
        throw Error(u"这本书的文件“%1”在下载完以后被改动过（现在 %2 字节，当时 %3 字节），不能接着往后写。"
                    u"请把文件恢复原样，或删除这本书后重新下载。"_s.arg(nativePath(m_bookFile))
                        .arg(file.size())
                        .arg(saved.bytes));
}

// The EPUB book as the grab goes on from it: at least pages chapters, and no more.
void BookWriter::openEpub(int pages)
{
    if (!QFileInfo::exists(m_bookFile))
        throw Error(u"找不到这本书的文件“%1”（已下载 %2 页），无法续传。请把文件放回原处，或删除这本书后重新下载。"_s
                        .arg(nativePath(m_bookFile))
                        .arg(pages));
    m_epub->open();
    if (m_epub->pagesInFile() < pages)
        throw Error(
            u"这本书的文件“%1”比记录的短（%2 章，应有 %3 章），可能被改动过，无法续传。"_s.arg(nativePath(m_bookFile))
                .arg(m_epub->pagesInFile())
                .arg(pages));
    if (m_epub->pagesInFile() > pages)
        m_epub->write(pages); // chapters whose checkpoint never landed
}

BookCheckpoint BookWriter::open(int pagesDone, const QUrl &url, text::Encoding encoding, const QString &templateName)
{
    clearPending();
    m_pageUrls.clear();
    std::optional<BookCheckpoint> saved = readCheckpoint(m_checkpointFile);
    // A checkpoint of no pages holds nothing to resume; the row says where the book begins.
    if (saved && saved->pages == 0)
        saved.reset();
    if (saved && saved->format != m_format)
        throw Error(u"这本书的进度记录“%1”是按%2格式写的，与这本书现在的格式不符，无法续传。"_s.arg(
            nativePath(m_checkpointFile), formatKey(saved->format)));
    if (saved && m_epub) {
        requireUnchanged(*saved);
        openEpub(saved->pages);
        m_committed = *saved;
        readPageUrls();
        return m_committed;
    }
    if (saved) {
        const QFileInfo file(m_bookFile);
        if (!file.exists())
            throw Error(
                u"找不到这本书的文件“%1”（已下载 %2 页），无法续传。请把文件放回原处，或删除这本书后重新下载。"_s
                    .arg(nativePath(m_bookFile))
                    .arg(saved->pages));
        if (file.size() < saved->bytes)
            throw Error(u"这本书的文件“%1”比记录的短（%2 字节，应有 %3 字节），可能被改动过，无法续传。"_s
                            .arg(nativePath(m_bookFile))
                            .arg(file.size())
                            .arg(saved->bytes));
        requireUnchanged(*saved);
        if (file.size() > saved->bytes)
            text::truncateFile(m_bookFile, saved->bytes); // pages whose checkpoint never landed
        m_committed = *saved;
        readPageUrls();
        return m_committed;
    }

    m_committed = BookCheckpoint();
    m_committed.pages = pagesDone;
    m_committed.nextUrl = url;
    m_committed.encoding = encoding;
    m_committed.templateName = templateName;
    m_committed.format = m_format;
    QFile::remove(m_pagesFile);
    if (m_epub) {
        if (pagesDone > 0) {
            openEpub(pagesDone);
        } else {
            // A book begun anew replaces the file at its first batch; until then no stale book stands in its place.
            QFile::remove(m_bookFile);
            m_epub = std::make_unique<output::GrowingEpub>(
                m_bookFile, output::EpubBook{m_epubTitle, u"zh"_s, output::epubIdentifier(url.toString()), {}});
        }
    } else if (pagesDone > 0) {
        // A book an older version began: its file is all there is to go on.
        if (!QFileInfo::exists(m_bookFile))
            throw Error(
                u"找不到这本书的文件“%1”（已下载 %2 页），无法续传。请把文件放回原处，或删除这本书后重新下载。"_s
                    .arg(nativePath(m_bookFile))
                    .arg(pagesDone));
        const QByteArray bytes = text::readFile(m_bookFile, qint64(1) << 32);
        if (!readsAs(bytes, encoding))
            throw Error(
                u"这本书的文件“%1”不是用现在设置的编码（%2）写的，续传会把它写乱。请改回原来的编码再续传。"_s.arg(
                    nativePath(m_bookFile), core::encodingName(encoding)));
        m_committed.bytes = bytes.size();
    } else {
        text::writeFileAtomically(m_bookFile, QByteArray());
    }
    writeCheckpoint(m_checkpointFile, m_committed);
    return m_committed;
}

void BookWriter::readPageUrls()
{
    if (!QFileInfo::exists(m_pagesFile))
        return;
    QStringList lines = text::readLines(m_pagesFile, text::Encoding::Utf8);
    // Addresses past the checkpoint belong to pages cut off with it.
    const qsizetype kept = std::min<qsizetype>(lines.size(), m_committed.pages);
    if (lines.size() > kept) {
        lines = lines.first(kept);
        text::writeLines(m_pagesFile, lines, text::Encoding::Utf8);
    }
    for (const QString &line : std::as_const(lines))
        m_pageUrls.insert(QUrl::fromEncoded(line.toUtf8()));
}

void BookWriter::addPage(const QString &title, const QString &text, const QUrl &pageUrl, const QUrl &nextUrl,
                         int nextSteps)
{
    m_pendingUrls += pageUrl.toEncoded() + "\r\n";
    m_pageUrls.insert(pageUrl);
    if (m_epub)
        m_epub->addPage(title, text);
    else
        m_pending += formatBookText({title, text}, m_committed.encoding);
    ++m_pendingPages;
    m_pendingNextUrl = nextUrl;
    m_pendingLastPageUrl = pageUrl;
    m_pendingNextSteps = nextSteps;
}

const BookCheckpoint &BookWriter::commit()
{
    if (m_pendingPages == 0)
        return m_committed;
    const QByteArray &bytes = m_pending;
    BookCheckpoint next = m_committed;
    next.pages += m_pendingPages;
    next.bytes += bytes.size();
    next.endMark.clear(); // the file goes on past where it was left
    if (!m_pendingLastPageUrl.isEmpty())
        next.lastPageUrl = m_pendingLastPageUrl;
    if (!m_pendingNextUrl.isEmpty()) {
        next.nextUrl = m_pendingNextUrl;
        next.nextSteps = m_pendingNextSteps;
        next.afterNextUrl = false;
    } else if (!m_pendingLastPageUrl.isEmpty()) {
        // The book's last page is in: should the book resume before it is closed, it asks that page for a next link
        // rather than take it again.
        next.nextUrl = m_pendingLastPageUrl;
        next.nextSteps = 0;
        next.afterNextUrl = true;
    }
    if (m_epub)
        m_epub->write(m_committed.pages); // replaced whole: on failure the old book stands
    else
        text::appendToFile(m_bookFile, bytes);
    try {
        // Only used to end a book that links back into itself: a failure here is not the book's.
        try {
            text::appendToFile(m_pagesFile, m_pendingUrls, false);
        } catch (const Error &) {
        }
        writeCheckpoint(m_checkpointFile, next);
    } catch (const Error &) {
        // The pages are in the file but not in the checkpoint: cut them off, so the two agree (an EPUB book's are
        // cut when it resumes).
        if (!m_epub) {
            try {
                text::truncateFile(m_bookFile, m_committed.bytes);
            } catch (const Error &) {
            }
        }
        throw;
    }
    m_committed = next;
    m_pending.clear();
    m_pendingUrls.clear();
    m_pendingPages = 0;
    return m_committed;
}

void BookWriter::finish(bool keepPageUrls)
{
    QFile::remove(m_checkpointFile);
    if (!keepPageUrls)
        QFile::remove(m_pagesFile);
}

} // namespace qh::engine
