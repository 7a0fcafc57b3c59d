#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <string>

// Character sets of fetched pages, as browsers determine them. Encodings are named by their canonical WHATWG
// names ("GBK", "UTF-8", "windows-1252" ...); every function is pure and thread-safe.
namespace qh::browser {

// The encoding a label stands for, after trimming ASCII white space and ignoring case; empty for an unknown label.
QByteArray encodingForLabel(QByteArrayView label);

// The charset parameter of a Content-Type header value (quotes removed), or empty when there is none.
QByteArray charsetFromContentType(QByteArrayView contentType);

// The encoding named by a <meta charset> or <meta http-equiv content> in the first 1024 bytes, found the way the
// HTML standard prescans a byte stream (comments and other tags skipped); empty when none names a known encoding.
QByteArray prescanForEncoding(QByteArrayView bytes);

struct SniffedEncoding
{
    QByteArray encoding;
    int bomLength = 0; // bytes of byte-order mark to skip before decoding
};

// Whether the bytes are well-formed UTF-8 holding at least one non-ASCII character (a multi-byte sequence cut off
// at the very end is allowed).
bool looksLikeUtf8(QByteArrayView bytes);

// Byte-order mark, then the header's charset, then the prescan, then UTF-8 when the bytes are UTF-8 with
// non-ASCII text in them, else GB18030 (the default for Chinese).
SniffedEncoding sniffEncoding(QByteArrayView bytes, QByteArrayView contentType);

// Decodes bytes in a canonical encoding; malformed sequences become U+FFFD. An encoding without a decoder here
// decodes as windows-1252.
QString decodeWith(QByteArrayView bytes, const QByteArray &encoding);

// Sniffs and decodes a page; the byte-order mark is not part of the result.
QString decodeHtml(QByteArrayView bytes, QByteArrayView contentType);

// The same text as UTF-8, which is what the HTML parser reads: decodeHtml(...).toStdString(), made without the
// UTF-16 step for GBK pages whose characters are all ASCII or two-byte (almost every Chinese page).
std::string decodeHtmlToUtf8(QByteArrayView bytes, QByteArrayView contentType);

} // namespace qh::browser
