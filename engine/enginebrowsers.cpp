#include "engine/enginebrowsers.h"

#include <QCoreApplication>
#include <QNetworkProxy>

#ifdef QH_HAVE_WEBENGINE
#include "browser/webbrowser.h"
#endif

namespace qh::engine {

EngineBrowsers::EngineBrowsers(QObject *parent) : QObject(parent), m_static(new browser::StaticBrowser(this)) {}

EngineBrowsers::~EngineBrowsers() = default;

bool EngineBrowsers::webEngineAvailable()
{
#ifdef QH_HAVE_WEBENGINE
    // Chromium needs a graphical application object, even without a window.
    return QCoreApplication::instance() && QCoreApplication::instance()->inherits("QGuiApplication");
#else
    return false;
#endif
}

browser::Browser *EngineBrowsers::browserFor(templates::GrabEngine engine)
{
    if (engine == templates::GrabEngine::Static)
        return m_static;
#ifdef QH_HAVE_WEBENGINE
    if (!m_web && webEngineAvailable()) {
        auto *web = new browser::WebBrowser(this);
        web->setLoadImages(false); // the grab reads text only
        m_web = web;
    }
#endif
    return m_web;
}

void EngineBrowsers::setProxy(const QString &host, quint16 port)
{
    m_static->setProxy(host, port);
    QNetworkProxy::setApplicationProxy(host.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy)
                                                      : QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
}

} // namespace qh::engine
