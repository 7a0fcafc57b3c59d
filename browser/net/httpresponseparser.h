#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

namespace qh::browser {

// Reads one HTTP/1.x response to a GET from bytes as they arrive, in pieces of any size: the status line and
// headers, then the body framed by Content-Length, chunked transfer coding or the end of the connection. Interim
// 1xx answers are skipped; 204 and 304 have no body. The body comes out with its transfer coding removed but its
// content coding (gzip ...) kept. Pure bytes in, bytes out: no sockets, no events.
class HttpResponseParser
{
public:
    enum class State
    {
        Head,     // reading the status line and headers
        Body,     // headers complete, reading the body
        Complete, // the response has ended; bytes after it were not consumed
        Failed,   // the bytes are no valid response; errorText() says why
    };

    // A status line and headers together may not pass this; chunk-size lines and trailers are limited alike.
    static constexpr qsizetype MaxHeaderBytes = 256 * 1024;

    // Consumes bytes from data and returns how many it took: all of them unless the response completes (or fails)
    // part-way, in which case the rest belongs to nobody.
    qsizetype feed(QByteArrayView data);
    // The connection has ended: completes a body read to the end, fails anything cut short.
    void finishInput();

    State state() const { return m_state; }
    bool headersComplete() const { return m_state == State::Body || m_state == State::Complete; }
    bool isComplete() const { return m_state == State::Complete; }
    bool hasFailed() const { return m_state == State::Failed; }
    // Why the bytes were refused, ready to stand in a message (Simplified Chinese).
    QString errorText() const { return m_error; }
    // Whether anything at all has arrived: a connection closed before that may be retried.
    bool hasReceivedBytes() const { return m_receivedAny; }

    int status() const { return m_status; }
    QByteArray reason() const { return m_reason; }
    // Headers as sent, names in their original case; repeated names stay apart (Set-Cookie).
    const QList<QPair<QByteArray, QByteArray>> &headers() const { return m_headers; }
    // The first value of the header, whatever the case of its name; empty when absent.
    QByteArray header(QByteArrayView name) const;
    QList<QByteArray> headerValues(QByteArrayView name) const;
    // The declared body length, -1 when chunked or read to close (or when there is no body).
    qint64 contentLength() const { return m_framing == Framing::Length ? m_contentLength : -1; }
    // Whether the connection may carry the next request once this response is complete.
    bool keepAlive() const { return m_keepAlive; }

    // Body bytes decoded so far and not yet taken.
    QByteArray takeBody();
    qsizetype pendingBodySize() const { return m_body.size(); }

private:
    enum class Framing
    {
        None,
        Length,
        Chunked,
        UntilClose,
    };
    enum class ChunkStep
    {
        Size,
        Data,
        DataEnd,
        Trailers,
    };

    // Takes a line ending in LF from the data (CR LF or a lone LF), using m_line for a line split across feeds.
    // Returns false when no line end has come yet; fails the parse with tooLong when the line grows past limit.
    bool takeLine(QByteArrayView data, qsizetype &at, QByteArray &line, qsizetype limit, const QString &tooLong);
    void headLine(const QByteArray &line);
    bool statusLine(const QByteArray &line);
    void headersDone();
    void chunkSizeLine(const QByteArray &line);
    void fail(const QString &text);
    void complete() { m_state = State::Complete; }

    State m_state = State::Head;
    QString m_error;
    bool m_receivedAny = false;
    bool m_sawStatusLine = false;
    QByteArray m_line;
    qsizetype m_headBytes = 0;

    int m_status = 0;
    int m_minorVersion = 1;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    bool m_keepAlive = true;

    Framing m_framing = Framing::None;
    qint64 m_contentLength = 0;
    qint64 m_remaining = 0; // of the body (Length) or of the current chunk (Chunked)
    ChunkStep m_chunkStep = ChunkStep::Size;
    QByteArray m_body;
};

} // namespace qh::browser
