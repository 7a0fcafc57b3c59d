#include "browser/web/webbrowser.h"
#include "browser/web/webdocument.h"
#include "demo/httpserver.h"
#include "support/testutils.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebEnginePage>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using qh::browser::Document;
using qh::browser::LoadError;
using qh::browser::WebBrowser;
using qh::demo::HttpResponse;
using qh::demo::HttpServer;

namespace {

// Chromium is slow to start once, quick afterwards: every test shares one browser and one server.
class WebBrowserTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new HttpServer;
        browser = new WebBrowser;
    }
    static void TearDownTestSuite()
    {
        delete browser;
        delete server;
    }

    // Loads path and returns whether the load succeeded; fails the test if no answer comes.
    static bool load(const QString &path) { return loadUrl(server->url(path)); }
    static bool loadUrl(const QUrl &url)
    {
        QSignalSpy finished(browser, &WebBrowser::loadFinished);
        browser->Navigate(url);
        EXPECT_TRUE(finished.wait(20'000)) << "no answer for " << url.toString().toStdString();
        EXPECT_EQ(finished.size(), 1);
        return !finished.isEmpty() && finished.first().first().toBool();
    }
    static void refresh(const Document &document)
    {
        bool done = false;
        document.refresh([&done] { done = true; });
        EXPECT_TRUE(qh::test::runEventLoopUntil([&done] { return done; }, 10'000));
    }
    static int indexOfTag(const Document &document, const QString &tag, int from = 0)
    {
        for (int i = from; i < document.elementCount(); ++i) {
            if (document.tagNameAt(i) == tag)
                return i;
        }
        return -1;
    }

    static inline HttpServer *server = nullptr;
    static inline WebBrowser *browser = nullptr;
};

TEST_F(WebBrowserTest, ReadsTheElementsOfALivePageInDocumentOrder)
{
    server->setPage(u"/plain"_s, R"HTML(<html><head><title>第一章</title></head><body>
        <div id="c"><P>甲&nbsp;乙</P><a href="2.html?a=1&amp;b=2" class=next>下一页</a><br></div>
        <svg><circle r="1"></circle></svg></body></html>)HTML");
    ASSERT_TRUE(load(u"/plain"_s));
    EXPECT_EQ(browser->ReadyState(), WebBrowser::State::Complete);
    const auto document = browser->GetHtmlDocument();
    ASSERT_TRUE(document);
    EXPECT_FALSE(document->isStatic());
    EXPECT_EQ(document->title(), u"第一章"_s);
    EXPECT_EQ(document->url(), server->url(u"/plain"_s));

    QStringList tags;
    for (int i = 0; i < document->elementCount(); ++i)
        tags << document->tagNameAt(i);
    EXPECT_EQ(tags, (QStringList{u"HTML"_s, u"HEAD"_s, u"TITLE"_s, u"BODY"_s, u"DIV"_s, u"P"_s, u"A"_s, u"BR"_s,
                                 u"svg"_s, u"circle"_s}));
    EXPECT_EQ(document->parentIndexAt(0), -1);
    EXPECT_EQ(document->parentIndexAt(5), 4);
    EXPECT_EQ(document->parentIndexAt(9), 8);

    EXPECT_EQ(document->innerTextAt(5), u"甲\u00a0乙"_s);
    EXPECT_EQ(document->innerHtmlAt(6), u"下一页"_s);
    EXPECT_EQ(document->attributeAt(6, u"HREF"_s), u"2.html?a=1&b=2"_s);
    EXPECT_EQ(document->attributeAt(6, u"id"_s), std::nullopt);
    EXPECT_EQ(document->outerHtmlAt(6), u"<a href=\"2.html?a=1&amp;b=2\" class=\"next\">下一页</a>"_s);
    EXPECT_EQ(document->outerHtmlAt(7), u"<br>"_s);
}

TEST_F(WebBrowserTest, SeesTextThatAScriptAddsAfterTheLoadOnceRefreshed)
{
    server->setPage(u"/late"_s, R"HTML(<html><body><div id="c"></div><script>
        setTimeout(function () { document.getElementById('c').innerHTML = '<p>后来的正文</p>'; }, 300);
        </script></body></html>)HTML");
    ASSERT_TRUE(load(u"/late"_s));
    const auto document = browser->GetHtmlDocument();
    ASSERT_TRUE(document);
    EXPECT_EQ(indexOfTag(*document, u"P"_s), -1);

    QElapsedTimer waited;
    waited.start();
    while (indexOfTag(*document, u"P"_s) < 0 && waited.elapsed() < 10'000)
        refresh(*document);
    const int p = indexOfTag(*document, u"P"_s);
    EXPECT_EQ(document->innerTextAt(p), u"后来的正文"_s);
    EXPECT_EQ(document->tagNameAt(document->parentIndexAt(p)), u"DIV"_s);
}

TEST_F(WebBrowserTest, AnswersScriptDialogsAndRefusesNewWindowsWithoutShowingAnything)
{
    server->setPage(u"/popup-target"_s, "<p>popup</p>");
    server->setPage(u"/noisy"_s, R"HTML(<html><body><p id="r">start</p><script>
        alert('hello');
        var answer = confirm('sure?');
        var typed = prompt('name?', 'x');
        var opened = window.open('/popup-target');
        document.getElementById('r').textContent =
            'confirm=' + answer + ' prompt=' + typed + ' window=' + (opened === null);
        </script></body></html>)HTML");
    ASSERT_TRUE(load(u"/noisy"_s));
    const auto document = browser->GetHtmlDocument();
    ASSERT_TRUE(document);
    EXPECT_EQ(document->innerTextAt(indexOfTag(*document, u"P"_s)), u"confirm=false prompt=null window=true"_s);
    EXPECT_EQ(server->requestCount(u"/popup-target"_s), 0);
}

TEST_F(WebBrowserTest, FailedLoadsGiveNoDocumentAndSayWhy)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl refused = QUrl(u"http://127.0.0.1:%1/"_s.arg(closed.serverPort()));
    closed.close();

    server->setResponse(u"/missing"_s, [] {
        HttpResponse response = HttpResponse::page("<p>not here</p>");
        response.status = 404;
        return response;
    }());
    server->setPage(u"/picture"_s, QByteArray("\x89PNG\r\n\x1a\n", 8), "image/png");
    // A download is refused: nothing is saved, and the load fails instead of leaving the last page in place.
    server->setResponse(
        u"/book.zip"_s,
        HttpResponse::page("PK", "application/zip").withHeader("Content-Disposition", "attachment; filename=book.zip"));

    struct Case
    {
        QUrl url;
        LoadError::Kind kind;
        int httpStatus;
        QString says; // the cause, in Chinese
    };
    const Case cases[] = {
        {server->url(u"/missing"_s), LoadError::Kind::HttpStatus, 404, u"HTTP 404"_s},
        {refused, LoadError::Kind::Network, 0, u"连接被拒绝"_s},
        {server->url(u"/picture"_s), LoadError::Kind::NotHtml, 0, u"不是网页"_s},
        {server->url(u"/book.zip"_s), LoadError::Kind::Network, 0, u"加载"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        EXPECT_FALSE(loadUrl(c.url));
        EXPECT_EQ(browser->GetHtmlDocument(), nullptr);
        EXPECT_EQ(browser->lastError().kind, c.kind);
        EXPECT_EQ(browser->lastError().httpStatus, c.httpStatus);
        EXPECT_TRUE(browser->lastError().message.contains(c.url.toDisplayString()))
            << browser->lastError().message.toStdString();
        EXPECT_TRUE(browser->lastError().message.contains(c.says)) << browser->lastError().message.toStdString();
    }
    // A good page afterwards loads as usual.
    server->setPage(u"/fine"_s, "<p>fine</p>");
    EXPECT_TRUE(load(u"/fine"_s));
}

// Chromium's causes a reader meets read in Chinese; others keep Chromium's text.
TEST(ChromiumErrorText, SaysTheCauseInChinese)
{
    const struct
    {
        int netError;
        const char16_t *text;
    } cases[] = {
        {-102, u"连接被拒绝"}, {-105, u"找不到服务器"},       {-137, u"找不到服务器"},
        {-7, u"连接超时"},     {-118, u"连接超时"},           {-101, u"连接被重置"},
        {-106, u"网络未连接"}, {-130, u"无法连接代理服务器"}, {-999, u"网页加载失败（net::ERR_ODD）"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qh::browser::chromiumErrorText(c.netError, u"net::ERR_ODD"_s), QString::fromUtf16(c.text))
            << c.netError;
    EXPECT_EQ(qh::browser::chromiumErrorText(-999, QString()), u"网页加载失败"_s);
}

TEST_F(WebBrowserTest, AHangingLoadTimesOutAndAStopEndsALoadAtOnce)
{
    HttpResponse never = HttpResponse::page("<p>never</p>");
    never.delayMs = HttpResponse::Never;
    server->setResponse(u"/hang"_s, never);

    browser->setLoadTimeout(300ms);
    EXPECT_FALSE(load(u"/hang"_s));
    EXPECT_EQ(browser->lastError().kind, LoadError::Kind::Timeout);
    browser->setLoadTimeout(60s);

    QSignalSpy finished(browser, &WebBrowser::loadFinished);
    browser->Navigate(server->url(u"/hang"_s));
    browser->stop();
    EXPECT_TRUE(finished.isEmpty()); // never from within stop()
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_EQ(browser->lastError().kind, LoadError::Kind::Stopped);
    QTest::qWait(200);
    EXPECT_EQ(finished.size(), 1);
}

TEST_F(WebBrowserTest, AClickedScriptLinkIsFollowedToThePageItLoads)
{
    server->setPage(u"/js/1"_s, R"HTML(<html><body><p>一</p><script>function go() { location.href = '/js/2'; }</script>
        <a href="javascript:go()">下一页</a><a href="javascript:void(0)">没用</a></body></html>)HTML");
    server->setPage(u"/js/2"_s, "<html><body><p>二</p></body></html>");
    ASSERT_TRUE(load(u"/js/1"_s));
    const auto first = browser->GetHtmlDocument();
    ASSERT_TRUE(first);

    // A link whose script does nothing: after the grace time the same page, read again.
    QSignalSpy finished(browser, &WebBrowser::loadFinished);
    first->clickAt(indexOfTag(*first, u"A"_s, indexOfTag(*first, u"A"_s) + 1));
    browser->awaitScriptNavigation(300ms, 300ms);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_TRUE(finished.takeFirst().first().toBool());
    EXPECT_EQ(browser->GetHtmlDocument(), first);

    first->clickAt(indexOfTag(*first, u"A"_s));
    browser->awaitScriptNavigation(2s, 2s);
    ASSERT_TRUE(finished.wait(10'000));
    EXPECT_TRUE(finished.first().first().toBool());
    const auto second = browser->GetHtmlDocument();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->url(), server->url(u"/js/2"_s));
    EXPECT_EQ(second->innerTextAt(indexOfTag(*second, u"P"_s)), u"二"_s);
}

// A browser that goes while a reading of its page is under way: Qt WebEngine answers the reading as the page goes,
// and the answer finds the page gone without touching it (the sanitized build sees any touch); the document keeps
// its last reading and counts as settled.
TEST_F(WebBrowserTest, AReadingUnderWayWhenTheBrowserGoesFindsThePageGone)
{
    server->setPage(u"/gone"_s, "<html><body><h1>标题</h1><p>正文</p></body></html>");
    auto own = std::make_unique<WebBrowser>();
    own->setReadValuesOnDemand(true);
    QSignalSpy finished(own.get(), &WebBrowser::loadFinished);
    own->Navigate(server->url(u"/gone"_s));
    ASSERT_TRUE(finished.wait(20'000));
    ASSERT_TRUE(finished.first().first().toBool());
    const auto document = own->GetHtmlDocument();
    ASSERT_TRUE(document);
    const int elements = document->elementCount();
    const int h1 = indexOfTag(*document, u"H1"_s);

    bool refreshed = false;
    bool valuesRead = false;
    document->refresh([&refreshed] { refreshed = true; });
    document->innerTextAt(h1);
    document->readValues([&valuesRead] { valuesRead = true; });
    own.reset();
    EXPECT_TRUE(qh::test::runEventLoopUntil([&] { return refreshed && valuesRead; }, 10'000));

    refresh(*document);
    EXPECT_TRUE(document->isSettled());
    EXPECT_EQ(document->elementCount(), elements);
    EXPECT_EQ(document->tagNameAt(h1), u"H1"_s);
}

TEST_F(WebBrowserTest, SendsTheGrabbersUserAgent)
{
    server->setPage(u"/agent"_s, "<p>agent</p>");
    ASSERT_TRUE(load(u"/agent"_s));
    const QList<qh::demo::HttpRequest> requests = server->requests(u"/agent"_s);
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.first().header("User-Agent"), qh::browser::defaultUserAgent().toUtf8());
}

} // namespace

// A page that sends the browser on at once, by script or by a refresh, completes as the page it leads to.
TEST_F(WebBrowserTest, FollowsPagesThatMoveOnAsTheyLoad)
{
    server->setPage(u"/moved-here"_s, "<html><body><p>到了</p></body></html>");
    server->setPage(u"/by-script"_s, "<html><body><script>location.replace('/moved-here');</script></body></html>");
    server->setPage(u"/by-refresh"_s,
                    "<html><head><meta http-equiv=refresh content=\"0; url=/moved-here\"></head><body></body></html>");
    for (const QString &path : {u"/by-script"_s, u"/by-refresh"_s}) {
        SCOPED_TRACE(path.toStdString());
        ASSERT_TRUE(load(path)) << browser->lastError().message.toStdString();
        const auto document = browser->GetHtmlDocument();
        ASSERT_TRUE(document);
        EXPECT_EQ(document->url(), server->url(u"/moved-here"_s));
        const int p = indexOfTag(*document, u"P"_s);
        ASSERT_GE(p, 0);
        EXPECT_EQ(document->innerTextAt(p), u"到了"_s);
    }
}

// A document that reads values on demand: the structure comes with each reading, an element's text only once it has
// been asked for and read, and it stays read until the page changes. A reading of an unchanged page keeps the
// document's version; a change gives a new one. The page has settled only once it is quiet and its request is back.
TEST_F(WebBrowserTest, ReadsValuesOnDemandAndTellsWhenThePageHasSettled)
{
    server->setPage(u"/ondemand"_s, R"HTML(<html><body><h1>标题</h1><p id="p">正文</p>
        <a href="javascript:void(0)" onclick="fetch('/ondemand/more').then(function (r) { return r.text(); })
            .then(function (t) { document.getElementById('p').textContent = t; })">下一页</a></body></html>)HTML");
    HttpResponse more = HttpResponse::page("新的正文", "text/plain; charset=utf-8");
    more.delayMs = 1500;
    server->setResponse(u"/ondemand/more"_s, more);
    browser->setReadValuesOnDemand(true);
    browser->setQuietTime(200ms);
    const auto restore = qScopeGuard([] {
        browser->setReadValuesOnDemand(false);
        browser->setQuietTime(500ms);
    });
    ASSERT_TRUE(load(u"/ondemand"_s));
    const auto document = browser->GetHtmlDocument();
    ASSERT_TRUE(document);
    const int h1 = indexOfTag(*document, u"H1"_s);
    const int p = indexOfTag(*document, u"P"_s);
    ASSERT_GE(p, 0);

    const auto readValues = [&] {
        bool done = false;
        document->readValues([&done] { done = true; });
        EXPECT_TRUE(qh::test::runEventLoopUntil([&done] { return done; }, 10'000));
    };
    EXPECT_EQ(document->innerTextAt(h1), QString());
    EXPECT_TRUE(document->hasUnreadValues());
    readValues();
    EXPECT_FALSE(document->hasUnreadValues());
    EXPECT_EQ(document->innerTextAt(h1), u"标题"_s);
    EXPECT_FALSE(document->hasUnreadValues());

    const quint64 loaded = document->version();
    QElapsedTimer waited;
    waited.start();
    while (!document->isSettled() && waited.elapsed() < 10'000)
        refresh(*document);
    EXPECT_TRUE(document->isSettled());
    EXPECT_EQ(document->version(), loaded);
    EXPECT_EQ(document->innerTextAt(h1), u"标题"_s) << "kept while the page is unchanged";

    // The click sends a request; the text it brings comes after the quiet time, and the page has not settled
    // before it is there.
    document->clickAt(indexOfTag(*document, u"A"_s));
    waited.restart();
    bool settledWhileWaiting = false;
    do {
        refresh(*document);
        // Well past the quiet time, the request is what keeps the page from settling.
        if (document->version() == loaded && waited.elapsed() > 500)
            settledWhileWaiting = settledWhileWaiting || document->isSettled();
    } while (document->version() == loaded && waited.elapsed() < 10'000);
    EXPECT_FALSE(settledWhileWaiting);
    while (!document->isSettled() && waited.elapsed() < 10'000)
        refresh(*document);
    EXPECT_TRUE(document->isSettled());
    EXPECT_NE(document->version(), loaded);
    EXPECT_EQ(document->innerTextAt(p), QString());
    readValues();
    EXPECT_EQ(document->innerTextAt(p), u"新的正文"_s);
}

TEST_F(WebBrowserTest, APageWithoutAViewIsLaidOutAsWideAsTheReadingViewport)
{
    QString paragraph;
    while (paragraph.size() < 2000)
        paragraph += u"正文的一句话，没有可以断行的空格。"_s;
    server->setPage(u"/wide"_s, u"<html><body><p id=p>%1</p><p>下一段</p></body></html>"_s.arg(paragraph).toUtf8());
    const auto evaluate = [](const QString &script) {
        QVariant result;
        bool done = false;
        browser->page()->runJavaScript(script, 0, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        EXPECT_TRUE(qh::test::runEventLoopUntil([&done] { return done; }, 10'000));
        return result;
    };
    const auto read = [&] {
        const auto document = browser->GetHtmlDocument();
        EXPECT_TRUE(document);
        struct Reading
        {
            int elements;
            QString text;
            double rootWidth;
            double paragraphHeight;
        };
        return Reading{document->elementCount(), document->innerTextAt(indexOfTag(*document, u"BODY"_s)),
                       evaluate(u"document.documentElement.getBoundingClientRect().width"_s).toDouble(),
                       evaluate(u"document.getElementById('p').getBoundingClientRect().height"_s).toDouble()};
    };

    // Without a view the page is zero pixels wide: a character a line.
    ASSERT_TRUE(load(u"/wide"_s));
    const auto narrow = read();
    EXPECT_EQ(narrow.rootWidth, 0);
    EXPECT_GT(narrow.paragraphHeight, 10'000);

    browser->setLayoutWidth(1600);
    const auto restore = qScopeGuard([] { browser->setLayoutWidth(0); });
    ASSERT_TRUE(load(u"/wide"_s));
    const auto wide = read();
    EXPECT_EQ(wide.rootWidth, 1600);
    EXPECT_LT(wide.paragraphHeight, 2'000);
    // Nothing of the page is changed but its width: the same elements, the same text.
    EXPECT_EQ(wide.elements, narrow.elements);
    EXPECT_EQ(wide.text, narrow.text);
    EXPECT_TRUE(wide.text.startsWith(u"正文的一句话"_s));
}
