#pragma once

#include <QPointer>
#include <QWebEngineView>

#include <functional>

namespace qh::app {

// The wizard's page view (Ewb1) on Qt WebEngine. For a static template it shows, on a page of its own, the text the
// static engine decoded, with the page's own address as base, parsed with scripting on as the grabber parses it but
// with a policy that lets none of the page's scripts run, so Chromium builds the element tree the grabber reads. For a
// web template it shows the web engine's live page itself. While the wizard captures, each left-button release is taken
// before the page sees it (so a link is not followed) and the element under it is looked up by a script of our own,
// which runs even though a static page's scripts are off.
class WizardPageView : public QWebEngineView
{
    Q_OBJECT

public:
    explicit WizardPageView(QWidget *parent = nullptr);

    // Shows html with base as its address. False, with nothing loaded, when the page is too large for the view.
    bool showHtml(const QString &html, const QUrl &base);
    // Shows page, which its owner keeps and has loaded; null goes back to the view's own page.
    void showLivePage(QWebEnginePage *page);
    // Asked at each left-button release: true takes it from the page.
    void setCapturing(std::function<bool()> capturing) { m_capturing = std::move(capturing); }
    // The script that gives the element at a point of the view as [index in getElementsByTagName('*'), tagName].
    static QString elementAtScript(QPointF point);

Q_SIGNALS:
    void pageShown(bool ok);
    // sourceIndex -1: no element at the point.
    void elementClicked(int sourceIndex, const QString &tagName);
    // A link followed outside a capture: the wizard loads it through the static engine instead.
    void linkFollowed(const QUrl &url);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchFocusProxy();
    void lookUp(QPointF point);

    std::function<bool()> m_capturing;
    QPointer<QWidget> m_watched;
    // The static page. Set with setPage, so the view never deletes it when it shows a live page instead.
    QWebEnginePage *m_ownPage;
};

} // namespace qh::app
