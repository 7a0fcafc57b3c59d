#include "engine/bookfile.h"

namespace qh::engine {

QByteArray formatBookText(const QStringList &contentList, text::Encoding encoding)
{
    QString text;
    qsizetype total = 0;
    for (const QString &entry : contentList)
        total += entry.size() + 2;
    text.reserve(total + total / 16);

    for (const QString &entry : contentList) {
        const qsizetype size = entry.size();
        for (qsizetype i = 0; i < size; ++i) {
            const QChar c = entry.at(i);
            if (c == u'\r') {
                if (i + 1 < size && entry.at(i + 1) == u'\n')
                    ++i;
                text += u"\r\n";
            } else if (c == u'\n') {
                text += u"\r\n";
            } else if (c == QChar(0x00A0)) {
                text += u' ';
            } else {
                text += c;
            }
        }
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
