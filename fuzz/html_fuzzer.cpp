#include "browser/htmlparser.h"

#include <QByteArray>
#include <QUrl>

#include <cstddef>
#include <cstdint>

using namespace Qt::StringLiterals;

// Bytes -> document -> every element operation. A first byte below 8 picks a Content-Type (and is not part of the
// page) so the header path of the charset sniffing is reached too; innerText and innerHTML are read for the first
// elements only, to keep runs fast.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QByteArray contentTypes[] = {
        QByteArray(),
        QByteArrayLiteral("text/html; charset=utf-8"),
        QByteArrayLiteral("text/html; charset=gbk"),
        QByteArrayLiteral("text/html; charset=\"big5\""),
        QByteArrayLiteral("text/html; charset=utf-16le"),
        QByteArrayLiteral("text/html; charset=replacement"),
        QByteArrayLiteral("text/html; charset=x-user-defined"),
        QByteArrayLiteral("text/html;charset=iso-2022-jp"),
    };
    QByteArray contentType;
    if (size > 0 && data[0] < std::size(contentTypes)) {
        contentType = contentTypes[data[0]];
        ++data;
        --size;
    }
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto document = qh::browser::parseHtmlDocument(bytes, contentType, QUrl(u"http://example.com/"_s));

    const qh::browser::ElementCollection all = document->all();
    const int length = all.length();
    if (length < 3)
        __builtin_trap(); // html, head and body always exist
    (void)document->title();
    for (int i = 0; i < length; ++i) {
        const qh::browser::Element element = *all.item(i);
        if (element.sourceIndex() != i || element.tagName().isEmpty())
            __builtin_trap();
        if (const auto parent = element.parentElement(); parent && parent->sourceIndex() >= i)
            __builtin_trap(); // a parent always comes before its children
        (void)element.attribute(u"href"_s);
        if (i < 64) {
            (void)element.innerText();
            (void)element.innerHTML();
            (void)element.outerHTML();
            (void)element.innerText(); // from the cache
        }
    }
    if (all.item(length) || all.item(-1))
        __builtin_trap();
    return 0;
}
