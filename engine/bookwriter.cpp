#include "engine/bookwriter.h"

#include "common/error.h"
#include "engine/bookfile.h"

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

QString encodingName(text::Encoding encoding)
{
    return encoding == text::Encoding::Utf8 ? u"utf-8"_s : u"gb18030"_s;
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

void writeCheckpoint(const QString &path, const BookCheckpoint &checkpoint)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList lines = {u"pages="_s + QString::number(checkpoint.pages),
                         u"bytes="_s + QString::number(checkpoint.bytes),
                         u"encoding="_s + encodingName(checkpoint.encoding),
                         u"url="_s + QString::fromUtf8(checkpoint.nextUrl.toEncoded()),
                         u"template="_s + QString(checkpoint.templateName).remove(u'\r').remove(u'\n')};
    if (checkpoint.nextSteps > 0)
        lines.append(u"steps="_s + QString::number(checkpoint.nextSteps));
    text::writeLines(path, lines, text::Encoding::Utf8);
}

std::optional<BookCheckpoint> readCheckpoint(const QString &path)
{
    if (!QFileInfo::exists(path))
        return std::nullopt;
    BookCheckpoint checkpoint;
    bool pages = false;
    bool bytes = false;
    for (const QString &line : text::readLines(path, text::Encoding::Utf8)) {
        const QString key = line.section(u'=', 0, 0);
        const QString value = line.section(u'=', 1);
        bool ok = true;
        if (key == u"pages")
            checkpoint.pages = value.toInt(&ok), pages = ok;
        else if (key == u"bytes")
            checkpoint.bytes = value.toLongLong(&ok), bytes = ok;
        else if (key == u"encoding")
            checkpoint.encoding = value == u"utf-8" ? text::Encoding::Utf8 : text::Encoding::Gb18030;
        else if (key == u"url")
            checkpoint.nextUrl = QUrl::fromEncoded(value.toUtf8());
        else if (key == u"template")
            checkpoint.templateName = value;
        else if (key == u"steps")
            checkpoint.nextSteps = qMax(0, value.toInt());
    }
    if (!pages || !bytes || checkpoint.pages < 0 || checkpoint.bytes < 0)
        throw Error(u"书的进度记录“%1”已损坏，无法续传。"_s.arg(nativePath(path)));
    return checkpoint;
}

namespace {

QString pagesFileOf(const QString &checkpointFile)
{
    return (checkpointFile.endsWith(u".lst"_s) ? checkpointFile.chopped(4) : checkpointFile) + u".pages"_s;
}

} // namespace

BookWriter::BookWriter(QString bookFile, QString checkpointFile)
    : m_bookFile(std::move(bookFile)), m_checkpointFile(std::move(checkpointFile)),
      m_pagesFile(pagesFileOf(m_checkpointFile))
{}

BookCheckpoint BookWriter::open(int pagesDone, const QUrl &url, text::Encoding encoding, const QString &templateName)
{
    m_pending.clear();
    m_pendingUrls.clear();
    m_pendingPages = 0;
    m_pageUrls.clear();
    std::optional<BookCheckpoint> saved = readCheckpoint(m_checkpointFile);
    // A checkpoint of no pages holds nothing to resume; the row says where the book begins.
    if (saved && saved->pages == 0)
        saved.reset();
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
        if (file.size() > saved->bytes)
            text::truncateFile(m_bookFile, saved->bytes); // pages whose checkpoint never landed
        m_committed = *saved;
        readPageUrls();
        return m_committed;
    }

    m_committed = BookCheckpoint{pagesDone, url, 0, encoding, templateName};
    QFile::remove(m_pagesFile);
    if (pagesDone > 0) {
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
                    nativePath(m_bookFile), encodingName(encoding)));
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
    m_pending += formatBookText({title, text}, m_committed.encoding);
    ++m_pendingPages;
    m_pendingNextUrl = nextUrl;
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
    if (!m_pendingNextUrl.isEmpty()) {
        next.nextUrl = m_pendingNextUrl;
        next.nextSteps = m_pendingNextSteps;
    }
    text::appendToFile(m_bookFile, bytes);
    try {
        // Only used to end a book that links back into itself: a failure here is not the book's.
        try {
            text::appendToFile(m_pagesFile, m_pendingUrls, false);
        } catch (const Error &) {
        }
        writeCheckpoint(m_checkpointFile, next);
    } catch (const Error &) {
        // The pages are in the file but not in the checkpoint: cut them off, so the two agree.
        try {
            text::truncateFile(m_bookFile, m_committed.bytes);
        } catch (const Error &) {
        }
        throw;
    }
    m_committed = next;
    m_pending.clear();
    m_pendingUrls.clear();
    m_pendingPages = 0;
    return m_committed;
}

void BookWriter::finish()
{
    QFile::remove(m_checkpointFile);
    QFile::remove(m_pagesFile);
}

} // namespace qh::engine
