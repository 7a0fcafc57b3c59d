// Answers come from any server: whatever the bytes and however the network splits them, the response parser and
// the decompressor end in a state, agree with a reading of the same bytes in one piece, and never hand out more
// body than the cap allows.
#include "browser/net/decompressor.h"
#include "browser/net/httpresponseparser.h"

#include <QByteArray>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

using qh::browser::Decompressor;
using qh::browser::HttpResponseParser;

namespace {

// Splits are drawn from the input's first bytes, so a finding replays exactly.
class Splitter
{
public:
    explicit Splitter(std::uint32_t seed) : m_state(seed | 1) {}
    // A piece length in 1..max, mostly short, so that line ends, CR LF pairs and chunk sizes fall across pieces.
    qsizetype next(qsizetype max)
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        const qsizetype limit = (m_state & 0x80) ? 3 : 64;
        return qMin<qsizetype>(max, qsizetype(m_state >> 8) % limit + 1);
    }

private:
    std::uint32_t m_state;
};

struct ParseResult
{
    HttpResponseParser::State state;
    qsizetype consumed = 0;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool keepAlive = false;
    qint64 contentLength = -1;
};

ParseResult parse(const QByteArray &stream, std::optional<Splitter> splitter)
{
    HttpResponseParser parser;
    ParseResult result;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype piece = splitter ? splitter->next(stream.size() - at) : stream.size() - at;
        const qsizetype taken = parser.feed(QByteArrayView(stream).sliced(at, piece));
        if (taken < 0 || taken > piece)
            std::abort();
        if (taken < piece && parser.state() != HttpResponseParser::State::Complete && !parser.hasFailed())
            std::abort(); // bytes are left only when the response is over
        at += taken;
        result.body += parser.takeBody();
        if (parser.pendingBodySize() != 0)
            std::abort();
        if (taken < piece)
            break;
    }
    const HttpResponseParser::State fed = parser.state();
    parser.finishInput();
    if (parser.state() == HttpResponseParser::State::Head || parser.state() == HttpResponseParser::State::Body)
        std::abort(); // the end of the input decides
    if ((fed == HttpResponseParser::State::Complete || fed == HttpResponseParser::State::Failed) &&
        parser.state() != fed)
        std::abort();
    if (parser.hasFailed() && (parser.errorText().isEmpty() || parser.keepAlive()))
        std::abort();
    if (parser.hasReceivedBytes() != !stream.isEmpty())
        std::abort();
    result.state = parser.state();
    result.consumed = at;
    result.status = parser.status();
    result.headers = parser.headers();
    result.body += parser.takeBody();
    result.keepAlive = parser.keepAlive();
    result.contentLength = parser.contentLength();
    if (result.body.size() > result.consumed)
        std::abort(); // framing only ever removes bytes
    if (parser.isComplete() && result.contentLength >= 0 && result.body.size() != result.contentLength)
        std::abort();
    if (parser.headersComplete() && (result.status < 200 || result.status > 599))
        std::abort(); // interim answers are skipped
    return result;
}

struct DecodeResult
{
    Decompressor::Status status = Decompressor::Status::Ok;
    QByteArray out;
};

DecodeResult decode(Decompressor::Coding coding, const QByteArray &body, qsizetype cap,
                    std::optional<Splitter> splitter)
{
    Decompressor decompressor(coding);
    DecodeResult result;
    qsizetype at = 0;
    while (at < body.size() && result.status == Decompressor::Status::Ok) {
        const qsizetype piece = splitter ? splitter->next(body.size() - at) : body.size() - at;
        result.status = decompressor.feed(QByteArrayView(body).sliced(at, piece), result.out, cap);
        at += piece;
        // The cap holds whatever comes in; passing it shows by at most one byte.
        if (result.out.size() > cap && (result.status != Decompressor::Status::TooLarge || result.out.size() - 1 > cap))
            std::abort();
    }
    if (result.status == Decompressor::Status::Ok)
        result.status = decompressor.finish();
    return result;
}

// The stream as a server would send it: payload compressed with the coding and framed by Content-Length or in
// chunks of the splitter's lengths.
QByteArray compress(const QByteArray &payload, int windowBits)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    QByteArray out(qsizetype(deflateBound(&z, uLong(payload.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(payload.constData()));
    z.avail_in = uInt(payload.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        std::abort();
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

void roundTrip(std::uint8_t control, std::uint32_t seed, const QByteArray &payload)
{
    static const struct
    {
        const char *name;
        Decompressor::Coding coding;
        int windowBits; // 0: not compressed
    } codings[] = {
        {"identity", Decompressor::Coding::Identity, 0},
        {"gzip", Decompressor::Coding::Gzip, 15 + 16},
        {"deflate", Decompressor::Coding::Deflate, 15},  // zlib stream
        {"deflate", Decompressor::Coding::Deflate, -15}, // raw deflate, as some servers send it
    };
    const auto &coding = codings[control & 3];
    const bool chunked = control & 4;
    const QByteArray body = coding.windowBits ? compress(payload, coding.windowBits) : payload;

    QByteArray stream = "HTTP/1.1 200 OK\r\nContent-Encoding: " + QByteArray(coding.name) + "\r\n";
    Splitter splitter(seed);
    if (chunked) {
        stream += "Transfer-Encoding: chunked\r\n\r\n";
        for (qsizetype at = 0; at < body.size();) {
            const qsizetype piece = splitter.next(body.size() - at);
            stream += QByteArray::number(piece, 16) + "\r\n" + body.sliced(at, piece) + "\r\n";
            at += piece;
        }
        stream += "0\r\n\r\n";
    } else {
        stream += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    stream += "HTTP/1.1 200 OK\r\n"; // the next response on the connection is not this one's

    const ParseResult parsed = parse(stream, splitter);
    if (!parsed.keepAlive || parsed.state != HttpResponseParser::State::Complete || parsed.body != body ||
        parsed.consumed != stream.size() - 17)
        std::abort();
    const std::optional<Decompressor::Coding> named = Decompressor::codingFor(coding.name);
    if (named != coding.coding)
        std::abort();
    // A cap just above, at or below the payload's size.
    const qsizetype cap = qMax<qsizetype>(0, payload.size() + qsizetype(control >> 6) - 2);
    const DecodeResult decoded = decode(coding.coding, parsed.body, cap, splitter);
    if (payload.size() <= cap) {
        if (decoded.status != Decompressor::Status::Ok || decoded.out != payload)
            std::abort();
    } else if (decoded.status != Decompressor::Status::TooLarge) {
        std::abort();
    }
}

} // namespace

// The first byte chooses: bit 3 set, the rest is a payload that is compressed and framed here, then read back
// (bits 0-2: coding and framing, bits 6-7: the cap); bit 3 clear, the rest is a response stream as it comes (bits
// 0-1: the coding its body is decoded with, bits 4-5: the cap). The next four bytes seed the splits.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    const std::uint8_t control = data[0];
    const std::uint32_t seed = std::uint32_t(data[1]) | std::uint32_t(data[2]) << 8 | std::uint32_t(data[3]) << 16 |
                               std::uint32_t(data[4]) << 24;
    const QByteArray rest(reinterpret_cast<const char *>(data + 5), qsizetype(size - 5));
    if (control & 8) {
        roundTrip(control, seed, rest);
        return 0;
    }

    const ParseResult whole = parse(rest, std::nullopt);
    const ParseResult split = parse(rest, Splitter(seed));
    // How the network splits the bytes changes nothing; a failure may come after a different count of bytes.
    if (whole.state != split.state)
        std::abort();
    if (whole.state == HttpResponseParser::State::Complete &&
        (whole.consumed != split.consumed || whole.status != split.status || whole.headers != split.headers ||
         whole.body != split.body || whole.keepAlive != split.keepAlive || whole.contentLength != split.contentLength))
        std::abort();

    static const Decompressor::Coding codings[] = {Decompressor::Coding::Identity, Decompressor::Coding::Gzip,
                                                   Decompressor::Coding::Deflate, Decompressor::Coding::Deflate};
    const Decompressor::Coding coding = codings[control & 3];
    // The program's cap, none at all, or a small one that pages pass.
    static const qsizetype caps[] = {32 << 20, 0, 4096, std::numeric_limits<qsizetype>::max()};
    const qsizetype cap = caps[(control >> 4) & 3];
    const DecodeResult inOne = decode(coding, whole.body, cap, std::nullopt);
    const DecodeResult inPieces = decode(coding, whole.body, cap, Splitter(~seed));
    if (inOne.status != inPieces.status)
        std::abort();
    if (inOne.status == Decompressor::Status::Ok && inOne.out != inPieces.out)
        std::abort();
    return 0;
}
