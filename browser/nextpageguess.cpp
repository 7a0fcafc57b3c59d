#include "browser/nextpageguess.h"

#include <QByteArrayMatcher>
#include <QRegularExpression>
#include <QStringEncoder>

#include <algorithm>

namespace qh::browser {

namespace {

// How far back from the link text its start tag may begin.
constexpr qsizetype MaxTagLength = 2048;

bool startsWithCaseInsensitive(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() && qstrnicmp(text.data(), prefix.size(), prefix.data(), prefix.size()) == 0;
}

// Without lower-casing a copy of the whole page, which this runs on for every page.
bool containsCaseInsensitive(QByteArrayView text, QByteArrayView needle)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    const auto equalIgnoringCase = [&lower](char a, char b) { return lower(a) == lower(b); };
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), equalIgnoringCase) != text.end();
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

    QStringEncoder gb18030("GB18030");
    for (const QByteArray &name : {QByteArray(gb18030.encode(linkName)), linkName.toUtf8()}) {
        const QByteArray needle = '>' + name + "</";
        const QByteArrayMatcher matcher(needle);
        for (qsizetype at = matcher.indexIn(body); at >= 0; at = matcher.indexIn(body, at + 1)) {
            const qsizetype close = at + needle.size();
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
