#pragma once

#include "browser/html/htmlparser.h"

#include <QStringList>

#include <memory>

namespace qh::test {

inline std::shared_ptr<const browser::StaticDocument> parseUtf8(const QString &html)
{
    return browser::parseHtmlDocument(html.toUtf8(), QByteArrayLiteral("text/html; charset=utf-8"), QUrl());
}

// Every tag name of `all`, space-separated, in document order.
inline QString tagNames(const browser::Document &document)
{
    QStringList names;
    for (int i = 0; i < document.elementCount(); ++i)
        names.append(document.tagNameAt(i));
    return names.join(u' ');
}

// The first element with this tag name, or -1.
inline int indexOfTag(const browser::Document &document, const QString &tagName)
{
    for (int i = 0; i < document.elementCount(); ++i) {
        if (document.tagNameAt(i) == tagName)
            return i;
    }
    return -1;
}

// The element whose id attribute is id, or -1.
inline int indexOfId(const browser::Document &document, const QString &id)
{
    for (int i = 0; i < document.elementCount(); ++i) {
        if (document.attributeAt(i, QStringLiteral("id")) == id)
            return i;
    }
    return -1;
}

} // namespace qh::test
