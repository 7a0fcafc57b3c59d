#pragma once

#include "browser/browser.h"

#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>

class QWebEnginePage;
class QWebEngineProfile;

namespace qh::browser {

// The second engine, for sites that build their pages with scripts: Chromium through Qt WebEngine, scripts on,
// without a window. Its documents are live: they are read in a script world of our own, as a snapshot taken when
// the page completes and taken again at every refresh().
//
// It refuses new windows and downloads, answers script dialogs (alert, confirm, prompt) without showing them, and
// treats a failed navigation or an HTTP error status as a failed load (no error page is read as a chapter).
//
// Needs a QGuiApplication (or QApplication) and, when the program runs as root, Chromium's sandbox turned off.
class WebBrowser : public Browser
{
    Q_OBJECT

public:
    explicit WebBrowser(QObject *parent = nullptr);
    ~WebBrowser() override;

    void Navigate(const QUrl &url) override;
    void stop() override;
    State ReadyState() const override { return m_state; }
    std::shared_ptr<const Document> GetHtmlDocument() const override;
    LoadError lastError() const override { return m_error; }

    void awaitScriptNavigation(std::chrono::milliseconds grace, std::chrono::milliseconds limit) override;

    // Settings for later loads. The user agent defaults to the text the grabbing browser has always sent.
    void setUserAgent(const QString &userAgent);
    QString userAgent() const;
    // Images are loaded by default; a grab has no use for them.
    void setLoadImages(bool load);
    // Documents read later read an element's innerText and innerHTML only when asked for (see WebReading).
    void setReadValuesOnDemand(bool onDemand);
    // How long a completed page must not have changed before it counts as settled (see WebReading).
    void setQuietTime(std::chrono::milliseconds quietTime);
    // A page that no view shows has no size: Chromium lays it out zero pixels wide, a character a line, which
    // makes reading its text costly (and the page tens of thousands of pixels tall). Documents loaded from now on
    // are laid out this wide instead; 0 (the default) leaves them to the view.
    void setLayoutWidth(int widthPx);
    // A load that has not completed within this time fails as timed out.
    void setLoadTimeout(std::chrono::milliseconds timeout);

    // The page, for a view that shows it (the wizard's). The browser keeps owning it.
    QWebEnginePage *page() const;

private:
    class Private;
    std::unique_ptr<Private> d;
    State m_state = State::Uninitialized;
    LoadError m_error;

    friend class Private;
};

// Why Chromium could not load a page (its net error code), in the reader's words; codes without words of ours keep
// Chromium's text.
QString chromiumErrorText(int netError, const QString &chromiumText);

// A web browser as the grab wants it, with no view: laid out as wide as the static engine's viewport, no images (it
// reads text only), values read on demand.
WebBrowser *createWebGrabBrowser(QObject *parent);

} // namespace qh::browser
