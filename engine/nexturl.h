#pragma once

#include <QString>
#include <QUrl>

namespace qh::browser {
class Document;
}

namespace qh::engine {

// Turns a next-page href into the address to request, as a browser resolves a link: against the document's base
// (its first <base href>, itself resolved against the page address) or else the address the page was loaded from
// after redirects. "amp;" is removed from the href first, as pages that double-escape their query separators need.
// An href that is empty or just "#" means there is no next page: the result is an empty QUrl.
QUrl resolveNextUrl(const QUrl &pageUrl, const QString &baseHref, const QString &href);

// The href of the document's first BASE element that has one, or empty.
QString baseHrefOf(const browser::Document &document);

// A "javascript:" address: the link only works by running the page's script.
bool isScriptHref(const QString &href);

} // namespace qh::engine
