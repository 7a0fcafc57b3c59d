#include "browser/web/webpage.h"

#include <QWebEngineLoadingInfo>

namespace qh::browser {

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            ++m_loadCount;
    });
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
