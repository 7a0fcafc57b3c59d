#pragma once

#include "app/booklistmodel.h"
#include "browser/staticbrowser.h"
#include "common/datafolder.h"
#include "engine/downloadscheduler.h"
#include "engine/enginebrowsers.h"
#include "engine/engineui.h"
#include "settings/appsettings.h"
#include "settings/proxyaddress.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include <QTextStream>

#include <memory>
#include <optional>

namespace qh::cli {

// The engine's questions and notices on a terminal: notices and errors go to stderr, every question is answered
// "no", and there is no wait dialog to show.
class TerminalEngineUi final : public engine::EngineUi
{
public:
    explicit TerminalEngineUi(QTextStream &err) : m_err(err) {}

    void ShowMsg(const QString &text) override;
    bool askYesNo(const QString &caption, const QString &text) override;
    void RequestRedefinition(int index, const QString &address) override;
    void showWaitDialog() override;
    void showError(const QString &message) override;

    bool sawError() const { return m_sawError; }

private:
    QTextStream &m_err;
    bool m_sawError = false;
};

// Everything the engine needs, loaded from the data folder as the window would load it: settings, templates, the
// queue, the browsers set up from the settings, and the scheduler.
class EngineSession
{
public:
    EngineSession(const QString &dataDirOverride, QTextStream &err);

    const DataFolder &folder() const { return m_folder; }
    const settings::AppSettings &settings() const { return m_settings; }
    app::BookListModel &books() { return m_books; }
    templates::TemplateChooser &chooser() { return m_chooser; }
    const templates::TemplateStore &store() const { return m_store; }
    browser::StaticBrowser &browser() { return m_browsers.staticBrowser(); }
    engine::DownloadScheduler &scheduler() { return *m_scheduler; }
    TerminalEngineUi &ui() { return m_ui; }

    void saveList() const;

    // Loads url and gives its title, or the load's error message; runs the event loop meanwhile.
    std::optional<QString> probeTitle(const QUrl &url, QString &error);

private:
    DataFolder m_folder;
    settings::AppSettings m_settings;
    templates::TemplateStore m_store;
    templates::ListTemplateChooser m_chooser;
    app::BookListModel m_books;
    engine::EngineBrowsers m_browsers;
    TerminalEngineUi m_ui;
    std::unique_ptr<engine::DownloadScheduler> m_scheduler;
};

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
