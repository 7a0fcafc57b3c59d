#include "browser/pagefetcher.h"

#include "support/httpserver.h"
#include "support/testutils.h"

#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace qh::browser;
using namespace qh::test;
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

// A closed port is a network failure naming the address and Qt's reason.
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
    EXPECT_TRUE(result.error.message.contains(u"refused"_s, Qt::CaseInsensitive)) << result.error.message.toStdString();
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
