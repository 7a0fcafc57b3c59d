#include "browser/html/nextpageguess.h"

#include <QByteArrayMatcher>
#include <QRegularExpression>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

namespace qh::browser {

namespace {

// How far back from the link text its start tag may begin.
constexpr qsizetype MaxTagLength = 2048;

bool startsWithCaseInsensitive(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() && qstrnicmp(text.data(), prefix.size(), prefix.data(), prefix.size()) == 0;
}

// Whether text holds needle, which starts with a character that has no case, whatever the case of the rest.
// Without lower-casing a copy of the whole page, which this runs on for every page: memchr finds the candidates.
bool containsCaseInsensitive(QByteArrayView text, QByteArrayView needle)
{
    const char *const end = text.data() + text.size();
    for (const char *at = text.data(); end - at >= needle.size(); ++at) {
        at = static_cast<const char *>(std::memchr(at, needle.front(), std::size_t(end - at)));
        if (!at)
            return false;
        if (startsWithCaseInsensitive(QByteArrayView(at, end - at), needle))
            return true;
    }
    return false;
}

// The href of the start tag that ends just before position end (at a '>'), if that tag is an <a>.
std::optional<QByteArray> hrefOfTagBefore(const QByteArray &body, qsizetype end)
{
    const qsizetype from = std::max<qsizetype>(0, end - MaxTagLength);
    const qsizetype open = body.lastIndexOf('<', end);
    if (open < from)
        return std::nullopt;
    const QByteArrayView tag(body.constData() + open, end - open);
    if (!startsWithCaseInsensitive(tag, "<a ") && !startsWithCaseInsensitive(tag, "<a\t") &&
        !startsWithCaseInsensitive(tag, "<a\n") && !startsWithCaseInsensitive(tag, "<a\r"))
        return std::nullopt;
    static const QRegularExpression href(QStringLiteral(R"re(\shref\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = href.match(QString::fromLatin1(tag));
    if (!match.hasMatch())
        return std::nullopt;
    for (int group = 1; group <= 3; ++group) {
        if (match.capturedStart(group) >= 0)
            return match.captured(group).toLatin1();
    }
    return std::nullopt;
}

} // namespace

QUrl guessNextPageUrl(const QByteArray &body, const QUrl &pageUrl, const QString &linkName)
{
    if (linkName.isEmpty() || linkName.contains(u'<') || linkName.contains(u'&'))
        return {};
    if (containsCaseInsensitive(body, "<base"))
        return {};

    // A book asks with the same link name for every page: its two byte forms are made once per thread.
    struct Needles
    {
        QString linkName;
        QByteArrayMatcher matchers[2];
    };
    thread_local Needles needles;
    if (needles.linkName != linkName) {
        QStringEncoder gb18030("GB18030");
        needles.matchers[0].setPattern('>' + QByteArray(gb18030.encode(linkName)) + "</");
        needles.matchers[1].setPattern('>' + linkName.toUtf8() + "</");
        needles.linkName = linkName;
    }
    for (const QByteArrayMatcher &matcher : needles.matchers) {
        const qsizetype needleSize = matcher.pattern().size();
        for (qsizetype at = matcher.indexIn(body); at >= 0; at = matcher.indexIn(body, at + 1)) {
            const qsizetype close = at + needleSize;
            if (close >= body.size() || (body.at(close) != 'a' && body.at(close) != 'A'))
                continue;
            std::optional<QByteArray> href = hrefOfTagBefore(body, at);
            if (!href)
                continue;
            href->replace("&amp;", "&");
            static const QRegularExpression entity(QStringLiteral("&#?\\w+;"));
            if (href->contains('&') && entity.match(QString::fromLatin1(*href)).hasMatch())
                return {};
            QUrl next = pageUrl.resolved(QUrl(QString::fromUtf8(href->trimmed())));
            next.setFragment(QString());
            if (next.scheme() != u"http" && next.scheme() != u"https")
                return {};
            return next;
        }
    }
    return {};
}

} // namespace qh::browser
