#include "core/bookcheckpoint.h"

#include "common/error.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::core {

QString encodingName(text::Encoding encoding)
{
    return encoding == text::Encoding::Utf8 ? u"utf-8"_s : u"gb18030"_s;
}

void writeCheckpoint(const QString &path, const BookCheckpoint &checkpoint)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList lines{u"pages="_s + QString::number(checkpoint.pages), u"bytes="_s + QString::number(checkpoint.bytes),
                      u"encoding="_s + encodingName(checkpoint.encoding),
                      u"url="_s + QString::fromUtf8(checkpoint.nextUrl.toEncoded()),
                      u"template="_s + QString(checkpoint.templateName).remove(u'\r').remove(u'\n')};
    if (checkpoint.format != BookFormat::Text)
        lines.append(u"format="_s + formatKey(checkpoint.format));
    // Written only when they say something, so the checkpoint of an ordinary book reads as it always did.
    if (checkpoint.afterNextUrl)
        lines << u"after=1"_s;
    if (!checkpoint.bookFile.isEmpty())
        lines << u"file="_s + QString(checkpoint.bookFile).remove(u'\r').remove(u'\n');
    if (!checkpoint.endMark.isEmpty())
        lines << u"end="_s + QString::fromLatin1(checkpoint.endMark);
    if (checkpoint.nextSteps > 0)
        lines.append(u"steps="_s + QString::number(checkpoint.nextSteps));
    if (!checkpoint.bookFile.isEmpty() && !checkpoint.lastPageUrl.isEmpty())
        lines << u"last="_s + QString::fromUtf8(checkpoint.lastPageUrl.toEncoded());
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
        else if (key == u"format")
            checkpoint.format = formatFromKey(value).value_or(BookFormat::Text);
        else if (key == u"after")
            checkpoint.afterNextUrl = value == u"1";
        else if (key == u"file")
            checkpoint.bookFile = value;
        else if (key == u"end")
            checkpoint.endMark = value.toLatin1();
        else if (key == u"steps")
            checkpoint.nextSteps = qMax(0, value.toInt());
        else if (key == u"last")
            checkpoint.lastPageUrl = QUrl::fromEncoded(value.toUtf8());
    }
    if (!pages || !bytes || checkpoint.pages < 0 || checkpoint.bytes < 0)
        throw Error(u"书的进度记录“%1”已损坏，无法续传。"_s.arg(QDir::toNativeSeparators(path)));
    return checkpoint;
}

QString pagesFileOf(const QString &checkpointFile)
{
    return (checkpointFile.endsWith(u".lst"_s) ? checkpointFile.chopped(4) : checkpointFile) + u".pages"_s;
}

} // namespace qh::core
