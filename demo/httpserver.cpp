#include "demo/httpserver.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <array>
#include <optional>

using namespace Qt::StringLiterals;

namespace qh::demo {

struct HttpServer::Shared
{
    mutable QMutex mutex;
    QHash<QString, HttpHandler> routes;
    QList<HttpRequest> log;
    int connections = 0;
};

namespace {

// A client that sends endless headers is cut off rather than buffered without bound.
constexpr qsizetype MaxHeaderBytes = 1 << 20;
constexpr qsizetype ChunkBytes = 16 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

quint32 crc32(const QByteArray &data)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void appendLittleEndian32(QByteArray &out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// qCompress writes a 4-byte length and then a zlib stream, which is what HTTP calls "deflate".
QByteArray zlibStream(const QByteArray &data)
{
    return qCompress(data).mid(4);
}

// gzip wraps the same raw deflate data as zlib (2-byte header, 4-byte Adler-32 trailer) in its own frame.
QByteArray gzipStream(const QByteArray &data)
{
    const QByteArray zlib = zlibStream(data);
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    out += zlib.mid(2, zlib.size() - 6);
    appendLittleEndian32(out, crc32(data));
    appendLittleEndian32(out, quint32(data.size()));
    return out;
}

HttpResponse notFound()
{
    HttpResponse response = HttpResponse::page("<html><body><h1>404 Not Found</h1></body></html>");
    response.status = 404;
    return response;
}

// One client connection: reads requests one after another and answers each in turn.
class Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, std::shared_ptr<HttpServer::Shared> shared)
        : QObject(socket), m_socket(socket), m_shared(std::move(shared))
    {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this] { readRequests(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void readRequests()
    {
        m_buffer += m_socket->readAll();
        // A delayed answer holds the connection: requests behind it wait, as HTTP/1.1 requires.
        while (!m_busy) {
            std::optional<HttpRequest> request = takeRequest();
            if (!request)
                return;
            answer(*request);
        }
    }

    std::optional<HttpRequest> takeRequest()
    {
        const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_buffer.size() > MaxHeaderBytes)
                m_socket->abort();
            return std::nullopt;
        }
        const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
        HttpRequest request;
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3) {
            m_socket->abort();
            return std::nullopt;
        }
        request.method = requestLine[0];
        request.target = requestLine[1];
        request.path =
            request.target.left(request.target.indexOf('?') < 0 ? request.target.size() : request.target.indexOf('?'));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const qsizetype bodyLength = request.header("Content-Length").toLongLong();
        if (m_buffer.size() < headEnd + 4 + bodyLength)
            return std::nullopt;
        request.body = m_buffer.mid(headEnd + 4, bodyLength);
        m_buffer.remove(0, headEnd + 4 + bodyLength);
        m_closeAfter = requestLine[2] == "HTTP/1.0" || request.header("Connection").toLower() == "close";
        return request;
    }

    void answer(const HttpRequest &request)
    {
        HttpHandler handler;
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->log.append(request);
            handler = m_shared->routes.value(QString::fromLatin1(request.target));
            if (!handler)
                handler = m_shared->routes.value(QString::fromLatin1(request.path));
        }
        const HttpResponse response = handler ? handler(request) : notFound();
        const bool head = request.method == "HEAD";
        if (response.delayMs == HttpResponse::Never) {
            m_busy = true;
            return;
        }
        if (response.delayMs > 0) {
            m_busy = true;
            QTimer::singleShot(response.delayMs, this, [this, response, head] {
                m_busy = false;
                send(response, head);
                readRequests();
            });
            return;
        }
        send(response, head);
    }

    void send(const HttpResponse &response, bool head)
    {
        QByteArray body = response.body;
        QByteArray encoding;
        if (!body.isEmpty() && response.encoding == HttpResponse::Encoding::Gzip) {
            body = gzipStream(body);
            encoding = "gzip";
        } else if (!body.isEmpty() && response.encoding == HttpResponse::Encoding::Deflate) {
            body = zlibStream(body);
            encoding = "deflate";
        }

        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                         (response.reason.isEmpty() ? reasonPhrase(response.status) : response.reason) + "\r\n";
        if (!response.contentType.isEmpty())
            out += "Content-Type: " + response.contentType + "\r\n";
        if (!encoding.isEmpty())
            out += "Content-Encoding: " + encoding + "\r\n";
        if (response.chunked)
            out += "Transfer-Encoding: chunked\r\n";
        else
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (m_closeAfter)
            out += "Connection: close\r\n";
        for (const auto &[name, value] : response.headers)
            out += name + ": " + value + "\r\n";
        out += "\r\n";

        // One write per answer: split writes meet Nagle's algorithm and delayed ACKs and cost milliseconds each.
        if (!head && response.chunked) {
            for (qsizetype at = 0; at < body.size(); at += ChunkBytes) {
                const QByteArray chunk = body.mid(at, ChunkBytes);
                out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
            }
            out += "0\r\n\r\n";
        } else if (!head) {
            out += body;
        }
        m_socket->write(out);
        if (m_closeAfter) {
            m_busy = true;
            m_socket->disconnectFromHost();
        }
    }

    QTcpSocket *m_socket;
    std::shared_ptr<HttpServer::Shared> m_shared;
    QByteArray m_buffer;
    bool m_busy = false;
    bool m_closeAfter = false;
};

} // namespace

// The server's own thread: the listening socket and every connection live and die here.
class HttpServer::Thread : public QThread
{
public:
    explicit Thread(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

    quint16 waitUntilListening()
    {
        m_ready.acquire();
        return m_port;
    }

protected:
    void run() override
    {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0))
            m_port = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                {
                    QMutexLocker lock(&m_shared->mutex);
                    ++m_shared->connections;
                }
                new Connection(socket, m_shared);
            }
        });
        m_ready.release();
        exec();
    }

private:
    std::shared_ptr<Shared> m_shared;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpResponse HttpResponse::page(QByteArray body, QByteArray contentType)
{
    HttpResponse response;
    response.body = std::move(body);
    response.contentType = std::move(contentType);
    return response;
}

HttpResponse HttpResponse::redirect(const QByteArray &location, int status)
{
    HttpResponse response = page("<html><body>moved</body></html>");
    response.status = status;
    return response.withHeader("Location", location);
}

HttpResponse &HttpResponse::withHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

HttpServer::HttpServer() : m_shared(std::make_shared<Shared>()), m_thread(std::make_unique<Thread>(m_shared))
{
    m_thread->start();
    m_port = m_thread->waitUntilListening();
    if (m_port == 0)
        qFatal("HttpServer: cannot listen on 127.0.0.1");
}

HttpServer::~HttpServer()
{
    m_thread->quit();
    m_thread->wait();
}

quint16 HttpServer::port() const
{
    return m_port;
}

QUrl HttpServer::url(const QString &path) const
{
    return QUrl(u"http://127.0.0.1:"_s + QString::number(m_port) + path);
}

void HttpServer::setResponse(const QString &path, HttpResponse response)
{
    setHandler(path, [response = std::move(response)](const HttpRequest &) { return response; });
}

void HttpServer::setPage(const QString &path, QByteArray body, QByteArray contentType)
{
    setResponse(path, HttpResponse::page(std::move(body), std::move(contentType)));
}

void HttpServer::setRedirect(const QString &path, const QString &location, int status)
{
    setResponse(path, HttpResponse::redirect(location.toUtf8(), status));
}

void HttpServer::setHandler(const QString &path, HttpHandler handler)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->routes.insert(path, std::move(handler));
}

int HttpServer::requestCount(const QString &path) const
{
    return int(requests(path).size());
}

QList<HttpRequest> HttpServer::requests(const QString &path) const
{
    const QByteArray key = path.toLatin1();
    QMutexLocker lock(&m_shared->mutex);
    QList<HttpRequest> matching;
    for (const HttpRequest &request : m_shared->log) {
        if (request.target == key || request.path == key)
            matching.append(request);
    }
    return matching;
}

int HttpServer::connectionCount() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->connections;
}

} // namespace qh::demo
