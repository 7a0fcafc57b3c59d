#include "browser/net/httpresponseparser.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

// Chunk-size lines carry at most a few extensions; a longer one is garbage or an attack.
constexpr qsizetype MaxChunkLineBytes = 4096;
// 15 hex digits stay below 2^60, far past any size cap, and cannot overflow.
constexpr qsizetype MaxChunkSizeDigits = 15;
constexpr qsizetype MaxLengthDigits = 18;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmedView(QByteArrayView text)
{
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && (isSpace(text.back()) || text.back() == '\r'))
        text.chop(1);
    return text;
}

// Comma-separated tokens of every value of a header, trimmed and lower-cased; empty ones dropped.
QList<QByteArray> headerTokens(const QList<QByteArray> &values)
{
    QList<QByteArray> tokens;
    for (const QByteArray &value : values) {
        for (const QByteArray &token : value.split(',')) {
            const QByteArray trimmed = token.trimmed().toLower();
            if (!trimmed.isEmpty())
                tokens.append(trimmed);
        }
    }
    return tokens;
}

const QString &headTooLong()
{
    static const QString text = u"服务器回应头超过 %1 KiB"_s.arg(HttpResponseParser::MaxHeaderBytes / 1024);
    return text;
}

bool allDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

qsizetype HttpResponseParser::feed(QByteArrayView data)
{
    if (!data.isEmpty())
        m_receivedAny = true;
    qsizetype at = 0;
    while (at < data.size()) {
        switch (m_state) {
        case State::Complete:
        case State::Failed:
            return at;
        case State::Head: {
            QByteArray line;
            if (!takeLine(data, at, line, MaxHeaderBytes - m_headBytes, headTooLong()))
                return at;
            m_headBytes += line.size() + 2;
            headLine(line);
            break;
        }
        case State::Body:
            if (m_framing == Framing::UntilClose) {
                m_body.append(data.sliced(at));
                at = data.size();
                break;
            }
            if (m_framing == Framing::Length || m_chunkStep == ChunkStep::Data) {
                const qsizetype take = qsizetype(qMin<qint64>(m_remaining, data.size() - at));
                m_body.append(data.sliced(at, take));
                at += take;
                m_remaining -= take;
                if (m_remaining == 0) {
                    if (m_framing == Framing::Length)
                        complete();
                    else
                        m_chunkStep = ChunkStep::DataEnd;
                }
                break;
            }
            QByteArray line;
            if (m_chunkStep == ChunkStep::Trailers) {
                if (!takeLine(data, at, line, MaxHeaderBytes - m_headBytes, headTooLong()))
                    return at;
                m_headBytes += line.size() + 2;
                // Trailers say nothing a page needs; the empty line ends the response.
                if (line.isEmpty())
                    complete();
                break;
            }
            if (!takeLine(data, at, line, MaxChunkLineBytes, u"服务器回应的分块长度无效"_s))
                return at;
            if (m_chunkStep == ChunkStep::Size)
                chunkSizeLine(line);
            else if (!line.isEmpty())
                fail(u"服务器回应的分块格式无效"_s);
            else
                m_chunkStep = ChunkStep::Size;
            break;
        }
    }
    return at;
}

void HttpResponseParser::finishInput()
{
    switch (m_state) {
    case State::Complete:
    case State::Failed:
        return;
    case State::Head:
        fail(m_receivedAny ? u"服务器回应不完整"_s : u"服务器未回应就关闭了连接"_s);
        return;
    case State::Body:
        if (m_framing == Framing::UntilClose) {
            complete();
            return;
        }
        // A last chunk that lacks only its final empty line has delivered the whole body.
        if (m_framing == Framing::Chunked && m_chunkStep == ChunkStep::Trailers && m_line.isEmpty()) {
            complete();
            return;
        }
        fail(u"连接在回应结束前断开"_s);
        return;
    }
}

QByteArray HttpResponseParser::header(QByteArrayView name) const
{
    for (const auto &[key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QList<QByteArray> HttpResponseParser::headerValues(QByteArrayView name) const
{
    QList<QByteArray> values;
    for (const auto &[key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

QByteArray HttpResponseParser::takeBody()
{
    return std::exchange(m_body, QByteArray());
}

bool HttpResponseParser::takeLine(QByteArrayView data, qsizetype &at, QByteArray &line, qsizetype limit,
                                  const QString &tooLong)
{
    const qsizetype end = data.indexOf('\n', at);
    if (end < 0) {
        m_line.append(data.sliced(at));
        at = data.size();
        if (m_line.size() > limit)
            fail(tooLong);
        return false;
    }
    if (m_line.size() + (end - at) > limit) {
        fail(tooLong);
        at = end + 1;
        return false;
    }
    if (m_line.isEmpty()) {
        line = data.sliced(at, end - at).toByteArray();
    } else {
        line = std::exchange(m_line, QByteArray());
        line.append(data.sliced(at, end - at));
    }
    at = end + 1;
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

void HttpResponseParser::headLine(const QByteArray &line)
{
    if (!m_sawStatusLine) {
        // Stray empty lines before a status line are left over from a sloppy previous answer.
        if (line.isEmpty())
            return;
        if (!statusLine(line))
            fail(u"服务器回应的状态行无效"_s);
        return;
    }
    if (line.isEmpty()) {
        headersDone();
        return;
    }
    if (isSpace(line.front())) {
        // An obsolete folded line continues the previous header's value.
        if (!m_headers.isEmpty())
            m_headers.last().second += ' ' + trimmedView(line).toByteArray();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView name = QByteArrayView(line).first(qMax<qsizetype>(colon, 0));
    // Lines that are no header, or whose name holds white space, are skipped as browsers skip them.
    if (colon <= 0 || name.contains(' ') || name.contains('\t'))
        return;
    m_headers.append({name.toByteArray(), trimmedView(QByteArrayView(line).sliced(colon + 1)).toByteArray()});
}

bool HttpResponseParser::statusLine(const QByteArray &line)
{
    // "HTTP/1.1 200 OK"; the reason may be missing, even without the space before it.
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || line[7] < '0' || line[7] > '9' || line[8] != ' ')
        return false;
    const QByteArrayView code = QByteArrayView(line).sliced(9, 3);
    if (!allDigits(code) || code[0] < '1' || code[0] > '5' || (line.size() > 12 && line[12] != ' '))
        return false;
    m_minorVersion = line[7] - '0';
    m_status = code.toByteArray().toInt();
    m_reason = trimmedView(QByteArrayView(line).sliced(qMin<qsizetype>(line.size(), 13))).toByteArray();
    m_sawStatusLine = true;
    return true;
}

void HttpResponseParser::headersDone()
{
    if (m_status >= 100 && m_status < 200) {
        if (m_status == 101) {
            fail(u"服务器要求切换协议"_s);
            return;
        }
        // An interim answer (100 Continue, 103 Early Hints): the real one follows on the same connection.
        m_sawStatusLine = false;
        m_headers.clear();
        m_reason.clear();
        m_status = 0;
        return;
    }

    const QList<QByteArray> connection = headerTokens(headerValues("Connection"));
    m_keepAlive = m_minorVersion >= 1 ? !connection.contains("close") : connection.contains("keep-alive");

    const QList<QByteArray> transfer = headerTokens(headerValues("Transfer-Encoding"));
    const QList<QByteArray> lengths = headerTokens(headerValues("Content-Length"));
    if (m_status == 204 || m_status == 304) {
        m_framing = Framing::None;
    } else if (!transfer.isEmpty()) {
        for (qsizetype i = 0; i + 1 < transfer.size(); ++i) {
            if (transfer[i] != "identity") {
                fail(u"不支持的传输编码 %1"_s.arg(QString::fromLatin1(transfer[i])));
                return;
            }
        }
        if (transfer.last() == "chunked") {
            m_framing = Framing::Chunked;
        } else if (transfer.last() == "identity") {
            m_framing = Framing::UntilClose;
        } else {
            fail(u"不支持的传输编码 %1"_s.arg(QString::fromLatin1(transfer.last())));
            return;
        }
        // A length next to a transfer coding is a sign of a confused or smuggling server: use it no further.
        if (!lengths.isEmpty())
            m_keepAlive = false;
    } else if (!lengths.isEmpty()) {
        for (const QByteArray &length : lengths) {
            if (!allDigits(length) || length.size() > MaxLengthDigits || length != lengths.first()) {
                fail(u"服务器回应的长度无效"_s);
                return;
            }
        }
        m_framing = Framing::Length;
        m_contentLength = lengths.first().toLongLong();
        m_remaining = m_contentLength;
    } else {
        m_framing = Framing::UntilClose;
    }
    if (m_framing == Framing::UntilClose)
        m_keepAlive = false;

    m_state = State::Body;
    if (m_framing == Framing::None || (m_framing == Framing::Length && m_contentLength == 0))
        complete();
}

void HttpResponseParser::chunkSizeLine(const QByteArray &line)
{
    const qsizetype semicolon = line.indexOf(';');
    QByteArrayView size = trimmedView(QByteArrayView(line).first(semicolon < 0 ? line.size() : semicolon));
    while (size.size() > 1 && size.front() == '0')
        size = size.sliced(1);
    bool ok = !size.isEmpty() && size.size() <= MaxChunkSizeDigits;
    for (const char c : size)
        ok = ok && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
    if (!ok) {
        fail(u"服务器回应的分块长度无效"_s);
        return;
    }
    m_remaining = size.toByteArray().toLongLong(nullptr, 16);
    m_chunkStep = m_remaining == 0 ? ChunkStep::Trailers : ChunkStep::Data;
}

void HttpResponseParser::fail(const QString &text)
{
    m_state = State::Failed;
    m_error = text;
    m_keepAlive = false;
    m_body.clear();
}

} // namespace qh::browser
