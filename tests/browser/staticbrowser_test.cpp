#include "browser/html/htmlparser.h"
#include "browser/html/nextpageguess.h"
#include "browser/html/staticbrowser.h"
#include "browser/net/decompressor.h"
#include "browser/net/httpconnection.h"
#include "browser/net/httpresponseparser.h"
#include "browser/net/pagefetcher.h"

#include "demo/httpserver.h"
#include "support/testutils.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSslSocket>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>

#include <zlib.h>

using namespace qh::browser;
using namespace qh::test;
using namespace qh::demo;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

using Kind = LoadError::Kind;

// Text that compresses well but is not one repeated byte, so sizes before and after compression differ plainly.
QByteArray sampleText(qsizetype size)
{
    QByteArray text;
    for (int line = 0; text.size() < size; ++line)
        text += "<p>line " + QByteArray::number(line) + " of the chapter</p>\n";
    text.truncate(size);
    return text;
}

class PageFetcherTest : public ::testing::Test
{
protected:
    FetchResult fetch(const QUrl &url)
    {
        std::optional<FetchResult> result;
        QEventLoop loop;
        QObject::connect(&m_fetcher, &PageFetcher::finished, &loop, [&](const FetchResult &r) {
            result = r;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        m_fetcher.fetch(url);
        loop.exec();
        EXPECT_TRUE(result.has_value()) << url.toString().toStdString();
        return result.value_or(FetchResult());
    }

    FetchResult fetch(const QString &path) { return fetch(m_server.url(path)); }

    HttpServer m_server;
    PageFetcher m_fetcher;
};

} // namespace

// The body arrives byte for byte whatever the framing: plain, chunked, gzip or deflate (which Qt asks for and
// decompresses on its own).
TEST_F(PageFetcherTest, BodyArrivesIntactInEveryEncoding)
{
    const struct
    {
        const char *name;
        HttpResponse::Encoding encoding;
        bool chunked;
    } cases[] = {
        {"identity", HttpResponse::Encoding::Identity, false}, {"chunked", HttpResponse::Encoding::Identity, true},
        {"gzip", HttpResponse::Encoding::Gzip, false},         {"deflate", HttpResponse::Encoding::Deflate, false},
        {"gzip chunked", HttpResponse::Encoding::Gzip, true},
    };
    const QByteArray body = sampleText(300'000);
    for (const auto &c : cases) {
        const QString path = u"/"_s + QString::fromLatin1(c.name).replace(u' ', u'-');
        HttpResponse response = HttpResponse::page(body);
        response.encoding = c.encoding;
        response.chunked = c.chunked;
        m_server.setResponse(path, response);

        const FetchResult result = fetch(path);
        EXPECT_FALSE(result.error.isError()) << c.name << ": " << result.error.message.toStdString();
        EXPECT_EQ(result.body.size(), body.size()) << c.name;
        EXPECT_TRUE(result.body == body) << c.name;
        EXPECT_EQ(result.contentType, "text/html; charset=utf-8") << c.name;
        EXPECT_TRUE(m_server.requests(path).value(0).header("Accept-Encoding").contains("gzip")) << c.name;
    }
}

// Redirects of every kind are followed up to ten hops; the eleventh fails, saying so. The result tells where the
// page really came from.
TEST_F(PageFetcherTest, FollowsUpToTenRedirects)
{
    const int statuses[] = {301, 302, 303, 307, 308};
    for (const int hops : {1, PageFetcher::MaxRedirects, PageFetcher::MaxRedirects + 1}) {
        const QString chain = u"/chain"_s + QString::number(hops) + u"-"_s;
        for (int hop = 0; hop < hops; ++hop)
            m_server.setRedirect(chain + QString::number(hop), chain + QString::number(hop + 1), statuses[hop % 5]);
        m_server.setPage(chain + QString::number(hops), "<p>arrived</p>");

        const FetchResult result = fetch(chain + u"0"_s);
        EXPECT_EQ(result.url, m_server.url(chain + u"0"_s));
        if (hops <= PageFetcher::MaxRedirects) {
            EXPECT_FALSE(result.error.isError()) << hops << ": " << result.error.message.toStdString();
            EXPECT_EQ(result.body, "<p>arrived</p>") << hops;
            EXPECT_EQ(result.finalUrl, m_server.url(chain + QString::number(hops)));
        } else {
            EXPECT_EQ(result.error.kind, Kind::Network);
            EXPECT_TRUE(result.error.message.contains(u"重定向"_s)) << result.error.message.toStdString();
            EXPECT_TRUE(result.body.isEmpty());
        }
    }
}

// A redirect loop ends in a failure naming the address, not in a hang.
TEST_F(PageFetcherTest, RedirectLoopFails)
{
    m_server.setRedirect(u"/loop"_s, u"/loop"_s);
    const FetchResult result = fetch(u"/loop"_s);
    EXPECT_EQ(result.error.kind, Kind::Network);
    EXPECT_TRUE(result.error.message.startsWith(u"无法打开“"_s + m_server.url(u"/loop"_s).toString()))
        << result.error.message.toStdString();
    EXPECT_TRUE(result.error.message.contains(u"重定向"_s)) << result.error.message.toStdString();
    EXPECT_TRUE(result.body.isEmpty());
}

// A cookie set by one page goes back with the next request, also across a redirect.
TEST_F(PageFetcherTest, KeepsCookiesBetweenPages)
{
    HttpResponse login = HttpResponse::redirect("/chapter1");
    login.withHeader("Set-Cookie", "session=abc123; Path=/");
    m_server.setResponse(u"/login"_s, login);
    m_server.setHandler(u"/chapter1"_s, [](const HttpRequest &request) {
        return HttpResponse::page("<p>cookie " + request.header("Cookie") + "</p>");
    });
    m_server.setPage(u"/chapter2"_s, "<p>two</p>");

    EXPECT_EQ(fetch(u"/login"_s).body, "<p>cookie session=abc123</p>");
    EXPECT_FALSE(fetch(u"/chapter2"_s).error.isError());
    EXPECT_EQ(m_server.requests(u"/chapter2"_s).value(0).header("Cookie"), "session=abc123");
}

// The grabbing browser's fixed user agent goes out unless another one is set.
TEST_F(PageFetcherTest, SendsTheUserAgent)
{
    m_server.setPage(u"/ua"_s, "<p>ua</p>");
    fetch(u"/ua"_s);
    m_fetcher.setUserAgent(u"Quillhaul-Test/1.0"_s);
    fetch(u"/ua"_s);

    const QList<HttpRequest> requests = m_server.requests(u"/ua"_s);
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].header("User-Agent"),
              "Mozilla/4.0(compatible;MSIE 6.0;Windows NT 5.1;SV1;.NET CLR 1.1.4322;.NET CLR 2.0.50727)");
    EXPECT_EQ(requests[1].header("User-Agent"), "Quillhaul-Test/1.0");
}

// HTTP errors are failures naming the address, status and reason; Retry-After is read; the error page is dropped.
TEST_F(PageFetcherTest, HttpErrorStatusFails)
{
    const struct
    {
        int status;
        QByteArray retryAfter;
        int retryAfterSeconds;
        QString text;
    } cases[] = {
        {404, "", -1, u"404 Not Found"_s},
        {500, "", -1, u"500 Internal Server Error"_s},
        {503, "120", 120, u"503 Service Unavailable"_s},
        {429, "Fri, 31 Dec 9999 23:59:59 GMT", std::numeric_limits<int>::max(), u"429 Too Many Requests"_s},
    };
    for (const auto &c : cases) {
        const QString path = u"/status"_s + QString::number(c.status);
        HttpResponse response = HttpResponse::page("<html><body>error page</body></html>");
        response.status = c.status;
        if (!c.retryAfter.isEmpty())
            response.withHeader("Retry-After", c.retryAfter);
        m_server.setResponse(path, response);

        const FetchResult result = fetch(path);
        EXPECT_EQ(result.error.kind, Kind::HttpStatus) << c.status;
        EXPECT_EQ(result.error.httpStatus, c.status);
        EXPECT_EQ(result.error.retryAfterSeconds, c.retryAfterSeconds) << c.status;
        EXPECT_EQ(result.error.message, u"无法打开“"_s + m_server.url(path).toString() + u"”：服务器回应 "_s + c.text);
        EXPECT_TRUE(result.body.isEmpty());
    }
}

// Retry-After as delta seconds or as an HTTP date in any of its three legal forms, relative to now.
TEST(RetryAfter, SecondsOrHttpDate)
{
    const QDateTime now(QDate(2024, 3, 1), QTime(12, 0, 0), Qt::UTC);
    const struct
    {
        QByteArray value;
        int seconds;
    } cases[] = {
        {"0", 0},
        {" 30 ", 30},
        {"99999999999", std::numeric_limits<int>::max()},
        {"Fri, 01 Mar 2024 12:02:00 GMT", 120},
        {"Friday, 01-Mar-24 13:00:00 GMT", 3600},
        {"Fri Mar  1 12:00:10 2024", 10},
        {"Thu, 29 Feb 2024 12:00:00 GMT", 0}, // in the past: go ahead now
        {"", -1},
        {"-5", -1},
        {"soon", -1},
        {"Fri, 01 Mar 2024 25:00:00 GMT", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseRetryAfter(c.value, now), c.seconds) << c.value.toStdString();
}

// A server that stays silent past the transfer time-out gives a time-out failure naming the address.
TEST_F(PageFetcherTest, SilentServerTimesOut)
{
    HttpResponse silent;
    silent.delayMs = HttpResponse::Never;
    m_server.setResponse(u"/silent"_s, silent);
    m_fetcher.setTransferTimeout(100ms);

    const FetchResult result = fetch(u"/silent"_s);
    EXPECT_EQ(result.error.kind, Kind::Timeout);
    EXPECT_TRUE(result.error.message.startsWith(u"无法打开“"_s + m_server.url(u"/silent"_s).toString()))
        << result.error.message.toStdString();
    EXPECT_TRUE(result.error.message.contains(u"超时"_s)) << result.error.message.toStdString();
}

// A closed port is a network failure naming the address and the reason in Chinese.
TEST_F(PageFetcherTest, ConnectionRefusedFails)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QUrl url(u"http://127.0.0.1:"_s + QString::number(probe.serverPort()) + u"/page"_s);
    probe.close();

    const FetchResult result = fetch(url);
    EXPECT_EQ(result.error.kind, Kind::Network);
    EXPECT_TRUE(result.error.message.startsWith(u"无法打开“"_s + url.toString() + u"”："_s))
        << result.error.message.toStdString();
    EXPECT_TRUE(result.error.message.contains(u"连接被拒绝"_s)) << result.error.message.toStdString();
}

// Every cause a socket reports reads in Chinese; one without words of ours keeps the system's text.
TEST(SocketErrorText, SaysTheCauseInChinese)
{
    using S = QAbstractSocket;
    const struct
    {
        S::SocketError error;
        const char16_t *text;
    } cases[] = {
        {S::ConnectionRefusedError, u"连接被拒绝"},
        {S::HostNotFoundError, u"找不到服务器"},
        {S::SocketTimeoutError, u"连接超时"},
        {S::RemoteHostClosedError, u"服务器关闭了连接"},
        {S::NetworkError, u"网络不通"},
        {S::ProxyConnectionRefusedError, u"代理服务器拒绝连接"},
        {S::ProxyNotFoundError, u"找不到代理服务器"},
        {S::ProxyAuthenticationRequiredError, u"代理服务器要求身份验证"},
        {S::SslHandshakeFailedError, u"证书错误或安全握手失败"},
        {S::UnknownSocketError, u"Something odd"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::browser::socketErrorText(c.error, u"Something odd"_s), QString::fromUtf16(c.text)) << c.error;
    EXPECT_EQ(qh::browser::socketErrorText(S::UnknownSocketError, QString()), u"未知的网络错误"_s);
}

// Answers past the size cap are refused, whether the length is declared, unknown (chunked) or only reached after
// decompression; an answer exactly at the cap is fine.
TEST_F(PageFetcherTest, RefusesAnswersOverTheSizeCap)
{
    constexpr qsizetype cap = 64 * 1024;
    m_fetcher.setMaxBytes(cap);
    const struct
    {
        const char *path;
        qsizetype size;
        HttpResponse::Encoding encoding;
        bool chunked;
        bool refused;
    } cases[] = {
        {"/declared", cap + 1, HttpResponse::Encoding::Identity, false, true},
        {"/chunked", 4 * cap, HttpResponse::Encoding::Identity, true, true},
        {"/bomb", 16 * cap, HttpResponse::Encoding::Gzip, false, true},
        {"/at-cap", cap, HttpResponse::Encoding::Identity, false, false},
        {"/at-cap-chunked", cap, HttpResponse::Encoding::Identity, true, false},
    };
    for (const auto &c : cases) {
        HttpResponse response = HttpResponse::page(sampleText(c.size));
        response.encoding = c.encoding;
        response.chunked = c.chunked;
        m_server.setResponse(QString::fromLatin1(c.path), response);

        const FetchResult result = fetch(QString::fromLatin1(c.path));
        EXPECT_EQ(result.error.kind, c.refused ? Kind::TooLarge : Kind::None) << c.path;
        EXPECT_EQ(result.body.size(), c.refused ? 0 : c.size) << c.path;
        if (c.refused) {
            EXPECT_TRUE(result.error.message.contains(u"0.0625 MiB"_s)) << result.error.message.toStdString();
        }
    }
}

// The default cap is 32 MiB: a page declaring one byte more is refused on its headers.
TEST_F(PageFetcherTest, DefaultCapIs32MiB)
{
    m_server.setPage(u"/huge"_s, QByteArray((qsizetype(32) << 20) + 1, 'a'));
    const FetchResult result = fetch(u"/huge"_s);
    EXPECT_EQ(result.error.kind, Kind::TooLarge) << result.error.message.toStdString();
    EXPECT_TRUE(result.error.message.contains(u"32 MiB"_s)) << result.error.message.toStdString();
}

// Only pages are handed on: HTML, XHTML, text and untyped answers pass; images, PDF and binaries are refused.
TEST_F(PageFetcherTest, RefusesAnswersThatAreNoPage)
{
    const struct
    {
        QByteArray contentType;
        bool accepted;
    } cases[] = {
        {"text/html", true},
        {"TEXT/HTML; charset=GBK", true},
        {"application/xhtml+xml", true},
        {"text/plain; charset=utf-8", true},
        {"", true},
        {"image/png", false},
        {"application/octet-stream", false},
        {"application/pdf", false},
        {"application/zip", false},
    };
    int n = 0;
    for (const auto &c : cases) {
        const QString path = u"/type"_s + QString::number(n++);
        m_server.setPage(path, "<p>content</p>", c.contentType);
        const FetchResult result = fetch(path);
        EXPECT_EQ(result.error.kind, c.accepted ? Kind::None : Kind::NotHtml) << c.contentType.toStdString();
        EXPECT_EQ(result.body.isEmpty(), !c.accepted) << c.contentType.toStdString();
        if (!c.accepted) {
            EXPECT_TRUE(result.error.message.contains(QString::fromLatin1(c.contentType)))
                << result.error.message.toStdString();
        }
    }
}

// A new fetch abandons the running one: only the new one reports, and the old one's late answer is never taken
// for it.
TEST_F(PageFetcherTest, NewFetchAbandonsTheRunningOne)
{
    HttpResponse slow = HttpResponse::page("<p>old</p>");
    slow.delayMs = 50;
    m_server.setResponse(u"/old"_s, slow);
    HttpResponse slower = HttpResponse::page("<p>new</p>");
    slower.delayMs = 100;
    m_server.setResponse(u"/new"_s, slower);

    QList<QByteArray> bodies;
    QObject::connect(&m_fetcher, &PageFetcher::finished, &m_fetcher,
                     [&bodies](const FetchResult &r) { bodies.append(r.body); });
    m_fetcher.fetch(m_server.url(u"/old"_s));
    QTest::qWait(10);
    m_fetcher.fetch(m_server.url(u"/new"_s));
    EXPECT_TRUE(QTest::qWaitFor([&bodies] { return !bodies.isEmpty(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(bodies, QList<QByteArray>{"<p>new</p>"});
}

// file:// addresses are read without any Content-Type; a missing file fails naming it.
TEST_F(PageFetcherTest, ReadsFileUrls)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"page.html"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<p>from a file</p>");
    file.close();

    const FetchResult found = fetch(QUrl::fromLocalFile(path));
    EXPECT_FALSE(found.error.isError()) << found.error.message.toStdString();
    EXPECT_EQ(found.body, "<p>from a file</p>");
    EXPECT_TRUE(found.contentType.isEmpty());

    const QUrl missing = QUrl::fromLocalFile(dir.filePath(u"missing.html"_s));
    const FetchResult notFound = fetch(missing);
    EXPECT_EQ(notFound.error.kind, Kind::Network);
    EXPECT_TRUE(notFound.error.message.contains(missing.toString())) << notFound.error.message.toStdString();
}

// Pages fetched one after another share one kept-alive connection.
TEST_F(PageFetcherTest, ReusesTheConnection)
{
    m_server.setPage(u"/page"_s, "<p>page</p>");
    for (int i = 0; i < 20; ++i)
        ASSERT_FALSE(fetch(u"/page?n="_s + QString::number(i)).error.isError());
    EXPECT_EQ(m_server.requestCount(u"/page"_s), 20);
    EXPECT_EQ(m_server.connectionCount(), 1);
}

// With a proxy set, requests go to it with the full address; an empty host goes back to direct connections.
TEST_F(PageFetcherTest, UsesTheConfiguredProxy)
{
    m_server.setPage(u"http://book.invalid/chapter"_s, "<p>through the proxy</p>");
    m_server.setPage(u"/direct"_s, "<p>direct</p>");

    m_fetcher.setProxy(u"127.0.0.1"_s, m_server.port());
    EXPECT_EQ(fetch(QUrl(u"http://book.invalid/chapter"_s)).body, "<p>through the proxy</p>");

    m_fetcher.setProxy(QString(), 0);
    EXPECT_EQ(fetch(u"/direct"_s).body, "<p>direct</p>");
    EXPECT_EQ(m_server.requests(u"/direct"_s).value(0).target, "/direct");
}

namespace {

struct ParserCase
{
    const char *name;
    QByteArray bytes;
    bool endOfInput; // the connection closes after the bytes
    HttpResponseParser::State state;
    int status;
    QByteArray body;
    bool keepAlive;
    qsizetype leftover; // bytes after the end of the response, not consumed
};

const ParserCase parserCases[] = {
    {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, HttpResponseParser::State::Complete, 200,
     "hello", true, 0},
    {"lone LF line ends, folded header", "HTTP/1.1 200 OK\nX-Long: a\n b\nContent-Length: 2\n\nhi", false,
     HttpResponseParser::State::Complete, 200, "hi", true, 0},
    {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n", false, HttpResponseParser::State::Complete, 200,
     "", true, 0},
    {"chunked with extensions and trailers",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
     "5;name=value\r\nhello\r\n0000000006 ; x=\"y\"\r\n world\r\n0\r\nX-Trailer: 1\r\nX-Other: 2\r\n\r\n",
     false, HttpResponseParser::State::Complete, 200, "hello world", true, 0},
    {"chunked wins over a length, but ends keep-alive",
     "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n", false,
     HttpResponseParser::State::Complete, 200, "hi", false, 0},
    {"interim 100 and 103 skipped",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     false, HttpResponseParser::State::Complete, 200, "ok", true, 0},
    {"204 has no body whatever it declares", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nHTTP/", false,
     HttpResponseParser::State::Complete, 204, "", true, 5},
    {"304 has no body", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n", false,
     HttpResponseParser::State::Complete, 304, "", true, 0},
    {"bytes past the length are left", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokEXTRA", false,
     HttpResponseParser::State::Complete, 200, "ok", true, 5},
    {"Connection: close", "HTTP/1.1 200 OK\r\nConnection: Keep-Alive, Close\r\nContent-Length: 1\r\n\r\nx", false,
     HttpResponseParser::State::Complete, 200, "x", false, 0},
    {"HTTP/1.0 closes", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", false, HttpResponseParser::State::Complete,
     200, "x", false, 0},
    {"HTTP/1.0 asking for keep-alive", "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\nx", false,
     HttpResponseParser::State::Complete, 200, "x", true, 0},
    {"read to close", "HTTP/1.1 200 OK\r\n\r\nuntil the end", true, HttpResponseParser::State::Complete, 200,
     "until the end", false, 0},
    {"read to close, still open", "HTTP/1.1 200 OK\r\n\r\nsome", false, HttpResponseParser::State::Body, 200, "some",
     false, 0},
    {"last chunk without its final empty line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n",
     true, HttpResponseParser::State::Complete, 200, "x", true, 0},

    {"closed before any byte", "", true, HttpResponseParser::State::Failed, 0, "", false, 0},
    {"closed in the headers", "HTTP/1.1 200 OK\r\nContent-", true, HttpResponseParser::State::Failed, 200, "", false,
     0},
    {"length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", true, HttpResponseParser::State::Failed,
     200, "", false, 0},
    {"chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\nshort", true,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"no status line", "<html>hello</html>\r\n\r\n", false, HttpResponseParser::State::Failed, 0, "", false, 0},
    {"HTTP/2 status line", "HTTP/2 200 OK\r\n\r\n", false, HttpResponseParser::State::Failed, 0, "", false, 0},
    {"status out of range", "HTTP/1.1 999 What\r\n\r\n", false, HttpResponseParser::State::Failed, 0, "", false, 0},
    {"101 switching protocols", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n", false,
     HttpResponseParser::State::Failed, 101, "", false, 0},
    {"non-numeric length", "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", false, HttpResponseParser::State::Failed,
     200, "", false, 0},
    {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, HttpResponseParser::State::Failed, 200,
     "", false, 0},
    {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"length of 19 digits", "HTTP/1.1 200 OK\r\nContent-Length: 9999999999999999999\r\n\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"chunk size negative", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"chunk size empty", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"chunk size past 2^60", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
    {"chunk data longer than its size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n",
     false, HttpResponseParser::State::Failed, 200, "", false, 0},
    {"transfer coding we never asked for", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", false,
     HttpResponseParser::State::Failed, 200, "", false, 0},
};

// Feeds bytes in pieces of the given sizes (the last size repeats), as a socket might deliver them.
void feedInPieces(HttpResponseParser &parser, const QByteArray &bytes, const QList<qsizetype> &sizes,
                  qsizetype &consumed, QByteArray &body)
{
    qsizetype at = 0;
    for (int i = 0; at < bytes.size() && !parser.isComplete() && !parser.hasFailed(); ++i) {
        const qsizetype size = std::min(sizes.value(i, sizes.last()), bytes.size() - at);
        const qsizetype used = parser.feed(QByteArrayView(bytes).sliced(at, size));
        consumed += used;
        at += size;
        body += parser.takeBody();
    }
}

} // namespace

// Every response reads the same whether it arrives whole, byte by byte or split in two anywhere: status, body,
// keep-alive and the bytes left over; malformed, cut-short and hostile framing fails instead of guessing.
TEST(HttpResponseParser, ReadsResponsesSplitAnywhere)
{
    for (const ParserCase &c : parserCases) {
        QList<QList<qsizetype>> splits = {{c.bytes.size() + 1}, {1}};
        for (qsizetype first = 1; first < c.bytes.size(); ++first)
            splits.append({first, c.bytes.size()});
        for (const QList<qsizetype> &sizes : splits) {
            const std::string where = std::string(c.name) + " (first piece " + std::to_string(sizes.first()) + ")";
            HttpResponseParser parser;
            qsizetype consumed = 0;
            QByteArray body;
            feedInPieces(parser, c.bytes, sizes, consumed, body);
            if (c.endOfInput)
                parser.finishInput();
            body += parser.takeBody();
            ASSERT_EQ(parser.state(), c.state) << where << ": " << parser.errorText().toStdString();
            EXPECT_EQ(parser.status(), c.status) << where;
            if (c.state == HttpResponseParser::State::Failed) {
                EXPECT_FALSE(parser.errorText().isEmpty()) << where;
                EXPECT_FALSE(parser.keepAlive()) << where;
                continue;
            }
            EXPECT_EQ(body, c.body) << where;
            EXPECT_EQ(parser.keepAlive(), c.keepAlive) << where;
            if (c.state == HttpResponseParser::State::Complete) {
                EXPECT_EQ(c.bytes.size() - consumed, c.leftover) << where;
            }
        }
    }
}

// Only a connection closed before the first byte counts as "nothing arrived", the case in which a request may go
// again; a close after part of an answer does not.
TEST(HttpResponseParser, TellsAnUnansweredCloseFromACutAnswer)
{
    HttpResponseParser silent;
    silent.finishInput();
    EXPECT_TRUE(silent.hasFailed());
    EXPECT_FALSE(silent.hasReceivedBytes());

    HttpResponseParser cut;
    cut.feed("HTTP/1.1 2");
    cut.finishInput();
    EXPECT_TRUE(cut.hasFailed());
    EXPECT_TRUE(cut.hasReceivedBytes());
}

// Headers, chunk-size lines and trailers are held only up to a limit: endless ones fail instead of growing memory.
TEST(HttpResponseParser, RefusesEndlessHeaderLines)
{
    const QByteArray endless(HttpResponseParser::MaxHeaderBytes + 10, 'a');
    const QByteArray manyHeaders = QByteArray("X-A: b\r\n").repeated(HttpResponseParser::MaxHeaderBytes / 8 + 1);
    const struct
    {
        const char *name;
        QByteArray head;
        QByteArray tail;
    } cases[] = {
        {"one endless header line", "HTTP/1.1 200 OK\r\nX-Big: ", endless},
        {"endless status line", "HTTP/1.1 200 ", endless},
        {"too many headers", "HTTP/1.1 200 OK\r\n", manyHeaders},
        {"endless chunk-size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1;", endless},
        {"endless trailers", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n", manyHeaders},
        {"endless interim answers", "", QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(20'000)},
    };
    for (const auto &c : cases) {
        for (const qsizetype piece : {qsizetype(1000), qsizetype(1) << 30}) {
            HttpResponseParser parser;
            const QByteArray bytes = c.head + c.tail;
            for (qsizetype at = 0; at < bytes.size() && !parser.hasFailed(); at += piece)
                parser.feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
            EXPECT_TRUE(parser.hasFailed()) << c.name << " in pieces of " << piece;
        }
    }
}

namespace {

// Compresses with zlib as a server would: windowBits 31 for gzip, 15 for a zlib stream, -15 for raw deflate.
QByteArray compressed(const QByteArray &data, int windowBits)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

// gzip, zlib-wrapped deflate and raw deflate all decode, whole or a byte at a time; the coding names are read as
// servers send them, and codings never offered are refused.
TEST(Decompressor, DecodesGzipAndBothDeflates)
{
    const QByteArray text = sampleText(100'000);
    const struct
    {
        const char *name;
        QByteArray contentEncoding;
        QByteArray body;
    } cases[] = {
        {"gzip", "gzip", compressed(text, 31)},
        {"x-gzip", " X-GZIP ", compressed(text, 31)},
        {"gzip of several members", "gzip",
         compressed(text.first(30'000), 31) + compressed(text.sliced(30'000, 40'000), 31) +
             compressed(text.sliced(70'000), 31)},
        {"zlib deflate", "deflate", compressed(text, 15)},
        {"raw deflate", "Deflate", compressed(text, -15)},
        {"identity", "identity", text},
        {"none", "", text},
    };
    for (const auto &c : cases) {
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), c.body.size()}) {
            const std::optional<Decompressor::Coding> coding = Decompressor::codingFor(c.contentEncoding);
            ASSERT_TRUE(coding.has_value()) << c.name;
            Decompressor decompressor(*coding);
            QByteArray out;
            for (qsizetype at = 0; at < c.body.size(); at += piece) {
                ASSERT_EQ(decompressor.feed(QByteArrayView(c.body).sliced(at, std::min(piece, c.body.size() - at)), out,
                                            text.size()),
                          Decompressor::Status::Ok)
                    << c.name << " in pieces of " << piece;
            }
            EXPECT_EQ(decompressor.finish(), Decompressor::Status::Ok) << c.name;
            EXPECT_TRUE(out == text) << c.name << " in pieces of " << piece;
        }
    }
    for (const QByteArray unknown : {"br", "compress", "gzip, br", "zstd"})
        EXPECT_FALSE(Decompressor::codingFor(unknown).has_value()) << unknown.toStdString();
}

// Output is capped as it grows, so a bomb (10 MB of zeros in 10 KB) is refused early; damaged and cut-short streams
// are corrupt, not a short page.
TEST(Decompressor, RefusesBombsAndDamage)
{
    const QByteArray zeros(10 << 20, '\0');
    const QByteArray bomb = compressed(zeros, 31);
    ASSERT_LT(bomb.size(), 20'000);
    Decompressor bombed(Decompressor::Coding::Gzip);
    QByteArray out;
    EXPECT_EQ(bombed.feed(bomb, out, 64 * 1024), Decompressor::Status::TooLarge);
    EXPECT_LE(out.size(), 64 * 1024 + 1);

    const QByteArray good = compressed(sampleText(10'000), 31);
    QByteArray damaged = good;
    damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x55);
    damaged[damaged.size() / 2 + 1] = char(damaged[damaged.size() / 2 + 1] ^ 0x55);
    const struct
    {
        const char *name;
        Decompressor::Coding coding;
        QByteArray body;
    } cases[] = {
        {"damaged gzip", Decompressor::Coding::Gzip, damaged},
        {"gzip cut short", Decompressor::Coding::Gzip, good.first(good.size() / 2)},
        {"no gzip at all", Decompressor::Coding::Gzip, "<html>plain</html>"},
        {"one byte of deflate", Decompressor::Coding::Deflate, "x"},
    };
    for (const auto &c : cases) {
        Decompressor decompressor(c.coding);
        QByteArray decoded;
        const Decompressor::Status fed = decompressor.feed(c.body, decoded, 1 << 20);
        EXPECT_TRUE(fed == Decompressor::Status::Corrupt || decompressor.finish() == Decompressor::Status::Corrupt)
            << c.name;
    }
}

// The cap is a limit, not a size to reserve: one exactly the body's size or as large as a size can be (the caller
// wanting none) decodes the body like any other.
TEST(Decompressor, CapsUpToTheLargestSizeDecode)
{
    const QByteArray text = sampleText(50'000);
    for (const int windowBits : {31, 15, -15}) {
        const QByteArray body = compressed(text, windowBits);
        for (const qsizetype cap :
             {text.size(), std::numeric_limits<qsizetype>::max() - 1, std::numeric_limits<qsizetype>::max()}) {
            SCOPED_TRACE(testing::Message() << "windowBits " << windowBits << ", cap " << cap);
            Decompressor decompressor(windowBits == 31 ? Decompressor::Coding::Gzip : Decompressor::Coding::Deflate);
            QByteArray out;
            EXPECT_EQ(decompressor.feed(body, out, cap), Decompressor::Status::Ok);
            EXPECT_EQ(decompressor.finish(), Decompressor::Status::Ok);
            EXPECT_TRUE(out == text);
        }
    }
}

namespace {

// A loopback server on the test's own thread that answers each request with whatever the test scripts: raw bytes,
// answers in pieces, closed connections. For what the regular fixture cannot send.
class ScriptedServer : public QObject
{
public:
    // Called for each request with the connection's number (from 0) and the request's number on it (from 0).
    using Script = std::function<void(QTcpSocket *socket, int connection, int request)>;

    explicit ScriptedServer(Script script) : m_script(std::move(script))
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                const int connection = m_connections++;
                auto buffer = std::make_shared<QByteArray>();
                auto served = std::make_shared<int>(0);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket, connection, buffer, served] {
                    *buffer += socket->readAll();
                    for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
                        m_requests.append(buffer->left(end));
                        buffer->remove(0, end + 4);
                        m_script(socket, connection, (*served)++);
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(u"http://127.0.0.1:"_s + QString::number(m_server.serverPort()) + path);
    }
    int connections() const { return m_connections; }
    const QList<QByteArray> &requests() const { return m_requests; }

private:
    QTcpServer m_server;
    Script m_script;
    int m_connections = 0;
    QList<QByteArray> m_requests;
};

QByteArray okResponse(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

FetchResult fetchWith(PageFetcher &fetcher, const QUrl &url)
{
    std::optional<FetchResult> result;
    QEventLoop loop;
    QObject::connect(&fetcher, &PageFetcher::finished, &loop, [&](const FetchResult &r) {
        result = r;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    fetcher.fetch(url);
    if (!result)
        loop.exec();
    EXPECT_TRUE(result.has_value()) << url.toString().toStdString();
    return result.value_or(FetchResult());
}

} // namespace

// A kept-alive connection the server drops just as the next request arrives is replaced once, unseen by the caller;
// if the new connection fails too, the fetch fails rather than trying forever.
TEST(PageFetcherConnections, ReconnectsOnceWhenAKeptConnectionWasClosed)
{
    for (const bool secondAlsoFails : {false, true}) {
        ScriptedServer server([secondAlsoFails](QTcpSocket *socket, int connection, int request) {
            if (request > 0 || (connection > 0 && secondAlsoFails)) {
                socket->abort(); // no byte of an answer
                return;
            }
            socket->write(okResponse("<p>page " + QByteArray::number(connection) + "</p>"));
        });
        PageFetcher fetcher;
        ASSERT_EQ(fetchWith(fetcher, server.url(u"/1"_s)).body, "<p>page 0</p>");
        const FetchResult second = fetchWith(fetcher, server.url(u"/2"_s));
        EXPECT_EQ(server.connections(), 2) << secondAlsoFails;
        EXPECT_EQ(server.requests().size(), 3) << secondAlsoFails;
        if (secondAlsoFails) {
            EXPECT_EQ(second.error.kind, Kind::Network);
        } else {
            EXPECT_FALSE(second.error.isError()) << second.error.message.toStdString();
            EXPECT_EQ(second.body, "<p>page 1</p>");
        }
    }
}

// A first request that the server drops unanswered fails at once: only a reused connection is worth a retry.
TEST(PageFetcherConnections, FreshConnectionClosedUnansweredFails)
{
    ScriptedServer server([](QTcpSocket *socket, int, int) { socket->disconnectFromHost(); });
    PageFetcher fetcher;
    const FetchResult result = fetchWith(fetcher, server.url(u"/page"_s));
    EXPECT_EQ(result.error.kind, Kind::Network);
    EXPECT_TRUE(result.error.message.startsWith(u"无法打开“"_s + server.url(u"/page"_s).toString()))
        << result.error.message.toStdString();
    EXPECT_EQ(server.connections(), 1);
}

// A server that trickles its answer (a byte now and then, never silent long enough for the silence limit) is cut
// off at the limit of the whole fetch, and the failure says why.
TEST(PageFetcherConnections, TrickleIsCutOffAtTheTotalLimit)
{
    ScriptedServer server([](QTcpSocket *socket, int, int) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n");
        auto *drip = new QTimer(socket);
        QObject::connect(drip, &QTimer::timeout, socket, [socket] { socket->write("x"); });
        drip->start(20);
    });
    PageFetcher fetcher;
    fetcher.setTransferTimeout(std::chrono::seconds(10));
    fetcher.setTotalTimeout(std::chrono::milliseconds(300));
    QElapsedTimer clock;
    clock.start();
    const FetchResult result = fetchWith(fetcher, server.url(u"/slow"_s));
    EXPECT_EQ(result.error.kind, Kind::Timeout);
    EXPECT_TRUE(result.error.message.contains(u"没有收完"_s)) << result.error.message.toStdString();
    EXPECT_LT(clock.elapsed(), 5000);
}

// Answers the regular fixture cannot give: each is read correctly (or refused) by the real client, and the
// connection is kept only when the answer allows it.
TEST(PageFetcherConnections, ReadsRawAnswers)
{
    const QByteArray page = sampleText(5000);
    const struct
    {
        const char *name;
        QList<QByteArray> pieces; // written 20 ms apart
        bool closeAfter;          // the server closes after the last piece
        Kind kind;
        QByteArray body;
        int connectionsForTwo; // connections used by two fetches in a row
        const char16_t *cause;
    } cases[] = {
        {"headers split in many writes",
         {"HTTP/1.1 200 OK\r\nContent-", "Type: text/html\r\nContent-Le", "ngth: 5000\r", "\n\r\n", page},
         false,
         Kind::None,
         page,
         1,
         nullptr},
        {"Connection: close",
         {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5000\r\n\r\n" + page},
         true,
         Kind::None,
         page,
         2,
         nullptr},
        {"HTTP/1.0", {"HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + page}, true, Kind::None, page, 2, nullptr},
        {"read to close",
         {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + page.left(100), page.mid(100)},
         true,
         Kind::None,
         page,
         2,
         nullptr},
        {"chunked in pieces",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1388;ext=1\r\n" + page.left(3000),
          page.mid(3000) + "\r\n", "0\r\nX-Trailer: yes\r\n\r\n"},
         false,
         Kind::None,
         page,
         1,
         nullptr},
        {"raw deflate",
         {"HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: " +
          QByteArray::number(compressed(page, -15).size()) + "\r\n\r\n" + compressed(page, -15)},
         false,
         Kind::None,
         page,
         1,
         nullptr},
        {"204 No Content", {"HTTP/1.1 204 No Content\r\n\r\n"}, false, Kind::None, "", 1, nullptr},
        {"bogus chunk size",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffff\r\n"},
         false,
         Kind::Network,
         "",
         2,
         u"分块长度无效"},
        {"oversized headers",
         {"HTTP/1.1 200 OK\r\n" + QByteArray("X-Padding: 0123456789abcdef\r\n").repeated(10'000)},
         false,
         Kind::Network,
         "",
         2,
         u"回应头超过"},
        {"cut short",
         {"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + page.left(10)},
         true,
         Kind::Network,
         "",
         2,
         u"断开"},
        {"corrupt gzip",
         {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 10\r\n\r\n0123456789"},
         false,
         Kind::Network,
         "",
         2,
         u"压缩数据"},
        {"content coding never offered",
         {"HTTP/1.1 200 OK\r\nContent-Encoding: br\r\nContent-Length: 3\r\n\r\nabc"},
         false,
         Kind::Network,
         "",
         2,
         u"br"},
        {"no HTTP at all", {"SSH-2.0-OpenSSH_9.2\r\n"}, false, Kind::Network, "", 2, u"状态行"},
    };
    for (const auto &c : cases) {
        ScriptedServer server([&c](QTcpSocket *socket, int, int) {
            for (qsizetype i = 0; i < c.pieces.size(); ++i) {
                QTimer::singleShot(20 * i, socket, [socket, &c, i] {
                    socket->write(c.pieces[i]);
                    socket->flush();
                    if (c.closeAfter && i + 1 == c.pieces.size())
                        socket->disconnectFromHost();
                });
            }
        });
        PageFetcher fetcher;
        for (int round = 0; round < 2; ++round) {
            const FetchResult result = fetchWith(fetcher, server.url(u"/page"_s));
            EXPECT_EQ(result.error.kind, c.kind) << c.name << ": " << result.error.message.toStdString();
            EXPECT_TRUE(result.body == c.body) << c.name;
            if (c.cause) {
                EXPECT_TRUE(result.error.message.contains(QString::fromUtf16(c.cause)))
                    << c.name << ": " << result.error.message.toStdString();
            }
        }
        EXPECT_EQ(server.connections(), c.connectionsForTwo) << c.name;
    }
}

// The time-out counts silence, not the whole transfer: an answer that trickles in for longer than the time-out
// arrives, one that stops half-way fails.
TEST(PageFetcherConnections, TimeOutCountsSilenceOnly)
{
    for (const bool stalls : {false, true}) {
        ScriptedServer server([stalls](QTcpSocket *socket, int, int) {
            const QByteArray answer = okResponse(QByteArray(10, 'x'));
            for (int i = 0; i < answer.size(); ++i) {
                if (stalls && i == answer.size() - 3)
                    return;
                QTimer::singleShot(i * 10, socket, [socket, byte = answer.mid(i, 1)] { socket->write(byte); });
            }
        });
        PageFetcher fetcher;
        fetcher.setTransferTimeout(150ms);
        const FetchResult result = fetchWith(fetcher, server.url(u"/slow"_s));
        EXPECT_EQ(result.error.kind, stalls ? Kind::Timeout : Kind::None) << result.error.message.toStdString();
        EXPECT_EQ(result.body, stalls ? QByteArray() : QByteArray(10, 'x'));
    }
}

// A fetch abandoned half-way through its answer leaves nothing behind: the next fetch opens a new connection
// instead of reading the rest of the old answer as its own.
TEST(PageFetcherConnections, AbandonedFetchIsNotReused)
{
    ScriptedServer server([](QTcpSocket *socket, int connection, int request) {
        if (connection == 0 && request == 0) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<p>first half");
            QTimer::singleShot(100, socket, [socket] { socket->write(QByteArray(87, 'x')); });
            return;
        }
        socket->write(okResponse("<p>second</p>"));
    });
    PageFetcher fetcher;
    QList<FetchResult> results;
    QObject::connect(&fetcher, &PageFetcher::finished, &fetcher, [&results](const FetchResult &r) { results << r; });
    fetcher.fetch(server.url(u"/first"_s));
    ASSERT_TRUE(QTest::qWaitFor([&server] { return server.requests().size() == 1; }, 5000));
    QTest::qWait(30);
    fetcher.abandon();
    EXPECT_FALSE(fetcher.isRunning());
    QTest::qWait(150);
    EXPECT_TRUE(results.isEmpty());

    const FetchResult second = fetchWith(fetcher, server.url(u"/second"_s));
    EXPECT_EQ(second.body, "<p>second</p>");
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(results.size(), 1);
}

// finished never comes from inside fetch(), even when the answer is known at once (a file, an address we cannot
// fetch); and a fetcher deleted in its own finished slot, or while its answer arrives, goes quietly.
TEST(PageFetcherConnections, FinishedOnlyFromTheEventLoopAndSafeToDelete)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(u"page.html"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<p>file</p>");
    file.close();
    HttpServer server;
    server.setPage(u"/page"_s, "<p>page</p>");
    const QUrl urls[] = {QUrl::fromLocalFile(file.fileName()), QUrl(u"ftp://example.invalid/page"_s),
                         QUrl(u"http:///nohost"_s), server.url(u"/page"_s)};
    for (const QUrl &url : urls) {
        auto *fetcher = new PageFetcher;
        QPointer<PageFetcher> alive(fetcher);
        int reports = 0;
        QObject::connect(fetcher, &PageFetcher::finished, fetcher, [&reports, fetcher](const FetchResult &) {
            ++reports;
            delete fetcher;
        });
        fetcher->fetch(url);
        EXPECT_EQ(reports, 0) << url.toString().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&alive] { return alive.isNull(); }, 5000)) << url.toString().toStdString();
        EXPECT_EQ(reports, 1);
    }

    // Deleted while the answer is on its way.
    HttpResponse slow = HttpResponse::page("<p>slow</p>");
    slow.delayMs = 30;
    server.setResponse(u"/slow"_s, slow);
    auto fetcher = std::make_unique<PageFetcher>();
    fetcher->fetch(server.url(u"/slow"_s));
    QTest::qWait(10);
    fetcher.reset();
    QTest::qWait(60);
}

// The request says what the grabbing browser says: GET with Host, the language and the codings we read, kept alive.
TEST_F(PageFetcherTest, SendsABrowserLikeRequest)
{
    m_server.setPage(u"/req"_s, "<p>req</p>");
    ASSERT_FALSE(fetch(QUrl(m_server.url(u"/req"_s).toString() + u"?q=%E4%B8%AD#frag"_s)).error.isError());
    const HttpRequest request = m_server.requests(u"/req"_s).value(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/req?q=%E4%B8%AD");
    EXPECT_EQ(request.header("Host"), "127.0.0.1:" + QByteArray::number(m_server.port()));
    EXPECT_EQ(request.header("Accept"), "text/html,application/xhtml+xml,*/*;q=0.8");
    EXPECT_EQ(request.header("Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(request.header("Accept-Language"), "zh-CN,zh;q=0.9");
    EXPECT_EQ(request.header("Connection"), "keep-alive");
}

// A TLS handshake with something that is no TLS server fails as a TLS error naming the address.
TEST(PageFetcherConnections, FailedHandshakeIsATlsError)
{
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend";
    ScriptedServer server([](QTcpSocket *, int, int) {});
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
        while (QTcpSocket *socket = plain.nextPendingConnection())
            socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    });
    const QUrl url(u"https://127.0.0.1:"_s + QString::number(plain.serverPort()) + u"/page"_s);
    PageFetcher fetcher;
    const FetchResult result = fetchWith(fetcher, url);
    EXPECT_EQ(result.error.kind, Kind::Tls) << result.error.message.toStdString();
    EXPECT_TRUE(result.error.message.startsWith(u"无法打开“"_s + url.toString())) << result.error.message.toStdString();
}

namespace {

// A parser that waits at a gate before parsing for real, so a test decides when a parse ends. Only pages whose
// path is gatedPath wait; others parse at once.
struct GatedParser
{
    QString gatedPath;
    std::shared_ptr<QSemaphore> started = std::make_shared<QSemaphore>();
    std::shared_ptr<QSemaphore> gate = std::make_shared<QSemaphore>();
    std::shared_ptr<QSemaphore> done = std::make_shared<QSemaphore>();

    ParseFunction function() const
    {
        return [path = gatedPath, started = started, gate = gate,
                done = done](const QByteArray &bytes, const QByteArray &contentType, const QUrl &url, std::stop_token) {
            if (url.path() != path)
                return parseHtmlDocument(bytes, contentType, url);
            started->release();
            gate->acquire();
            auto document = parseHtmlDocument(bytes, contentType, url);
            done->release();
            return document;
        };
    }

    // Runs the event loop until the gated page is in the parser.
    bool waitUntilParsing() const
    {
        return QTest::qWaitFor([this] { return started->tryAcquire(); }, 5000);
    }

    // Lets the parse go on and waits until it has ended, on its worker thread.
    bool finish() const
    {
        gate->release();
        return done->tryAcquire(1, 5000);
    }
};

class StaticBrowserTest : public ::testing::Test
{
protected:
    StaticBrowserTest()
    {
        m_server.setPage(u"/page"_s, "<html><head><title>Chapter 1</title></head>"
                                     "<body><div id=text>Once upon a time</div><a href=/2>next</a></body></html>");
        m_browser->setTransferTimeout(2000ms);
    }

    // Waits for the one loadFinished of the current load and returns its flag.
    bool waitForLoad(QSignalSpy &spy)
    {
        if (spy.isEmpty()) {
            EXPECT_TRUE(spy.wait(5000));
        }
        EXPECT_EQ(spy.size(), 1);
        return !spy.isEmpty() && spy.first().first().toBool();
    }

    bool load(const QUrl &url)
    {
        QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
        m_browser->Navigate(url);
        return waitForLoad(spy);
    }

    HttpServer m_server;
    std::unique_ptr<StaticBrowser> m_browser = std::make_unique<StaticBrowser>();
};

} // namespace

// Navigate returns at once in the Loading state; loadFinished(true) follows with the parsed page, after redirects.
TEST_F(StaticBrowserTest, LoadsAndParsesAPage)
{
    EXPECT_EQ(m_browser->ReadyState(), Browser::State::Uninitialized);
    m_server.setRedirect(u"/start"_s, u"/page"_s);
    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/start"_s));
    EXPECT_EQ(spy.size(), 0);
    EXPECT_EQ(m_browser->ReadyState(), Browser::State::Loading);
    EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr);

    ASSERT_TRUE(waitForLoad(spy)) << m_browser->lastError().message.toStdString();
    EXPECT_EQ(m_browser->ReadyState(), Browser::State::Complete);
    EXPECT_FALSE(m_browser->lastError().isError());
    const std::shared_ptr<const Document> document = m_browser->GetHtmlDocument();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->url(), m_server.url(u"/page"_s));
    EXPECT_EQ(document->title(), u"Chapter 1"_s);
    QStringList tags;
    for (int i = 0; i < document->all().length(); ++i)
        tags.append(document->all().item(i)->tagName());
    EXPECT_EQ(tags, (QStringList{u"HTML"_s, u"HEAD"_s, u"TITLE"_s, u"BODY"_s, u"DIV"_s, u"A"_s}));
    EXPECT_EQ(document->all().item(4)->innerText(), u"Once upon a time"_s);
}

// Every failed load reports false once, keeps no document (not even the previous page's) and explains itself.
TEST_F(StaticBrowserTest, FailedLoadsKeepNoDocument)
{
    HttpResponse missing = HttpResponse::page("<html><body>Not here</body></html>");
    missing.status = 404;
    m_server.setResponse(u"/missing"_s, missing);
    m_server.setPage(u"/image"_s, "GIF89a", "image/gif");
    HttpResponse silent;
    silent.delayMs = HttpResponse::Never;
    m_server.setResponse(u"/silent"_s, silent);
    m_browser->setTransferTimeout(100ms);

    const struct
    {
        const char *path;
        Kind kind;
        int httpStatus;
    } cases[] = {
        {"/missing", Kind::HttpStatus, 404},
        {"/image", Kind::NotHtml, 0},
        {"/silent", Kind::Timeout, 0},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(load(m_server.url(u"/page"_s)));
        const QUrl url = m_server.url(QString::fromLatin1(c.path));
        EXPECT_FALSE(load(url)) << c.path;
        EXPECT_EQ(m_browser->ReadyState(), Browser::State::Complete);
        EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr) << c.path;
        const LoadError error = m_browser->lastError();
        EXPECT_EQ(error.kind, c.kind) << c.path;
        EXPECT_EQ(error.httpStatus, c.httpStatus) << c.path;
        EXPECT_TRUE(error.message.startsWith(u"无法打开“"_s + url.toString() + u"”："_s))
            << error.message.toStdString();
    }
}

// stop() ends a load at once: the state and the error change before it returns, loadFinished(false) follows once,
// and the page that answers later is ignored.
TEST_F(StaticBrowserTest, StopAbandonsARunningFetch)
{
    HttpResponse slow = HttpResponse::page("<p>late</p>");
    slow.delayMs = 50;
    m_server.setResponse(u"/slow"_s, slow);
    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/slow"_s));
    QTest::qWait(10);
    m_browser->stop();
    EXPECT_EQ(spy.size(), 0);
    EXPECT_EQ(m_browser->ReadyState(), Browser::State::Complete);
    EXPECT_EQ(m_browser->lastError().kind, Kind::Stopped);
    EXPECT_TRUE(m_browser->lastError().message.contains(m_server.url(u"/slow"_s).toString()));

    EXPECT_FALSE(waitForLoad(spy));
    QTest::qWait(100);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr);
    EXPECT_EQ(m_browser->lastError().kind, Kind::Stopped);
}

// stop() also abandons a parse in progress; its late result never becomes the document.
TEST_F(StaticBrowserTest, StopAbandonsARunningParse)
{
    const GatedParser parser{u"/page"_s};
    m_browser->setParseFunction(parser.function());
    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/page"_s));
    ASSERT_TRUE(parser.waitUntilParsing());
    m_browser->stop();
    ASSERT_TRUE(parser.finish());

    EXPECT_FALSE(waitForLoad(spy));
    QTest::qWait(50);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr);
    EXPECT_EQ(m_browser->lastError().kind, Kind::Stopped);
}

// A second Navigate abandons the first, in the network or in the parser: one signal, for the second page only.
TEST_F(StaticBrowserTest, SecondNavigateAbandonsTheFirst)
{
    HttpResponse slow = HttpResponse::page("<title>old</title>");
    slow.delayMs = 30;
    m_server.setResponse(u"/old"_s, slow);
    m_server.setPage(u"/new"_s, "<title>new</title>");

    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/old"_s));
    m_browser->Navigate(m_server.url(u"/new"_s));
    EXPECT_TRUE(waitForLoad(spy));
    QTest::qWait(80);
    EXPECT_EQ(spy.size(), 1);
    ASSERT_NE(m_browser->GetHtmlDocument(), nullptr);
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"new"_s);

    // The old page is held in its parse while the new one loads; its result must not replace the new page.
    const GatedParser parser{u"/page"_s};
    m_browser->setParseFunction(parser.function());
    spy.clear();
    m_browser->Navigate(m_server.url(u"/page"_s));
    ASSERT_TRUE(parser.waitUntilParsing());
    m_browser->Navigate(m_server.url(u"/new"_s));
    EXPECT_TRUE(waitForLoad(spy));
    ASSERT_TRUE(parser.finish());
    QTest::qWait(50);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"new"_s);
}

// A parse that passes the time limit fails the load (the window never waits on it); its late result is dropped.
TEST_F(StaticBrowserTest, ParseTimeLimitFailsTheLoad)
{
    const GatedParser parser{u"/page"_s};
    m_browser->setParseFunction(parser.function());
    m_browser->setParseTimeLimit(50ms);

    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/page"_s));
    EXPECT_FALSE(waitForLoad(spy));
    EXPECT_EQ(m_browser->lastError().kind, Kind::ParseFailed);
    EXPECT_EQ(m_browser->lastError().message,
              u"无法打开“"_s + m_server.url(u"/page"_s).toString() + u"”：页面解析超过 0.05 秒，已放弃"_s);

    ASSERT_TRUE(parser.finish());
    QTest::qWait(50);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr);
}

// A parser that throws fails the load with its reason instead of escaping into the event loop.
TEST_F(StaticBrowserTest, ParserErrorFailsTheLoad)
{
    m_browser->setParseFunction(
        [](const QByteArray &, const QByteArray &, const QUrl &, std::stop_token) -> std::shared_ptr<const Document> {
            throw std::runtime_error("tree too deep");
        });
    EXPECT_FALSE(load(m_server.url(u"/page"_s)));
    EXPECT_EQ(m_browser->lastError().kind, Kind::ParseFailed);
    EXPECT_TRUE(m_browser->lastError().message.contains(u"tree too deep"_s))
        << m_browser->lastError().message.toStdString();
}

// Deleting the browser while its page is still being parsed is safe: the parse ends unobserved.
TEST_F(StaticBrowserTest, DeletedWhileParsing)
{
    const GatedParser parser{u"/page"_s};
    m_browser->setParseFunction(parser.function());
    m_browser->Navigate(m_server.url(u"/page"_s));
    ASSERT_TRUE(parser.waitUntilParsing());
    m_browser.reset();
    ASSERT_TRUE(parser.finish());
    QTest::qWait(20); // any late delivery would land here
}

// The charset comes from the Content-Type header when it names one (it beats the page's meta), else from the
// meta; file:// pages have only their meta.
TEST_F(StaticBrowserTest, CharsetFromHeaderOrMeta)
{
    const QString chapter = u"第一章 风起"_s;
    const QByteArray gbkText = QByteArray::fromHex("b5dad2bbd5c220b7e7c6f0"); // 第一章 风起 in GBK
    const QByteArray utf8Text = chapter.toUtf8();
    const struct
    {
        const char *name;
        QByteArray contentType;
        QByteArray meta;
        QByteArray text;
    } cases[] = {
        {"header only", "text/html; charset=GBK", "", gbkText},
        {"header beats meta", "text/html; charset=gbk", "<meta charset=utf-8>", gbkText},
        {"meta only", "text/html", "<meta http-equiv=Content-Type content='text/html; charset=gb2312'>", gbkText},
        {"utf-8 by header", "text/html; charset=utf-8", "<meta charset=gbk>", utf8Text},
        {"undeclared utf-8", "text/html", "", utf8Text},
        {"undeclared gbk", "text/html", "", gbkText},
    };
    int n = 0;
    for (const auto &c : cases) {
        const QString path = u"/charset"_s + QString::number(n++);
        m_server.setPage(path, "<html><head>" + c.meta + "<title>" + c.text + "</title></head></html>", c.contentType);
        ASSERT_TRUE(load(m_server.url(path))) << c.name;
        EXPECT_EQ(m_browser->GetHtmlDocument()->title(), chapter) << c.name;
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(u"gbk.html"_s);
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("<html><head><meta charset=gbk><title>" + gbkText + "</title></head></html>");
    out.close();
    ASSERT_TRUE(load(QUrl::fromLocalFile(file))) << m_browser->lastError().message.toStdString();
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), chapter);
}

// Linked sheets shape the text. Each address is fetched once for all the pages that link it, with the page's
// cookies; imports come along, redirects are followed, a sheet that fails is left out without failing the page,
// and a sheet for print is never fetched.
TEST_F(StaticBrowserTest, LinkedSheetsAreFetchedOncePerAddress)
{
    m_server.setResponse(u"/css/site.css"_s,
                         HttpResponse::page("@import url(more.css);\n.x{display:none}", "text/css"));
    m_server.setResponse(u"/css/more.css"_s, HttpResponse::page(".y{display:none}", "text/css"));
    m_server.setRedirect(u"/css/moved.css"_s, u"/css/real.css"_s, 301);
    m_server.setResponse(u"/css/real.css"_s, HttpResponse::page(".z{display:none}", "text/css"));
    m_server.setResponse(u"/css/print.css"_s, HttpResponse::page(".w{display:none}", "text/css"));
    m_server.setResponse(u"/css/fromstyle.css"_s, HttpResponse::page(".u{display:none}", "text/css"));
    const QByteArray head = "<html><head><style>@import url(/css/fromstyle.css);</style>"
                            "<link rel=stylesheet href=/css/site.css><link rel=\"stylesheet\" "
                            "href=\"../css/moved.css\"><link rel=stylesheet href=/css/gone.css>"
                            "<link rel=stylesheet media=print href=/css/print.css></head><body>";
    for (int page = 1; page <= 10; ++page) {
        const QString path = u"/book/"_s + QString::number(page) + u".html"_s;
        m_server.setResponse(path, HttpResponse::page(head + "<div id=text>" + QByteArray::number(page) +
                                                      "<span class=x>X</span><span class=y>Y</span><span class=z>Z"
                                                      "</span><span class=w>W</span></div></body></html>")
                                       .withHeader("Set-Cookie", "reader=42; Path=/"));
        ASSERT_TRUE(load(m_server.url(path))) << m_browser->lastError().message.toStdString();
        const std::shared_ptr<const Document> document = m_browser->GetHtmlDocument();
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->all().item(8)->innerText(), QString::number(page) + u"W"_s) << page;
    }
    for (const QString &sheet :
         {u"/css/site.css"_s, u"/css/more.css"_s, u"/css/moved.css"_s, u"/css/real.css"_s, u"/css/gone.css"_s})
        EXPECT_EQ(m_server.requestCount(sheet), 1) << sheet.toStdString();
    EXPECT_EQ(m_server.requestCount(u"/css/print.css"_s), 0);
    EXPECT_TRUE(m_server.requests(u"/css/site.css"_s).value(0).header("Cookie").contains("reader=42"));
}

// A page whose sheet is still on its way when the next Navigate comes is abandoned with it: only the new page
// finishes.
TEST_F(StaticBrowserTest, NavigateAbandonsAPageWaitingForItsSheet)
{
    m_server.setHandler(u"/slow.css"_s, [](const HttpRequest &) {
        QThread::msleep(300);
        return HttpResponse::page(".x{display:none}", "text/css");
    });
    m_server.setPage(u"/styled"_s, "<link rel=stylesheet href=/slow.css><div>a<span class=x>b</span></div>");
    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/styled"_s));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(u"/slow.css"_s), 1, 5000);
    m_browser->Navigate(m_server.url(u"/page"_s));
    ASSERT_TRUE(waitForLoad(spy));
    QTest::qWait(400);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Chapter 1"_s);

    // The sheet that arrived meanwhile is kept: the styled page now loads without asking for it again.
    ASSERT_TRUE(load(m_server.url(u"/styled"_s)));
    EXPECT_EQ(m_browser->GetHtmlDocument()->all().item(4)->innerText(), u"a"_s);
    EXPECT_LE(m_server.requestCount(u"/slow.css"_s), 2);
}

// An abandoned parse is asked to stop, whatever abandoned it (a new page, stop(), the time limit, the browser's
// end), so a hostile page's worker thread ends soon instead of parsing on for minutes.
TEST_F(StaticBrowserTest, AbandonedParseIsAskedToStop)
{
    const struct
    {
        const char *name;
        std::function<void()> abandon;
    } cases[] = {
        {"new page", [this] { m_browser->Navigate(m_server.url(u"/other"_s)); }},
        {"stop", [this] { m_browser->stop(); }},
        {"time limit", [] {}},
        {"browser deleted", [this] { m_browser.reset(); }},
    };
    m_server.setPage(u"/other"_s, "<p>other</p>");
    for (const auto &c : cases) {
        m_browser = std::make_unique<StaticBrowser>();
        m_browser->setParseTimeLimit(std::string_view(c.name) == "time limit" ? 100ms : 10s);
        auto started = std::make_shared<QSemaphore>();
        auto stopped = std::make_shared<QSemaphore>();
        m_browser->setParseFunction([started, stopped](const QByteArray &bytes, const QByteArray &contentType,
                                                       const QUrl &url, std::stop_token stop) {
            if (url.path() != u"/page")
                return parseHtmlDocument(bytes, contentType, url);
            started->release();
            // A stand-in for a parse of minutes; gives up after 5 s so that a failing test still ends.
            for (int i = 0; i < 500 && !stop.stop_requested(); ++i)
                QThread::msleep(10);
            if (stop.stop_requested())
                stopped->release();
            return std::shared_ptr<const StaticDocument>();
        });
        m_browser->Navigate(m_server.url(u"/page"_s));
        ASSERT_TRUE(QTest::qWaitFor([&started] { return started->tryAcquire(); }, 5000)) << c.name;
        c.abandon();
        EXPECT_TRUE(QTest::qWaitFor([&stopped] { return stopped->tryAcquire(); }, 2000)) << c.name;
    }
}

// With a next-link hint the next page is asked for while the current one is parsed, and a Navigate to it uses that
// answer instead of asking again; a Navigate elsewhere, or no hint, asks as usual.
TEST_F(StaticBrowserTest, AsksForTheNextPageEarly)
{
    m_server.setPage(u"/2"_s, "<html><head><title>Chapter 2</title></head><body><a href=/3>next</a></body></html>");
    m_server.setPage(u"/3"_s, "<html><head><title>Chapter 3</title></head><body></body></html>");
    m_server.setPage(u"/other"_s, "<html><head><title>Other</title></head><body></body></html>");
    m_browser->setNextLinkHint(u"next"_s);

    ASSERT_TRUE(load(m_server.url(u"/page"_s)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.requestCount(u"/2"_s) == 1; }, 5000));
    ASSERT_TRUE(load(m_server.url(u"/2"_s)));
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Chapter 2"_s);
    EXPECT_EQ(m_server.requestCount(u"/2"_s), 1);

    // The early request for /3 is dropped by a Navigate elsewhere.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.requestCount(u"/3"_s) == 1; }, 5000));
    ASSERT_TRUE(load(m_server.url(u"/other"_s)));
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Other"_s);
    ASSERT_TRUE(load(m_server.url(u"/3"_s)));
    EXPECT_EQ(m_server.requestCount(u"/3"_s), 2);

    m_browser->setNextLinkHint(QString());
    ASSERT_TRUE(load(m_server.url(u"/page"_s)));
    QTest::qWait(50);
    EXPECT_EQ(m_server.requestCount(u"/2"_s), 1);
}

// The page asked for early is parsed as soon as it arrives, before Navigate asks for it; Navigate then takes that
// parse over, whether it is still running or has ended, and its outcome (a document or a failure) is the load's.
TEST_F(StaticBrowserTest, ParsesTheNextPageBeforeItIsAskedFor)
{
    m_server.setPage(u"/2"_s, "<html><head><title>Chapter 2</title></head><body><a href=/3>next</a></body></html>");
    m_server.setPage(u"/3"_s, "<html><head><title>Chapter 3</title></head><body></body></html>");
    const GatedParser parser{u"/2"_s};
    m_browser->setParseFunction(parser.function());
    m_browser->setNextLinkHint(u"next"_s);

    // Still in the parser when asked for: the load ends when that parse does.
    ASSERT_TRUE(load(m_server.url(u"/page"_s)));
    ASSERT_TRUE(parser.waitUntilParsing());
    QSignalSpy spy(m_browser.get(), &Browser::loadFinished);
    m_browser->Navigate(m_server.url(u"/2"_s));
    QTest::qWait(20);
    EXPECT_TRUE(spy.isEmpty());
    ASSERT_TRUE(parser.finish());
    EXPECT_TRUE(waitForLoad(spy));
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Chapter 2"_s);
    EXPECT_EQ(m_server.requestCount(u"/2"_s), 1);

    // Parsed before it was asked for: the document comes from the event loop, never from within Navigate.
    std::atomic<bool> parsedBeforeAsked = false;
    m_browser->setParseFunction(
        [&parsedBeforeAsked](const QByteArray &bytes, const QByteArray &contentType, const QUrl &url, std::stop_token) {
            if (url.path() == u"/3")
                parsedBeforeAsked = true;
            return parseHtmlDocument(bytes, contentType, url);
        });
    ASSERT_TRUE(load(m_server.url(u"/2"_s)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return parsedBeforeAsked.load(); }, 5000));
    QTest::qWait(20); // the parse's result reaches the browser
    const int asked = m_server.requestCount(u"/3"_s);
    spy.clear();
    m_browser->Navigate(m_server.url(u"/3"_s));
    EXPECT_TRUE(spy.isEmpty());
    EXPECT_TRUE(waitForLoad(spy));
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Chapter 3"_s);
    EXPECT_EQ(m_server.requestCount(u"/3"_s), asked);
}

// An early parse that fails fails the load that asks for its page, with the same message as any failed parse; one
// that is not asked for is abandoned (asked to stop) by a Navigate elsewhere, and never becomes a document.
TEST_F(StaticBrowserTest, EarlyParseFailuresAndAbandons)
{
    m_server.setPage(u"/2"_s, "<html><head><title>Chapter 2</title></head><body></body></html>");
    m_server.setPage(u"/other"_s, "<html><head><title>Other</title></head><body></body></html>");
    auto started = std::make_shared<QSemaphore>();
    auto stopped = std::make_shared<QSemaphore>();
    std::atomic<bool> failTheNextPage = true;
    m_browser->setParseFunction([&failTheNextPage, started, stopped](const QByteArray &bytes,
                                                                     const QByteArray &contentType, const QUrl &url,
                                                                     std::stop_token stop) {
        if (url.path() != u"/2")
            return parseHtmlDocument(bytes, contentType, url);
        if (failTheNextPage)
            throw std::runtime_error("broken chapter");
        started->release();
        for (int i = 0; i < 500 && !stop.stop_requested(); ++i)
            QThread::msleep(10);
        if (stop.stop_requested())
            stopped->release();
        return parseHtmlDocument(bytes, contentType, url);
    });
    m_browser->setNextLinkHint(u"next"_s);

    ASSERT_TRUE(load(m_server.url(u"/page"_s)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.requestCount(u"/2"_s) == 1; }, 5000));
    QTest::qWait(20);
    EXPECT_FALSE(load(m_server.url(u"/2"_s)));
    EXPECT_EQ(m_browser->lastError().kind, Kind::ParseFailed);
    EXPECT_EQ(m_browser->lastError().message,
              u"无法打开“"_s + m_server.url(u"/2"_s).toString() + u"”：页面无法解析（broken chapter）"_s);
    EXPECT_EQ(m_browser->GetHtmlDocument(), nullptr);

    failTheNextPage = false;
    ASSERT_TRUE(load(m_server.url(u"/page"_s)));
    ASSERT_TRUE(QTest::qWaitFor([&started] { return started->tryAcquire(); }, 5000));
    ASSERT_TRUE(load(m_server.url(u"/other"_s)));
    EXPECT_TRUE(QTest::qWaitFor([&stopped] { return stopped->tryAcquire(); }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(m_browser->GetHtmlDocument()->title(), u"Other"_s);
}

// The raw-bytes guess finds the link only where it is sure, in GBK or UTF-8 pages.
TEST(NextPageGuess, FindsOnlySureLinks)
{
    const QUrl page(u"http://h/book/1.html"_s);
    const QString name = u"下一页"_s;
    QStringEncoder gbk("GB18030");
    const struct
    {
        QByteArray body;
        const char *expected;
    } cases[] = {
        {"<a href=\"2.html\">" + name.toUtf8() + "</a>", "http://h/book/2.html"},
        {"<A class=x HREF='/b/2.html' target=_blank>" + QByteArray(gbk.encode(name)) + "</A>", "http://h/b/2.html"},
        {"<a href=2.html?a=1&amp;b=2>" + name.toUtf8() + "</a>", "http://h/book/2.html?a=1&b=2"},
        {"<a href=\"2.html#top\">" + name.toUtf8() + "</a>", "http://h/book/2.html"},
        {"<a href=\"2.html?x=&lt;\">" + name.toUtf8() + "</a>", ""},
        {"<base href=/x/><a href=2.html>" + name.toUtf8() + "</a>", ""},
        {"<span>" + name.toUtf8() + "</span>", ""},
        {"<a href=\"javascript:next()\">" + name.toUtf8() + "</a>", ""},
        {"<a href=2.html>" + name.toUtf8() + "!</a>", ""},
        {"<a name=n>" + name.toUtf8() + "</a>", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::browser::guessNextPageUrl(c.body, page, name), QUrl(QString::fromUtf8(c.expected)))
            << c.body.toStdString();
    EXPECT_TRUE(qh::browser::guessNextPageUrl("<a href=2.html><b>x</b></a>", page, u"<b>x</b>"_s).isEmpty());
}
