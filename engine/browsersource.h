#pragma once

#include "browser/browser.h"
#include "templates/grabparams.h"

namespace qh::engine {

// Hands the scheduler the browser for a book, by the engine its template names. An engine may be set up only when a
// book first needs it (the web engine starts Chromium).
class BrowserSource
{
public:
    virtual ~BrowserSource() = default;
    // Null when this program cannot offer that engine.
    virtual browser::Browser *browserFor(templates::GrabEngine engine) = 0;
};

// One browser for every book, whatever its template says: for tests, and for programs with a single engine.
class SingleBrowserSource final : public BrowserSource
{
public:
    explicit SingleBrowserSource(browser::Browser &browser) : m_browser(browser) {}
    browser::Browser *browserFor(templates::GrabEngine) override { return &m_browser; }

private:
    browser::Browser &m_browser;
};

} // namespace qh::engine
