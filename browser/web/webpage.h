#pragma once

#include <QElapsedTimer>
#include <QWebEnginePage>

#include <memory>

namespace qh::browser {

// The page of the web engine: scripts run, but nothing reaches the user. Script dialogs are answered without being
// shown, new windows are refused, console messages are dropped. Counts the loads it starts, so that a document
// read from one load can tell that the page has moved on, and the script and data requests the page sends, so
// that a reading can tell whether the page still waits for some.
//
// Every document it shows gets a watcher of our own (webWatchScript) that counts its changes.
class WebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);
    ~WebPage() override;

    // Bumped whenever a load starts, whoever started it.
    quint64 loadCount() const { return m_loadCount; }
    // The page's script and data requests since its load started.
    int requestsStarted() const;
    // Milliseconds since the latest of them left; -1 when none has.
    qint64 msSinceLastRequest() const;
    // Documents loaded from now on are laid out this many CSS pixels wide; 0 leaves them to the view's width.
    void setLayoutWidth(int widthPx);
    // Expires as soon as the page starts to go. Qt WebEngine answers the page's pending scripts from its own
    // destructor, after this class's part of the page is gone: a reader whose answer comes then finds the page gone
    // by this, without touching it.
    std::weak_ptr<const void> lifetime() const { return m_lifetime; }

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    class RequestCounter;
    std::shared_ptr<const void> m_lifetime = std::make_shared<int>(0);
    quint64 m_loadCount = 0;
    std::unique_ptr<RequestCounter> m_requests;
};

} // namespace qh::browser
