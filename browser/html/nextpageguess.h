#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace qh::browser {

// A cheap guess at a page's next-page address from its raw bytes, made before the page is parsed: the href of the
// first <a> whose content is exactly linkName (as GB18030 or UTF-8 bytes), resolved against pageUrl. Empty when
// the guess would be unsure: a link name with markup or entities, a <base> element, an href with entities other
// than &amp;, or no such link. A guess is only ever used when the parsed page asks for the very same address.
QUrl guessNextPageUrl(const QByteArray &body, const QUrl &pageUrl, const QString &linkName);

} // namespace qh::browser
