#include "engine/nexturl.h"

#include "browser/document.h"

namespace qh::engine {

QUrl resolveNextUrl(const QUrl &pageUrl, const QString &baseHref, const QString &href)
{
    QString cleaned = href;
    cleaned.remove(QStringLiteral("amp;"));
    cleaned = cleaned.trimmed(); // browsers strip leading and trailing ASCII white space from URLs
    if (cleaned.isEmpty() || cleaned == u"#")
        return {};

    QUrl base = pageUrl;
    if (!baseHref.trimmed().isEmpty()) {
        const QUrl baseUrl = pageUrl.resolved(QUrl(baseHref.trimmed()));
        if (baseUrl.isValid())
            base = baseUrl;
    }
    QUrl target = base.resolved(QUrl(cleaned));
    target.setFragment(QString()); // a fragment names a place in the page, never another page
    return target;
}

QString baseHrefOf(const browser::Document &document)
{
    const auto all = document.all();
    const int length = all.length();
    for (int i = 0; i < length; ++i) {
        const auto element = all.item(i);
        if (element->tagName() != u"BASE")
            continue;
        if (const auto href = element->attribute(QStringLiteral("href")))
            return *href;
    }
    return {};
}

bool isScriptHref(const QString &href)
{
    return href.trimmed().startsWith(u"javascript:", Qt::CaseInsensitive);
}

} // namespace qh::engine
