#include "app/booklistentry.h"

using namespace Qt::StringLiterals;

namespace qh::app {

QString storableText(const QString &text)
{
    QString result = text;
    result.replace(u'|', u'｜');
    result.replace(u'\r', u' ');
    result.replace(u'\n', u' ');
    return result;
}

QString storableUrl(const QString &url)
{
    QString result = url;
    result.replace(u"|"_s, u"%7C"_s);
    result.remove(u'\r');
    result.remove(u'\n');
    return result;
}

BookEntry storableEntry(const BookEntry &entry)
{
    return BookEntry{storableText(entry.BookName), storableText(entry.PagesDone), storableText(entry.Status),
                     storableUrl(entry.CurrentUrl)};
}

} // namespace qh::app
