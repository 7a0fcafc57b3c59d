#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// A loopback HTTP/1.1 server: the demo's sample site, and the tests' and benchmarks' web server. It answers on a thread
// of its own, so a test may block (QProcess::waitForFinished, a benchmark loop) while the server keeps answering.
// Connections are kept alive unless the client asks to close them.
//
//     qh::demo::HttpServer server;
//     server.setPage(u"/a"_s, "<p>hello</p>");
//     server.setRedirect(u"/old"_s, u"/a"_s);
//     browser.Navigate(server.url(u"/old"_s));
//     EXPECT_EQ(server.requestCount(u"/a"_s), 1);
//
// Routes may be set before or while the server runs, from any thread. A path without a route answers 404.
namespace qh::demo {

// One request as it arrived. Bytes as sent; header() ignores the case of the name.
struct HttpRequest
{
    QByteArray method;
    QByteArray target; // path and query as sent: "/a?b=1"
    QByteArray path;   // target without its query: "/a"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(QByteArrayView name) const; // empty when absent
};

// One answer. The body is given uncompressed; the server compresses and frames it as asked.
struct HttpResponse
{
    enum class Encoding
    {
        Identity,
        Gzip,    // Content-Encoding: gzip
        Deflate, // Content-Encoding: deflate (a zlib stream, as RFC 9110 says)
    };
    static constexpr int Never = -1;

    int status = 200;
    QByteArray reason;                                   // empty: the usual phrase for status
    QByteArray contentType = "text/html; charset=utf-8"; // empty: no Content-Type header at all
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // sent as they are: Set-Cookie, Location, Retry-After ...
    Encoding encoding = Encoding::Identity;
    bool chunked = false; // Transfer-Encoding: chunked, so the client learns no length up front
    int delayMs = 0;      // wait before answering; Never keeps the connection open without an answer

    static HttpResponse page(QByteArray body, QByteArray contentType = "text/html; charset=utf-8");
    static HttpResponse redirect(const QByteArray &location, int status = 302);
    // Adds a header; returns *this so that calls chain.
    HttpResponse &withHeader(const QByteArray &name, const QByteArray &value);
};

// Computes the answer to a request; runs on the server's thread.
using HttpHandler = std::function<HttpResponse(const HttpRequest &request)>;

class HttpServer
{
public:
    // Listens on 127.0.0.1 at a free port; ready when the constructor returns.
    HttpServer();
    // Closes every connection and ends the server's thread.
    ~HttpServer();

    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    quint16 port() const;
    QUrl url(const QString &path) const; // http://127.0.0.1:PORT + path (which may carry a query)

    // A route matches a request's whole target ("/a?b=1") first, then its path alone ("/a").
    void setResponse(const QString &path, HttpResponse response);
    void setPage(const QString &path, QByteArray body, QByteArray contentType = "text/html; charset=utf-8");
    void setRedirect(const QString &path, const QString &location, int status = 302);
    void setHandler(const QString &path, HttpHandler handler);

    // Requests received so far whose target or path is path, oldest first; routed or not.
    int requestCount(const QString &path) const;
    QList<HttpRequest> requests(const QString &path) const;
    // Connections accepted so far; stays small when keep-alive works.
    int connectionCount() const;

    struct Shared;

private:
    class Thread;

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<Thread> m_thread;
    quint16 m_port = 0;
};

} // namespace qh::demo
