#include "app/wizardpageview.h"

#include <QMouseEvent>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
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

// Where the policy goes: after what may stand before the document's first element (white space, comments, the
// doctype), so that neither the doctype nor anything else of the page moves.
qsizetype policyPosition(const QString &html)
{
    qsizetype at = 0;
    for (;;) {
        while (at < html.size() && (html.at(at).isSpace() || html.at(at) == QChar(0xFEFF)))
            ++at;
        if (html.mid(at, 4) == u"<!--") {
            const qsizetype end = html.indexOf(u"-->", at + 4);
            if (end < 0)
                return at;
            at = end + 3;
        } else if (html.mid(at, 9).compare(u"<!doctype", Qt::CaseInsensitive) == 0) {
            const qsizetype end = html.indexOf(u'>', at);
            if (end < 0)
                return at;
            at = end + 1;
        } else {
            return at;
        }
    }
}

// A policy set in the page before any of its elements: none of the page's scripts, inline, linked or in its
// attributes, runs. Marked so that our own script can take it out of the tree again once it is in force.
const QString ScriptPolicy = u"<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'\" "
                             "data-quillhaul-policy>"_s;

// Removes the policy's element once the page is parsed: a policy stays in force once read, and without its element
// the view's tree is the page's own.
QString removePolicyScript()
{
    return uR"((function () {
    var policy = document.querySelector('meta[data-quillhaul-policy]');
    if (policy)
        policy.remove();
})())"_s;
}

} // namespace

WizardPageView::WizardPageView(QWidget *parent) : QWebEngineView(parent), m_ownPage(new WizardPage(this))
{
    // Scripting on, as in the grabber's parse (noscript holds text, not elements); the page's own scripts are kept
    // from running by the policy showHtml puts before its elements.
    m_ownPage->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    QWebEngineScript removePolicy;
    removePolicy.setName(u"quillhaul-remove-policy"_s);
    removePolicy.setSourceCode(removePolicyScript());
    removePolicy.setWorldId(QWebEngineScript::ApplicationWorld);
    removePolicy.setInjectionPoint(QWebEngineScript::DocumentReady);
    removePolicy.setRunsOnSubFrames(false);
    m_ownPage->scripts().insert(removePolicy);
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
    QString guarded = html;
    guarded.insert(policyPosition(html), ScriptPolicy);
    const QByteArray bytes = guarded.toUtf8();
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
