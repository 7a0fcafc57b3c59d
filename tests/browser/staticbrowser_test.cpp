#include "browser/htmlparser.h"
#include "browser/pagefetcher.h"
#include "browser/staticbrowser.h"

#include "support/httpserver.h"
#include "support/testutils.h"

#include <QEventLoop>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>
#include <stdexcept>

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
