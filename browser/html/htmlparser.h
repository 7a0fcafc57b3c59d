#pragma once

#include "browser/html/staticdocument.h"

#include <QByteArray>
#include <QUrl>

#include <memory>
#include <stop_token>

namespace qh::browser {

// Sniffs the character set, decodes and parses. Thread-safe and reentrant: touches no Qt event loop and no shared
// state, so callers run it on a worker thread. Never throws except std::bad_alloc. Returns a complete document
// for any bytes (an empty or binary page gives a document with the html/head/body elements Gumbo makes).
//
// The tree is the one a browser with scripting enabled builds: the contents of a noscript element are its text.
std::shared_ptr<const StaticDocument> parseHtmlDocument(const QByteArray &bytes, const QByteArray &contentTypeHeader,
                                                        const QUrl &url);

// The same, abandoned as soon as stop is requested: then the result is null. Gumbo needs time quadratic in the
// nesting depth (300 000 nested divs take minutes), so a caller with a time limit must be able to end the work
// and not merely stop waiting for it.
std::shared_ptr<const StaticDocument> parseHtmlDocumentUntil(const QByteArray &bytes,
                                                             const QByteArray &contentTypeHeader, const QUrl &url,
                                                             std::stop_token stop);

// The same for text already decoded (tests and callers that know the text).
std::shared_ptr<const StaticDocument> parseHtmlText(const QString &text, const QUrl &url, std::stop_token stop = {});

} // namespace qh::browser
