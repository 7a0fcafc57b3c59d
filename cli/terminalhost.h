#pragma once

#include "engine/enginehost.h"
#include "session/session.h"

#include <QTextStream>

#include <functional>
#include <memory>

namespace qh::cli {

// The engine's questions and notices on a terminal: notices and errors go to stderr, every question is answered
// "no" (from the event loop, as a dialog would), and there is no wait dialog to show.
class TerminalHost final : public engine::EngineHost
{
public:
    explicit TerminalHost(QTextStream &err) : m_err(err) {}

    void ShowMsg(const QString &text) override;
    void showError(const QString &message) override;
    void askYesNo(const QString &caption, const QString &text, std::function<void(bool)> answered) override;
    void requestRedefinition(int index, const QUrl &address) override;
    void showWaitDialog() override;

    bool sawError() const { return m_sawError; }

private:
    QTextStream &m_err;
    bool m_sawError = false;
};

// The command line's session: the data folder (--data-dir or the usual rule), its settings, templates and queue
// loaded, the books' folder made when missing, the web engine from its plugin. Throws qh::Error when a file
// cannot be read or the books' folder cannot be made.
std::unique_ptr<session::Session> openSession(const QString &dataDirOverride, TerminalHost &host, QTextStream &err);

// Turns SIGINT and SIGTERM into a call of onSignal on the event loop, for as long as it lives.
class InterruptHandler
{
public:
    explicit InterruptHandler(std::function<void()> onSignal);
    ~InterruptHandler();

    InterruptHandler(const InterruptHandler &) = delete;
    InterruptHandler &operator=(const InterruptHandler &) = delete;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace qh::cli
