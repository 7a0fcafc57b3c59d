#pragma once

#include "browser/staticbrowser.h"
#include "engine/browsersource.h"

#include <QObject>
#include <QPointer>

namespace qh::engine {

// The grab's browsers: the static one, always there, and the web one, set up when a book first needs it (it starts
// Chromium). Both follow the same proxy.
class EngineBrowsers final : public QObject, public BrowserSource
{
    Q_OBJECT

public:
    explicit EngineBrowsers(QObject *parent = nullptr);
    ~EngineBrowsers() override;

    browser::StaticBrowser &staticBrowser() { return *m_static; }
    // Null when the web engine is not built in, or this process has no graphical application object for it.
    browser::Browser *browserFor(templates::GrabEngine engine) override;

    // An HTTP proxy for the pages of both engines; an empty host means a direct connection. The web engine takes
    // it from the application's proxy, so for it this holds for the whole process.
    void setProxy(const QString &host, quint16 port);

    // Whether browserFor(GrabEngine::Web) can give a browser in this process.
    static bool webEngineAvailable();

private:
    browser::StaticBrowser *m_static;
    QPointer<browser::Browser> m_web;
};

} // namespace qh::engine
