#include "app/wizardpageview.h"

#include <QMouseEvent>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

// Chromium refuses data: URLs longer than this, and setContent sends the page as a percent-encoded data: URL.
constexpr qsizetype MaxDataUrlChars = qsizetype(2) * 1024 * 1024;
const QByteArray HtmlMimeType = "text/html;charset=UTF-8";

// Every page the view shows comes through the static engine: a followed link is handed back as an address.
class WizardPage final : public QWebEnginePage
{
public:
    WizardPage(WizardPageView *view) : QWebEnginePage(view), m_view(view) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return true;
        switch (type) {
        case NavigationTypeLinkClicked:
            // A jump within the page keeps its document.
            if (url.adjusted(QUrl::RemoveFragment) == this->url().adjusted(QUrl::RemoveFragment))
                return true;
            Q_EMIT m_view->linkFollowed(url);
            return false;
        case NavigationTypeFormSubmitted:
        case NavigationTypeRedirect: // a meta refresh, which runs without scripts
            return false;
        default:
            return true;
        }
    }
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }

private:
    WizardPageView *m_view;
};

} // namespace

WizardPageView::WizardPageView(QWidget *parent) : QWebEngineView(parent), m_ownPage(new WizardPage(this))
{
    m_ownPage->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    m_ownPage->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    m_ownPage->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    setPage(m_ownPage);
    connect(this, &QWebEngineView::loadStarted, this, &WizardPageView::watchFocusProxy);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        watchFocusProxy();
        Q_EMIT pageShown(ok);
    });
}

bool WizardPageView::showHtml(const QString &html, const QUrl &base)
{
    const QByteArray bytes = html.toUtf8();
    if (bytes.toPercentEncoding().size() + HtmlMimeType.size() + 6 > MaxDataUrlChars)
        return false;
    showLivePage(nullptr);
    setContent(bytes, QString::fromLatin1(HtmlMimeType), base);
    return true;
}

void WizardPageView::showLivePage(QWebEnginePage *page)
{
    QWebEnginePage *shown = page ? page : m_ownPage;
    if (this->page() == shown)
        return;
    setPage(shown);
    // A page that was shown before brings its render widget along; a new one makes it later, at its next load.
    watchFocusProxy();
}

// The render widget behind the view comes and goes with loads; the filter follows it.
void WizardPageView::watchFocusProxy()
{
    QWidget *proxy = focusProxy();
    if (!proxy || proxy == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = proxy;
    proxy->installEventFilter(this);
}

bool WizardPageView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_watched && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_capturing && m_capturing()) {
            lookUp(mouse->position());
            return true;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

QString WizardPageView::elementAtScript(QPointF point)
{
    return uR"((function () {
    var e = document.elementFromPoint(%1, %2);
    if (!e) return null;
    var all = document.getElementsByTagName('*');
    for (var i = 0; i < all.length; ++i)
        if (all[i] === e) return [i, e.tagName];
    return null;
})())"_s.arg(point.x())
        .arg(point.y());
}

void WizardPageView::lookUp(QPointF point)
{
    // elementFromPoint takes CSS pixels.
    const qreal zoom = zoomFactor() > 0 ? zoomFactor() : 1.0;
    QPointer<WizardPageView> self(this);
    page()->runJavaScript(elementAtScript(point / zoom), QWebEngineScript::ApplicationWorld,
                          [self](const QVariant &result) {
                              if (!self)
                                  return;
                              const QVariantList pair = result.toList();
                              if (pair.size() != 2)
                                  Q_EMIT self->elementClicked(-1, QString());
                              else
                                  Q_EMIT self->elementClicked(pair.at(0).toInt(), pair.at(1).toString());
                          });
}

} // namespace qh::app
