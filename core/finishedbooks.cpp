#include "core/finishedbooks.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::core {

namespace {

constexpr qint64 EndMarkBytes = 4096;
constexpr int FieldCount = 10;

// Tabs and line breaks would end a field or the line.
QString fieldText(const QString &text)
{
    QString field = text;
    for (QChar &c : field) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return field;
}

} // namespace

QByteArray fileEndMark(const QString &path, qint64 length)
{
    QFile file(path);
    if (length < 0 || !file.open(QIODevice::ReadOnly) || file.size() < length)
        return {};
    const qint64 from = std::max<qint64>(0, length - EndMarkBytes);
    if (!file.seek(from))
        return {};
    const QByteArray tail = file.read(length - from);
    if (tail.size() != length - from)
        return {};
    return QCryptographicHash::hash(tail, QCryptographicHash::Sha256).toHex();
}

const FinishedBook *FinishedBooks::find(const QString &name) const
{
    for (const FinishedBook &book : m_books) {
        if (book.name == name)
            return &book;
    }
    return nullptr;
}

void FinishedBooks::record(const FinishedBook &book)
{
    for (FinishedBook &held : m_books) {
        if (held.name == book.name) {
            held = book;
            return;
        }
    }
    m_books.append(book);
}

bool FinishedBooks::remove(const QString &name)
{
    return m_books.removeIf([&](const FinishedBook &book) { return book.name == name; }) > 0;
}

QString formatFinishedLine(const FinishedBook &book)
{
    const QStringList fields{
        fieldText(book.name),
        QString::number(book.pages),
        QString::number(book.bytes),
        book.encoding == text::Encoding::Utf8 ? u"utf-8"_s : u"gb18030"_s,
        formatKey(book.format),
        book.updated.toUTC().toString(Qt::ISODateWithMs),
        QString::fromLatin1(book.endMark),
        fieldText(book.templateName),
        QString::fromUtf8(book.lastPage.toEncoded()),
        QString(book.file).remove(u'\r').remove(u'\n'),
    };
    return fields.join(u'\t');
}

std::optional<FinishedBook> parseFinishedLine(const QString &line)
{
    const QStringList fields = line.split(u'\t');
    if (fields.size() < FieldCount || fields.at(0).isEmpty())
        return std::nullopt;
    FinishedBook book;
    bool pagesOk = false;
    bool bytesOk = false;
    book.name = fields.at(0);
    book.pages = fields.at(1).toInt(&pagesOk);
    book.bytes = fields.at(2).toLongLong(&bytesOk);
    book.encoding = fields.at(3) == u"utf-8" ? text::Encoding::Utf8 : text::Encoding::Gb18030;
    const std::optional<BookFormat> format = formatFromKey(fields.at(4));
    book.updated = QDateTime::fromString(fields.at(5), Qt::ISODate);
    book.endMark = fields.at(6).toLatin1();
    book.templateName = fields.at(7);
    // As this program writes it: an address spelt otherwise by hand (a bare "#" in a fragment) reads as it will be
    // written back.
    book.lastPage = QUrl::fromEncoded(QUrl::fromEncoded(fields.at(8).toUtf8()).toEncoded());
    // A path may itself hold a tab.
    book.file = fields.mid(9).join(u'\t');
    if (!pagesOk || !bytesOk || book.pages < 1 || book.bytes < 0 || !format || !book.lastPage.isValid() ||
        book.file.isEmpty())
        return std::nullopt;
    book.format = *format;
    return book;
}

FinishedBooks loadFinishedBooks(const QString &listFile, QList<FinishedBook> *gone)
{
    FinishedBooks books;
    if (!QFileInfo::exists(listFile))
        return books;
    for (const QString &line : text::readLines(listFile, text::Encoding::Utf8)) {
        const std::optional<FinishedBook> book = parseFinishedLine(line);
        if (!book)
            continue;
        if (!QFileInfo(book->file).isFile()) {
            if (gone)
                gone->append(*book);
            continue;
        }
        books.record(*book);
    }
    return books;
}

void saveFinishedBooks(const FinishedBooks &books, const QString &listFile)
{
    QStringList lines;
    for (const FinishedBook &book : books.books())
        lines << formatFinishedLine(book);
    text::writeLines(listFile, lines, text::Encoding::Utf8);
}

} // namespace qh::core
