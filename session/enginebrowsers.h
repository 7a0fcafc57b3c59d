#pragma once

#include "browser/html/staticbrowser.h"
#include "engine/browsersource.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace qh::session {

// The grab's browsers: the static one, always there, and the web one, made by the factory given when a book first
// needs it (it starts Chromium). Both follow the same proxy.
class EngineBrowsers final : public QObject, public engine::BrowserSource
{
    Q_OBJECT

public:
    // Makes a web browser owned by its argument, or returns null when it cannot.
    using WebBrowserFactory = std::function<browser::Browser *(QObject *parent)>;

    explicit EngineBrowsers(WebBrowserFactory webFactory = {}, QObject *parent = nullptr);
    ~EngineBrowsers() override;

    browser::StaticBrowser &staticBrowser() { return *m_static; }
    // Null for the web engine when there is no factory, the factory fails, or this process has no graphical
    // application object (which Chromium needs, even without a window).
    browser::Browser *browserFor(templates::GrabEngine engine) override;

    // An HTTP proxy for the pages of both engines; an empty host means a direct connection. The web engine takes
    // it from the application's proxy, so for it this holds for the whole process.
    void setProxy(const QString &host, quint16 port);

private:
    browser::StaticBrowser *m_static;
    WebBrowserFactory m_webFactory;
    QPointer<browser::Browser> m_web;
};

} // namespace qh::session
