#include "browser/web/webpage.h"

#include "browser/web/websnapshot.h"

#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>

using namespace Qt::StringLiterals;

namespace qh::browser {

// Sees each request as it leaves. The page's watcher counts those that come back; the difference is what the page
// still waits for. Atomic, since Chromium may call it from its own thread.
class WebPage::RequestCounter final : public QWebEngineUrlRequestInterceptor
{
public:
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const auto type = info.resourceType();
        if (type != QWebEngineUrlRequestInfo::ResourceTypeXhr && type != QWebEngineUrlRequestInfo::ResourceTypeScript)
            return;
        ++started;
        lastStartNs = clock.nsecsElapsed();
    }

    void reset()
    {
        started = 0;
        lastStartNs = -1;
    }

    QElapsedTimer clock;
    std::atomic<int> started{0};
    std::atomic<qint64> lastStartNs{-1};
};

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_requests(std::make_unique<RequestCounter>())
{
    m_requests->clock.start();
    setUrlRequestInterceptor(m_requests.get());
    QWebEngineScript watch;
    watch.setName(u"quillhaul-watch"_s);
    watch.setSourceCode(webWatchScript());
    watch.setWorldId(QWebEngineScript::ApplicationWorld);
    watch.setInjectionPoint(QWebEngineScript::DocumentCreation);
    watch.setRunsOnSubFrames(false);
    scripts().insert(watch);
    connect(this, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            ++m_loadCount;
            m_requests->reset();
        }
    });
}

void WebPage::setLayoutWidth(int widthPx)
{
    const QString name = u"quillhaul-layout"_s;
    for (const QWebEngineScript &old : scripts().find(name))
        scripts().remove(old);
    if (widthPx <= 0)
        return;
    QWebEngineScript layout;
    layout.setName(name);
    layout.setSourceCode(webLayoutScript(widthPx));
    layout.setWorldId(QWebEngineScript::ApplicationWorld);
    layout.setInjectionPoint(QWebEngineScript::DocumentCreation);
    layout.setRunsOnSubFrames(false);
    scripts().insert(layout);
}

WebPage::~WebPage()
{
    m_lifetime.reset();
    setUrlRequestInterceptor(nullptr);
}

int WebPage::requestsStarted() const
{
    return m_requests->started;
}

qint64 WebPage::msSinceLastRequest() const
{
    const qint64 last = m_requests->lastStartNs;
    return last < 0 ? -1 : (m_requests->clock.nsecsElapsed() - last) / 1'000'000;
}

void WebPage::javaScriptAlert(const QUrl &, const QString &) {}

bool WebPage::javaScriptConfirm(const QUrl &, const QString &)
{
    return false;
}

bool WebPage::javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *)
{
    return false;
}

void WebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) {}

QWebEnginePage *WebPage::createWindow(WebWindowType)
{
    return nullptr;
}

} // namespace qh::browser
