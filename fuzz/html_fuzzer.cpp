#include "browser/html/authorstyles.h"
#include "browser/html/encoding.h"
#include "browser/html/htmlparser.h"
#include "browser/html/innertext.h"
#include "browser/html/staticdocument.h"
#include "browser/html/stylesheet.h"

#include <QByteArray>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// The parse of a page reads runs of Chinese text as stand-ins and puts them back; the tree must be the one a plain
// parse of the same text builds. GBK pages are compared as the program decodes them, since their user-defined area
// decodes to private-use characters.
void compareWithPlainParse(const QByteArray &bytes, bool gbk)
{
    const QByteArray contentType = gbk ? "text/html; charset=gbk" : "text/html; charset=utf-8";
    const QString text =
        gbk ? QString::fromStdString(qh::browser::decodeHtmlToUtf8(bytes, contentType)) : QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        return; // the page's parse takes a byte order mark for one, the plain parse for text
    std::shared_ptr<const qh::browser::StaticDocument> collapsed;
    std::shared_ptr<const qh::browser::StaticDocument> plain;
    try {
        collapsed = qh::browser::parseHtmlDocument(gbk ? bytes : text.toUtf8(), contentType, QUrl());
    } catch (const std::runtime_error &) {
        collapsed = nullptr;
    }
    try {
        plain = qh::browser::parseHtmlText(text, QUrl());
    } catch (const std::runtime_error &) {
        plain = nullptr;
    }
    if (!collapsed || !plain) {
        if (bool(collapsed) != bool(plain))
            __builtin_trap(); // one failed a check of Gumbo's that the other passed
        return;
    }
    if (collapsed->elementCount() != plain->elementCount())
        __builtin_trap();
    for (int i = 0; i < plain->elementCount(); ++i) {
        if (collapsed->tagNameAt(i) != plain->tagNameAt(i) || collapsed->parentIndexAt(i) != plain->parentIndexAt(i))
            __builtin_trap();
    }
    if (plain->elementCount() > 0 && collapsed->outerHtmlAt(0) != plain->outerHtmlAt(0))
        __builtin_trap(); // every text, attribute and name of the page
}

// A style sheet (the bytes before the first NUL, as UTF-8) over a page (the rest): the sheet's parse, its media
// queries, the cascade over the page and innerText through it. The element list must not change.
void styleSheetOverPage(const QByteArray &bytes)
{
    const qsizetype split = bytes.indexOf('\0');
    const QByteArray css = split < 0 ? bytes : bytes.first(split);
    const QByteArray page = split < 0 ? QByteArray() : bytes.sliced(split + 1);
    const QUrl base(u"http://example.com/css/site.css"_s);
    auto sheet = std::make_shared<const qh::browser::css::StyleSheet>(
        qh::browser::css::parseStyleSheet(QString::fromUtf8(css), base));
    for (const qh::browser::css::Import &import : sheet->imports)
        (void)qh::browser::css::mediaMatches(import.media);
    (void)qh::browser::css::mediaMatches(QString::fromUtf8(css));
    (void)qh::browser::css::parseDeclarations(QString::fromUtf8(css));
    std::shared_ptr<const qh::browser::StaticDocument> document;
    try {
        document = qh::browser::parseHtmlDocument(page, "text/html; charset=utf-8", QUrl(u"http://example.com/"_s));
    } catch (const std::runtime_error &) {
        return;
    }
    const int before = document->elementCount();
    // Every link of the page gets the sheet, which also reaches the page's own style elements' imports.
    const auto styled = document->withLinkedSheets([&sheet](const QUrl &) { return sheet; });
    if (styled->elementCount() != before)
        __builtin_trap();
    const qh::browser::DomTree &tree = document->tree();
    const qh::browser::css::AuthorStyles styles(tree, {sheet});
    for (int i = 0; i < before && i < 64; ++i) {
        (void)qh::browser::rendering::innerText(tree, tree.elementNode(i), &styles);
        (void)styled->innerTextAt(i);
    }
}

} // namespace

// Bytes -> document -> every element operation. A first byte below 8 picks a Content-Type (and is not part of the
// page) so the header path of the charset sniffing is reached too; innerText and innerHTML are read for the first
// elements only, to keep runs fast. A first byte of 8 (UTF-8) or 9 (GBK) compares the page's parse with the plain
// one instead; a first byte of 10 reads a style sheet and a page (see styleSheetOverPage).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 0 && data[0] == 10) {
        styleSheetOverPage(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));
        return 0;
    }
    if (size > 0 && (data[0] == 8 || data[0] == 9)) {
        compareWithPlainParse(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)), data[0] == 9);
        return 0;
    }
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
    std::shared_ptr<const qh::browser::StaticDocument> document;
    try {
        document = qh::browser::parseHtmlDocument(bytes, contentType, QUrl(u"http://example.com/"_s));
    } catch (const std::runtime_error &) {
        return 0; // a page that fails one of Gumbo's own checks: its parse fails, the program goes on
    }

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
