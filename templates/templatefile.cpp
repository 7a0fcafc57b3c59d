#include "templates/templatefile.h"

#include "common/textfile.h"

#include <QRandomGenerator>

namespace qh::templates {

namespace {

// The key byte: the second character of the built-in key text.
constexpr char KeyText[] = "quorvane";
constexpr quint8 Key = quint8(KeyText[1]);

constexpr char HexDigits[] = "0123456789ABCDEF";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The offending digits as the user should see them: printable ASCII as it is, anything else as \xNN.
QString describeDigits(QByteArrayView digits)
{
    QString text;
    for (const char c : digits) {
        const auto byte = quint8(c);
        if (byte >= 0x20 && byte < 0x7F)
            text += QChar(QLatin1Char(c));
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

// Validates before converting: QByteArray::fromHex would silently skip anything that is not a digit.
quint8 pairValue(QByteArrayView pair)
{
    const int high = hexValue(pair[0]);
    const int low = hexValue(pair[1]);
    if (high < 0 || low < 0)
        throw conversionError(u'$' + describeDigits(pair));
    return quint8(high * 16 + low);
}

} // namespace

Error conversionError(const QString &text)
{
    return Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

int toTemplateInt(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        throw conversionError(text);
    return value;
}

QByteArray ScrambleText(const QByteArray &plain)
{
    QByteArray digits;
    digits.reserve(2 + 2 * plain.size());
    const auto append = [&digits](quint8 value) {
        digits.append(HexDigits[value >> 4]);
        digits.append(HexDigits[value & 0x0F]);
    };
    quint8 previous = quint8(QRandomGenerator::system()->bounded(256));
    append(previous);
    for (const char c : plain) {
        // The modulus is 255, not 256: the file format depends on it.
        const quint8 mixed = quint8((quint8(c) + previous) % 255);
        previous = mixed ^ Key;
        append(previous);
    }
    return digits;
}

QByteArray UnscrambleText(const QByteArray &digits)
{
    if (digits.size() < 2)
        throw conversionError(u'$' + describeDigits(digits));
    const QByteArrayView view(digits);
    quint8 previous = pairValue(view.first(2));
    QByteArray plain;
    plain.reserve(digits.size() / 2 - 1);
    // A single digit left over at the end is ignored.
    for (qsizetype i = 2; i + 1 < digits.size(); i += 2) {
        const quint8 value = pairValue(view.sliced(i, 2));
        const int mixed = value ^ Key;
        plain.append(char(mixed > previous ? mixed - previous : mixed + 255 - previous));
        previous = value;
    }
    return plain;
}

TemplateStore parseTemplateFile(const QByteArray &fileBytes)
{
    QByteArray digits = fileBytes;
    digits.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return TemplateStore(text::splitLines(text::decode(UnscrambleText(digits))));
}

TemplateStore LoadTemplateFile(const QString &path)
{
    return parseTemplateFile(text::readFile(path, MaxTemplateFileBytes));
}

QByteArray formatTemplateFile(const TemplateStore &store)
{
    return ScrambleText(text::joinLines(store.lines())) + "\r\n";
}

void SaveTemplateFile(const QString &path, const TemplateStore &store)
{
    text::writeFileAtomically(path, formatTemplateFile(store));
}

} // namespace qh::templates
