#include "output/xmltext.h"

namespace qh::output::xml {

void appendEscaped(QString &out, QStringView text)
{
    const qsizetype size = text.size();
    qsizetype runStart = 0;
    // Runs of plain characters are copied whole: a chapter is thousands of them between a few specials.
    const auto flush = [&](qsizetype end) { out.append(text.mid(runStart, end - runStart)); };
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0xD800 && c != u'&' && c != u'<' && c != u'>' && c != u'"' && c != u'\u00A0')
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (c >= 0xE000 && c <= 0xFFFD)
            continue;
        flush(i);
        runStart = i + 1;
        switch (c) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\u00A0':
            out += u' ';
            break;
        case u'\t':
        case u'\n':
        case u'\r':
            out += QChar(c);
            break;
        default:
            break; // a control character, a non-character or a lone surrogate: XML has no way to hold it
        }
    }
    flush(size);
}

QString escaped(QStringView text)
{
    QString out;
    out.reserve(text.size() + 16);
    appendEscaped(out, text);
    return out;
}

QStringList textLines(QStringView text)
{
    QStringList lines;
    if (text.isEmpty())
        return lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start).toString());
        if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    lines.append(text.mid(start).toString());
    return lines;
}

} // namespace qh::output::xml
