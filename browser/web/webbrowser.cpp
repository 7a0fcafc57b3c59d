#include "browser/web/webbrowser.h"

#include "browser/html/stylesheet.h"
#include "browser/net/pagefetcher.h"
#include "browser/web/webdocument.h"
#include "browser/web/webpage.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>

using namespace Qt::StringLiterals;

namespace qh::browser {

namespace {

constexpr auto DefaultLoadTimeout = std::chrono::seconds(60);
// A page that sends the browser on by a refresh header within this time is followed, as a browser's user would
// see it; a longer refresh is a page that updates itself, not a way on.
constexpr double FollowedRefreshSeconds = 5;
// How many times one load may be sent on (by a script or a refresh) before the page it has reached is taken.
constexpr int MaxMovesPerLoad = 5;
// How often a page left where it was by a clicked script link is read again while it settles.
constexpr int SettlePollMs = 100;

LoadError loadError(LoadError::Kind kind, const QUrl &url, const QString &cause, int httpStatus = 0)
{
    return {kind, httpStatus, -1, loadFailureMessage(url, cause)};
}

LoadError errorOf(const QWebEngineLoadingInfo &info)
{
    const QUrl url = info.url();
    switch (info.errorDomain()) {
    case QWebEngineLoadingInfo::HttpStatusCodeDomain:
        return loadError(LoadError::Kind::HttpStatus, url, u"服务器回答 HTTP %1"_s.arg(info.errorCode()),
                         info.errorCode());
    case QWebEngineLoadingInfo::CertificateErrorDomain:
        return loadError(LoadError::Kind::Tls, url, u"证书错误"_s);
    case QWebEngineLoadingInfo::ConnectionErrorDomain:
        // Chromium's net error -7 is its own time-out.
        if (info.errorCode() == -7)
            return loadError(LoadError::Kind::Timeout, url, chromiumErrorText(info.errorCode(), info.errorString()));
        return loadError(LoadError::Kind::Network, url, chromiumErrorText(info.errorCode(), info.errorString()));
    default:
        return loadError(LoadError::Kind::Network, url, chromiumErrorText(0, info.errorString()));
    }
}

} // namespace

QString chromiumErrorText(int netError, const QString &chromiumText)
{
    // Chromium's net error codes (net/base/net_error_list.h), the ones a reader meets.
    switch (netError) {
    case -3:
        return u"加载被中止"_s;
    case -7:
    case -118:
        return u"连接超时"_s;
    case -21:
        return u"网络已切换"_s;
    case -100:
        return u"服务器关闭了连接"_s;
    case -101:
        return u"连接被重置"_s;
    case -102:
        return u"连接被拒绝"_s;
    case -104:
        return u"连接失败"_s;
    case -105:
    case -137:
        return u"找不到服务器"_s;
    case -106:
        return u"网络未连接"_s;
    case -109:
        return u"无法到达该地址"_s;
    case -130:
        return u"无法连接代理服务器"_s;
    case -324:
        return u"服务器没有回应任何内容"_s;
    default:
        return chromiumText.isEmpty() ? u"网页加载失败"_s : u"网页加载失败（%1）"_s.arg(chromiumText);
    }
}

class WebBrowser::Private
{
public:
    enum class Waiting
    {
        Nothing,
        Load,      // a load we asked for, or one a clicked script link started
        MayMoveOn, // a script link was clicked: a load may start any moment
        Snapshot,  // the page is complete and being read
    };

    explicit Private(WebBrowser &browser);

    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void readPage(bool sameDocument);
    void readAgainUntilSettled();
    void finish(LoadError error);

    WebBrowser &q;
    QWebEngineProfile *profile;
    WebPage *page;
    QTimer loadTimeout;
    QTimer moveOnGrace;
    QTimer settlePoll;          // reads a page left where it was again, until it has settled
    QDeadlineTimer settleLimit; // ... or until this ends
    WebReading reading;
    Waiting waiting = Waiting::Nothing;
    bool sawStart = false;  // the awaited load has started (earlier loads' last events are ignored)
    int moves = 0;          // how often the awaited load has been sent on by the page itself
    quint64 generation = 0; // bumped by every request, so that late answers to older ones are dropped
    QUrl url;               // the address asked for
    std::shared_ptr<WebDocument> document;
};

WebBrowser::Private::Private(WebBrowser &browser)
    : q(browser), profile(new QWebEngineProfile(&browser)), page(new WebPage(profile, &browser))
{
    // Off the record: nothing of the grab is stored on disk, every browser starts clean.
    profile->setHttpUserAgent(defaultUserAgent());
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, &browser,
                     [](QWebEngineDownloadRequest *download) { download->cancel(); });

    // A page without a view counts as hidden, and Chromium slows a hidden page's timers to one a second, which holds
    // up pages whose scripts fill in the chapter a moment after loading.
    page->setVisible(true);

    QWebEngineSettings *settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);

    loadTimeout.setSingleShot(true);
    loadTimeout.setInterval(DefaultLoadTimeout);
    QObject::connect(&loadTimeout, &QTimer::timeout, &browser, [this] {
        if (waiting != Waiting::Load)
            return;
        page->triggerAction(QWebEnginePage::Stop);
        finish(loadError(LoadError::Kind::Timeout, url, u"网页在限定时间内没有加载完成"_s));
    });
    moveOnGrace.setSingleShot(true);
    QObject::connect(&moveOnGrace, &QTimer::timeout, &browser, [this] {
        if (waiting == Waiting::MayMoveOn)
            readPage(true); // the script changes the page in place, or does nothing
    });
    settlePoll.setSingleShot(true);
    settlePoll.setInterval(SettlePollMs);
    QObject::connect(&settlePoll, &QTimer::timeout, &browser, [this] {
        if (waiting == Waiting::MayMoveOn)
            readAgainUntilSettled();
    });
    QObject::connect(page, &QWebEnginePage::loadingChanged, &browser,
                     [this](const QWebEngineLoadingInfo &info) { onLoadingChanged(info); });
}

void WebBrowser::Private::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        // The page goes on to another while we wait for it to move on, or while it is being read: the load we
        // wait for is that one now.
        const bool movedOn = waiting == Waiting::MayMoveOn || (waiting == Waiting::Snapshot && moves < MaxMovesPerLoad);
        if (movedOn) {
            ++generation; // a reading of the page left behind is of no use
            ++moves;
            moveOnGrace.stop();
            settlePoll.stop();
            waiting = Waiting::Load;
            url = info.url();
            loadTimeout.start();
        }
        if (waiting == Waiting::Load)
            sawStart = true;
        return;
    }
    if (waiting != Waiting::Load || !sawStart)
        return; // the end of a load nobody waits for, or of one abandoned for the awaited one
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        readPage(false);
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        finish(errorOf(info));
        break;
    default: // stopped by someone else than us (stop() does not wait for this)
        finish(loadError(LoadError::Kind::Network, info.url(), u"网页加载被中止"_s));
        break;
    }
}

// Reads the complete page into a document: a new one after a load, the same one refreshed when a script link left
// the page where it was.
void WebBrowser::Private::readPage(bool sameDocument)
{
    loadTimeout.stop();
    if (sameDocument && document)
        return readAgainUntilSettled();
    waiting = Waiting::Snapshot;
    const quint64 request = generation;
    page->runJavaScript(
        webSnapshotScript(!reading.valuesOnDemand), QWebEngineScript::ApplicationWorld,
        [this, request](const QVariant &result) {
            if (request != generation || waiting != Waiting::Snapshot)
                return;
            std::optional<WebSnapshot> snapshot = parseWebSnapshot(result.toString().toUtf8());
            if (!snapshot)
                return finish(loadError(LoadError::Kind::ParseFailed, url, u"无法读取网页的内容"_s));
            if (!snapshot->isPage())
                return finish(loadError(LoadError::Kind::NotHtml, url, u"不是网页（%1）"_s.arg(snapshot->contentType)));
            const double refreshSeconds = snapshot->refreshSeconds;
            document = std::make_shared<WebDocument>(page, std::move(*snapshot), reading);
            if (refreshSeconds >= 0 && refreshSeconds <= FollowedRefreshSeconds && moves < MaxMovesPerLoad) {
                // The page is a way on: wait for its refresh to take the browser there (a second's grace beyond
                // its time), or else take the page as it is.
                waiting = Waiting::MayMoveOn;
                settleLimit = QDeadlineTimer(0);
                moveOnGrace.start(int(refreshSeconds * 1000) + 1000);
                return;
            }
            finish({});
        });
}

// The page is still where it was: read it again, and again while it is still changing or waiting for its requests
// (a script replacing the chapter in place), until it has settled or the limit has passed. A load that starts
// meanwhile is followed as ever.
void WebBrowser::Private::readAgainUntilSettled()
{
    waiting = Waiting::Snapshot;
    const quint64 request = generation;
    document->refresh([this, request] {
        if (request != generation || waiting != Waiting::Snapshot)
            return;
        if (document->isSettled() || settleLimit.hasExpired())
            return finish({});
        waiting = Waiting::MayMoveOn;
        settlePoll.start();
    });
}

void WebBrowser::Private::finish(LoadError error)
{
    loadTimeout.stop();
    moveOnGrace.stop();
    settlePoll.stop();
    waiting = Waiting::Nothing;
    q.m_error = std::move(error);
    if (q.m_error.isError())
        document.reset();
    q.m_state = State::Complete;
    ++generation;
    Q_EMIT q.loadFinished(!q.m_error.isError());
}

WebBrowser::WebBrowser(QObject *parent) : Browser(parent), d(std::make_unique<Private>(*this)) {}

WebBrowser::~WebBrowser()
{
    // Qt WebEngine answers the page's pending scripts as the page goes: nothing waits for them any more.
    ++d->generation;
    d->waiting = Private::Waiting::Nothing;
    // The page must go before its profile, or Chromium complains of a profile released while still in use.
    delete d->page;
}

void WebBrowser::Navigate(const QUrl &url)
{
    ++d->generation;
    d->moveOnGrace.stop();
    d->settlePoll.stop();
    d->document.reset();
    d->url = url;
    d->waiting = Private::Waiting::Load;
    d->sawStart = false;
    d->moves = 0;
    m_error = {};
    m_state = State::Loading;
    d->loadTimeout.start();
    d->page->load(url);
}

void WebBrowser::awaitScriptNavigation(std::chrono::milliseconds grace, std::chrono::milliseconds limit)
{
    ++d->generation;
    d->settleLimit = QDeadlineTimer(std::max(grace, limit));
    m_error = {};
    m_state = State::Loading;
    d->sawStart = false;
    d->moves = 0;
    d->waiting = Private::Waiting::MayMoveOn;
    // A script that loads the next page starts the load at once, or after a request, which keeps the page from
    // settling: a page that has settled by the quiet time has been left where it was, without waiting out the grace.
    d->moveOnGrace.start(std::min(grace, std::chrono::duration_cast<std::chrono::milliseconds>(d->reading.quietTime)));
}

void WebBrowser::stop()
{
    if (m_state != State::Loading)
        return;
    ++d->generation;
    d->loadTimeout.stop();
    d->moveOnGrace.stop();
    d->settlePoll.stop();
    d->waiting = Private::Waiting::Nothing;
    d->page->triggerAction(QWebEnginePage::Stop);
    d->document.reset();
    m_state = State::Complete;
    m_error = loadError(LoadError::Kind::Stopped, d->url, u"已停止"_s);
    const quint64 generation = d->generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == d->generation)
            Q_EMIT loadFinished(false);
    });
}

std::shared_ptr<const Document> WebBrowser::GetHtmlDocument() const
{
    return m_state == State::Complete ? d->document : nullptr;
}

void WebBrowser::setUserAgent(const QString &userAgent)
{
    d->profile->setHttpUserAgent(userAgent);
}

QString WebBrowser::userAgent() const
{
    return d->profile->httpUserAgent();
}

void WebBrowser::setLoadTimeout(std::chrono::milliseconds timeout)
{
    d->loadTimeout.setInterval(timeout);
}

void WebBrowser::setReadValuesOnDemand(bool onDemand)
{
    d->reading.valuesOnDemand = onDemand;
}

void WebBrowser::setQuietTime(std::chrono::milliseconds quietTime)
{
    d->reading.quietTime = quietTime;
}

void WebBrowser::setLayoutWidth(int widthPx)
{
    d->page->setLayoutWidth(widthPx);
}

void WebBrowser::setLoadImages(bool load)
{
    d->page->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, load);
}

QWebEnginePage *WebBrowser::page() const
{
    return d->page;
}

WebBrowser *createWebGrabBrowser(QObject *parent)
{
    auto *browser = new WebBrowser(parent);
    browser->setLayoutWidth(css::ReadingViewportWidth);
    browser->setLoadImages(false);
    // The locators ask for the few values they compare; reading every element's text at every change costs the
    // page's depth times its size.
    browser->setReadValuesOnDemand(true);
    return browser;
}

} // namespace qh::browser
