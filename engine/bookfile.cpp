#include "engine/bookfile.h"

namespace qh::engine {

QByteArray formatBookText(const QStringList &contentList, text::Encoding encoding)
{
    QString text;
    qsizetype total = 0;
    for (const QString &entry : contentList)
        total += entry.size() + 2;
    text.reserve(total + total / 16);

    // Runs of plain characters are copied whole; a book holds millions of characters and few line breaks.
    for (const QString &entry : contentList) {
        const QChar *chars = entry.constData();
        const qsizetype size = entry.size();
        qsizetype runStart = 0;
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = chars[i].unicode();
            if (c != u'\r' && c != u'\n' && c != u'\u00A0')
                continue;
            text.append(chars + runStart, i - runStart);
            if (c == u'\u00A0') {
                text += u' ';
            } else {
                if (c == u'\r' && i + 1 < size && chars[i + 1] == u'\n')
                    ++i;
                text += u"\r\n";
            }
            runStart = i + 1;
        }
        text.append(chars + runStart, size - runStart);
        text += u"\r\n";
    }
    return text::encode(text, encoding);
}

void writeBookFile(const QString &path, const QStringList &contentList, text::Encoding encoding)
{
    text::writeFileAtomically(path, formatBookText(contentList, encoding));
}

QStringList readBookFile(const QString &path, text::Encoding encoding)
{
    // A finished book can be large; the cap only guards against reading something that is no book at all.
    return text::splitLines(text::decode(text::readFile(path, qint64(1) << 30), encoding));
}

} // namespace qh::engine
