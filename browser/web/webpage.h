#pragma once

#include <QWebEnginePage>

namespace qh::browser {

// The page of the web engine: scripts run, but nothing reaches the user. Script dialogs are answered without being
// shown, new windows are refused, console messages are dropped. Counts the loads it starts, so that a document
// read from one load can tell that the page has moved on.
class WebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // Bumped whenever a load starts, whoever started it.
    quint64 loadCount() const { return m_loadCount; }

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    quint64 m_loadCount = 0;
};

} // namespace qh::browser
