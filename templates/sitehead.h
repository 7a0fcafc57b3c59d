#pragma once

#include <QString>

namespace qh::templates {

// The site head of a page address, which ties templates to web sites. An http address gives "http://" plus the
// lower-cased text up to its first "/" ("http://" alone when no "/" follows), an https address likewise
// "https://" plus its lower-cased host part (up to the first "/" or the end), anything else the empty text.
QString SiteHeadOf(const QString &address);

// Whether a template with head templateHead serves a page with head pageHead: equal heads, or http and https heads
// with the same non-empty host part, so a template made on http://h serves https://h pages and the other way round.
bool headsMatch(QStringView templateHead, QStringView pageHead);

} // namespace qh::templates
