#include "core/safefilename.h"

#include <QDir>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::core {

namespace {

// The part before the first dot counts: Windows takes "NUL.txt" and "con .tar.gz" for the device as well.
bool isReservedDeviceName(const QString &name)
{
    QString base = name.section(u'.', 0, 0);
    while (base.endsWith(u' '))
        base.chop(1);
    base = base.toUpper();
    static const QStringList plain = {u"CON"_s, u"PRN"_s, u"AUX"_s, u"NUL"_s};
    if (plain.contains(base))
        return true;
    return base.size() == 4 && (base.startsWith(u"COM"_s) || base.startsWith(u"LPT"_s)) && base.at(3) >= u'1' &&
           base.at(3) <= u'9';
}

bool isForbidden(QChar c)
{
    static const QString forbidden = u"\\/:*?\"<>|"_s;
    return c.category() == QChar::Other_Control || forbidden.contains(c);
}

QString joined(const QString &folder, const QString &fileName)
{
    return QDir(folder).filePath(fileName);
}

} // namespace

QString safeFileName(const QString &name)
{
    QString result;
    result.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            result += c;
            result += name.at(++i);
        } else if (c.isSurrogate() || isForbidden(c)) {
            result += u'_';
        } else {
            result += c;
        }
    }

    qsizetype begin = 0;
    qsizetype end = result.size();
    while (begin < end && (result.at(begin) == u' ' || result.at(begin) == u'.'))
        ++begin;
    while (end > begin && (result.at(end - 1) == u' ' || result.at(end - 1) == u'.'))
        --end;
    result = result.mid(begin, end - begin);

    if (result.isEmpty())
        return u"_"_s;
    if (isReservedDeviceName(result))
        result.prepend(u'_');
    return result;
}

QString BookFilePath(const QString &saveFolder, const QString &bookName)
{
    return BookFilePath(saveFolder, bookName, BookFormat::Text);
}

QString BookFilePath(const QString &saveFolder, const QString &bookName, BookFormat format)
{
    return joined(saveFolder, safeFileName(bookName.left(15)) + (format == BookFormat::Epub ? u".epub"_s : u".txt"_s));
}

QString BookWorkFilePath(const QString &tempFolder, const QString &bookName)
{
    return joined(tempFolder, safeFileName(bookName) + u".lst"_s);
}

} // namespace qh::core
