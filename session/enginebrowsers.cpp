#include "session/enginebrowsers.h"

#include <QCoreApplication>
#include <QNetworkProxy>

namespace qh::session {

namespace {

// Chromium needs a graphical application object, even without a window.
bool isGraphicalApplication()
{
    return QCoreApplication::instance() && QCoreApplication::instance()->inherits("QGuiApplication");
}

} // namespace

EngineBrowsers::EngineBrowsers(WebBrowserFactory webFactory, QObject *parent)
    : QObject(parent), m_static(new browser::StaticBrowser(this)), m_webFactory(std::move(webFactory))
{}

EngineBrowsers::~EngineBrowsers() = default;

browser::Browser *EngineBrowsers::browserFor(templates::GrabEngine engine)
{
    if (engine == templates::GrabEngine::Static)
        return m_static;
    if (!m_web && m_webFactory && isGraphicalApplication())
        m_web = m_webFactory(this);
    return m_web;
}

void EngineBrowsers::setProxy(const QString &host, quint16 port)
{
    m_static->setProxy(host, port);
    QNetworkProxy::setApplicationProxy(host.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy)
                                                      : QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
}

} // namespace qh::session
