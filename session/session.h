#pragma once

#include "common/datafolder.h"
#include "core/bookqueue.h"
#include "core/finishedbooks.h"
#include "engine/downloadscheduler.h"
#include "session/enginebrowsers.h"
#include "settings/appsettings.h"
#include "templates/templatechooser.h"
#include "templates/templatestore.h"

#include <QObject>

#include <memory>

namespace qh::engine {
class EngineHost;
}

namespace qh::session {

class BookUpdates;

// What differs between the programs (and their tests) when a session is made.
struct SessionOptions
{
    // Timings of the engine; its folders, encoding and page delay come from the settings.
    engine::SchedulerConfig engine;
    // Makes the web engine when a book first needs it; empty: static pages only.
    EngineBrowsers::WebBrowserFactory webBrowserFactory;
    // The template choice the engine reads and sets; null: one in memory. The desktop program hands in its
    // drop-down list.
    std::unique_ptr<templates::TemplateChooser> chooser;
};

// One run of the program's core, made once at start by the desktop program and by the command line: the data
// folder with its settings, template store and queue, the grab's browsers, and the download scheduler, wired
// together. The programs add their user interface through the engine's host and the queue's signals.
//
// Loading is separate from construction, so that each program applies its own policy to a file that cannot be read.
// The host must outlive the session.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(DataFolder folder, engine::EngineHost &host, SessionOptions options = {}, QObject *parent = nullptr);
    ~Session() override;

    const DataFolder &folder() const { return m_folder; }

    const settings::AppSettings &settings() const { return m_settings; }
    // Takes new settings for every book started from now on (a book in progress keeps its own); not written.
    void applySettings(const settings::AppSettings &settings);
    // Reads "SysCfg.ini" (documents: where the default save folder goes; empty asks the platform) and applies it.
    // Throws qh::Error when it exists but cannot be read; the settings stay as they were.
    void loadSettings(const QString &documentsFolder = QString());

    templates::TemplateStore &store() { return m_store; }
    const templates::TemplateStore &store() const { return m_store; }
    templates::TemplateChooser &chooser() { return *m_chooser; }
    // Replaces the store with "system.tpe" when it exists and fills the chooser, "自动" selected. Throws qh::Error
    // for a broken file; the store then stays as it was.
    void loadTemplates();

    core::BookQueue &queue() { return m_queue; }
    const core::BookQueue &queue() const { return m_queue; }
    // "downlist.dat" into the queue, and back. Both throw qh::Error.
    void loadQueue();
    void saveQueue();

    EngineBrowsers &browsers() { return *m_browsers; }
    // A static browser of its own for reading a new book's first page, on the settings' proxy.
    std::unique_ptr<browser::Browser> makeProbeBrowser() const;
    engine::DownloadScheduler &scheduler() { return *m_scheduler; }
    engine::EngineHost &host() { return m_host; }

    // The books grabbed to their end ("finished.dat"), read anew each time, since the other program may have
    // finished one meanwhile. Books whose files are gone are dropped from the file, each with a notice. Throws
    // qh::Error when the file cannot be read or written.
    QList<core::FinishedBook> finishedBooks();
    // Every book the scheduler finishes is recorded, whichever program grabbed it; this is where. An update that
    // brought nothing keeps its time of last update. Throws qh::Error.
    void recordFinished(const core::FinishedBook &book);
    BookUpdates &updates() { return *m_updates; }

private:
    engine::SchedulerConfig schedulerConfig() const;
    core::FinishedBooks readFinishedBooks();

    const DataFolder m_folder;
    engine::EngineHost &m_host;
    const engine::SchedulerConfig m_engineTimings;
    settings::AppSettings m_settings;
    templates::TemplateStore m_store;
    std::unique_ptr<templates::TemplateChooser> m_chooser;
    core::BookQueue m_queue;
    EngineBrowsers *m_browsers; // a child
    std::unique_ptr<engine::DownloadScheduler> m_scheduler;
    BookUpdates *m_updates; // a child
};

} // namespace qh::session
