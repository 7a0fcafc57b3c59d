#include "browser/net/decompressor.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace qh::browser {

namespace {

constexpr qsizetype MinOutputStep = 32 * 1024;
constexpr qsizetype MaxOutputStep = 1 << 20;

// A zlib header: deflate method, a window of at most 32 KiB, and a check value that makes it a multiple of 31.
bool isZlibHeader(QByteArrayView head)
{
    const unsigned cmf = quint8(head[0]);
    const unsigned flg = quint8(head[1]);
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

} // namespace

struct Decompressor::Stream
{
    z_stream z{};
    bool initialised = false;

    ~Stream()
    {
        if (initialised)
            inflateEnd(&z);
    }
};

std::optional<Decompressor::Coding> Decompressor::codingFor(const QByteArray &contentEncoding)
{
    const QByteArray coding = contentEncoding.trimmed().toLower();
    if (coding.isEmpty() || coding == "identity")
        return Coding::Identity;
    if (coding == "gzip" || coding == "x-gzip")
        return Coding::Gzip;
    if (coding == "deflate")
        return Coding::Deflate;
    return std::nullopt;
}

Decompressor::Decompressor(Coding coding) : m_coding(coding) {}

Decompressor::~Decompressor() = default;

Decompressor::Status Decompressor::feed(QByteArrayView input, QByteArray &out, qsizetype maxOutput)
{
    if (m_corrupt)
        return Status::Corrupt;
    if (m_coding == Coding::Identity) {
        if (out.size() + input.size() > maxOutput)
            return Status::TooLarge;
        out.append(input);
        return Status::Ok;
    }
    if (input.isEmpty())
        return Status::Ok;
    if (m_stream)
        return inflateInto(input, out, maxOutput);

    // Deflate data is told apart by its first two bytes, which may come in two pieces.
    m_head.append(input);
    if (m_coding == Coding::Deflate && m_head.size() < 2)
        return Status::Ok;
    const QByteArray head = std::exchange(m_head, QByteArray());
    if (!start(head)) {
        m_corrupt = true;
        return Status::Corrupt;
    }
    return inflateInto(head, out, maxOutput);
}

Decompressor::Status Decompressor::finish() const
{
    if (m_corrupt)
        return Status::Corrupt;
    if (m_coding == Coding::Identity)
        return Status::Ok;
    // A one-byte deflate body: no stream can be that short.
    if (!m_stream && !m_head.isEmpty())
        return Status::Corrupt;
    // An empty body is an empty page; a stream that never reached its end was cut short.
    return !m_stream || m_ended ? Status::Ok : Status::Corrupt;
}

bool Decompressor::start(QByteArrayView firstBytes)
{
    int windowBits = 15 + 16; // gzip framing
    if (m_coding == Coding::Deflate)
        windowBits = isZlibHeader(firstBytes) ? 15 : -15;
    m_stream = std::make_unique<Stream>();
    if (inflateInit2(&m_stream->z, windowBits) != Z_OK)
        return false;
    m_stream->initialised = true;
    return true;
}

Decompressor::Status Decompressor::inflateInto(QByteArrayView input, QByteArray &out, qsizetype maxOutput)
{
    z_stream &z = m_stream->z;
    QByteArray joined; // a member's first byte held back from the last piece, and this piece
    while (!input.isEmpty()) {
        if (m_ended) {
            // A gzip body may hold several members one after the other, each to be read; anything else after the
            // end of the stream is padding some servers add, with nothing to decode in it.
            if (m_coding != Coding::Gzip || m_padding)
                return Status::Ok;
            if (!m_heldByte.isEmpty()) {
                joined = m_heldByte + input.toByteArray();
                m_heldByte.clear();
                input = joined;
            }
            if (input.size() == 1 && uchar(input[0]) == 0x1f) {
                m_heldByte = input.toByteArray(); // the next piece tells whether a member begins
                return Status::Ok;
            }
            if (uchar(input[0]) != 0x1f || uchar(input[1]) != 0x8b || inflateReset(&z) != Z_OK) {
                m_padding = true;
                return Status::Ok;
            }
            m_ended = false;
        }
        const qsizetype piece = std::min<qsizetype>(input.size(), std::numeric_limits<uInt>::max());
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.data()));
        z.avail_in = uInt(piece);
        int result = Z_OK;
        do {
            const qsizetype before = out.size();
            // One byte of room past the cap, so that passing it shows; added only below the step, since a cap of
            // the largest size would overflow.
            const qsizetype step = std::clamp<qsizetype>(qsizetype(z.avail_in) * 4, MinOutputStep, MaxOutputStep);
            const qsizetype room = maxOutput - before < step ? maxOutput - before + 1 : step;
            out.resize(before + room);
            z.next_out = reinterpret_cast<Bytef *>(out.data() + before);
            z.avail_out = uInt(room);
            result = inflate(&z, Z_NO_FLUSH);
            out.resize(before + room - qsizetype(z.avail_out));
            if (out.size() > maxOutput)
                return Status::TooLarge;
            if (result == Z_STREAM_END) {
                m_ended = true;
                break;
            }
            if (result != Z_OK && result != Z_BUF_ERROR) {
                m_corrupt = true;
                return Status::Corrupt;
            }
        } while (z.avail_in > 0 || z.avail_out == 0);
        // What the stream's end left unread goes round again: it may begin the next member.
        input = input.sliced(piece - qsizetype(z.avail_in));
    }
    return Status::Ok;
}

} // namespace qh::browser
