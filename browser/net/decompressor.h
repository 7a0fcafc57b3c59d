#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace qh::browser {

// Undoes the Content-Encoding of a body as it arrives, piece by piece, with zlib. Output is capped, so that a
// small compressed answer cannot blow up into gigabytes (a "gzip bomb").
class Decompressor
{
public:
    enum class Coding
    {
        Identity,
        Gzip,
        Deflate, // a zlib stream as the standard says, or raw deflate data as some servers send; told apart by the
                 // first two bytes
    };
    enum class Status
    {
        Ok,
        Corrupt,
        TooLarge,
    };

    // The coding a Content-Encoding value names; nullopt for codings we never offered (br, compress ...).
    static std::optional<Coding> codingFor(const QByteArray &contentEncoding);

    explicit Decompressor(Coding coding);
    ~Decompressor();
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    // Decodes input and appends it to out; TooLarge as soon as out would grow past maxOutput bytes.
    Status feed(QByteArrayView input, QByteArray &out, qsizetype maxOutput);
    // The body has ended: Corrupt when the compressed stream was cut short.
    Status finish() const;

private:
    struct Stream;

    Status inflateInto(QByteArrayView input, QByteArray &out, qsizetype maxOutput);
    bool start(QByteArrayView firstBytes);

    Coding m_coding;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_head; // the first bytes of a deflate body, until they tell zlib from raw data
    bool m_ended = false;
    // Past a gzip member's end: the first byte of what may be the next member, and whether what followed was none.
    QByteArray m_heldByte;
    bool m_padding = false;
    bool m_corrupt = false;
};

} // namespace qh::browser
