#include "core/bookentry.h"

using namespace Qt::StringLiterals;

namespace qh::core {

namespace {

const QString QueuedWord = u"排队中"_s;
const QString DownloadingWord = u"下载中"_s;
const QString DownloadedWord = u"已下载"_s;

} // namespace

QString statusWord(BookStatus status)
{
    switch (status) {
    case BookStatus::Queued:
        return QueuedWord;
    case BookStatus::Downloading:
        return DownloadingWord;
    case BookStatus::Downloaded:
        return DownloadedWord;
    case BookStatus::Unknown:
        break;
    }
    return QString();
}

BookStatus statusOfWord(const QString &word)
{
    if (word == QueuedWord)
        return BookStatus::Queued;
    if (word == DownloadingWord)
        return BookStatus::Downloading;
    if (word == DownloadedWord)
        return BookStatus::Downloaded;
    return BookStatus::Unknown;
}

QString trimControls(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

QUrl addressFromText(const QString &text)
{
    return QUrl(trimControls(text), QUrl::TolerantMode);
}

QString storableText(const QString &text)
{
    QString result = text;
    result.replace(u'|', u'｜');
    result.replace(u'\r', u' ');
    result.replace(u'\n', u' ');
    return result;
}

} // namespace qh::core
