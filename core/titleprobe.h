#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace qh::browser {
class Browser;
}

namespace qh::core {

// Reads the title of a book's first page, to name the book: loads it in a probe browser of its own and reports once
// with finished. The probe owns its browser; deleting the probe abandons a load in progress quietly.
class TitleProbe : public QObject
{
    Q_OBJECT

public:
    explicit TitleProbe(std::unique_ptr<browser::Browser> browser, QObject *parent = nullptr);
    ~TitleProbe() override;

    // Starts loading url; finished follows from the event loop. Call once.
    void start(const QUrl &url);
    // Ends a load in progress without a finished signal.
    void abandon();

Q_SIGNALS:
    // ok: the page is an HTML document and title is its title. Otherwise error names the address and the cause.
    void finished(bool ok, const QString &title, const QString &error);

private:
    void onLoadFinished(bool ok);

    std::unique_ptr<browser::Browser> m_browser;
    bool m_running = false;
};

} // namespace qh::core
