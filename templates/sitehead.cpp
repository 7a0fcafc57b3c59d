#include "templates/sitehead.h"

using namespace Qt::StringLiterals;

namespace qh::templates {

namespace {

constexpr QStringView Http = u"http://";
constexpr QStringView Https = u"https://";

// Only A-Z: other letters of an address stay as typed.
QString asciiLower(const QString &text)
{
    QString lower = text;
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return lower;
}

// The host part of an http or https head; a null view for any other head.
QStringView hostPart(QStringView head)
{
    if (head.startsWith(Http))
        return head.sliced(Http.size());
    if (head.startsWith(Https))
        return head.sliced(Https.size());
    return {};
}

} // namespace

QString SiteHeadOf(const QString &address)
{
    const QString lower = asciiLower(address);
    if (lower.startsWith(Http)) {
        // Kept exactly as existing template files expect, including "http://" alone for an address with no "/"
        // after the host.
        const qsizetype slash = lower.indexOf(u'/', Http.size());
        return slash < 0 ? Http.toString() : lower.left(slash);
    }
    // Without this, no https site could ever be served by a template.
    if (lower.startsWith(Https)) {
        const qsizetype slash = lower.indexOf(u'/', Https.size());
        return slash < 0 ? lower : lower.left(slash);
    }
    return QString();
}

bool headsMatch(QStringView templateHead, QStringView pageHead)
{
    if (templateHead == pageHead)
        return true;
    const QStringView templateHost = hostPart(templateHead);
    return !templateHost.isEmpty() && templateHost == hostPart(pageHead);
}

} // namespace qh::templates
