#include "session/session.h"

#include "core/queuefile.h"
#include "settings/proxyaddress.h"
#include "templates/selection.h"
#include "templates/templatefile.h"

#include <QFileInfo>

namespace qh::session {

Session::Session(DataFolder folder, engine::EngineHost &host, SessionOptions options, QObject *parent)
    : QObject(parent), m_folder(std::move(folder)), m_engineTimings(std::move(options.engine)),
      m_chooser(options.chooser ? std::move(options.chooser) : std::make_unique<templates::ListTemplateChooser>()),
      m_browsers(new EngineBrowsers(std::move(options.webBrowserFactory), this))
{
    templates::fillTemplateChooser(*m_chooser, m_store);
    m_chooser->setCurrentIndex(0);
    m_scheduler =
        std::make_unique<engine::DownloadScheduler>(m_queue, m_store, *m_chooser, host, *m_browsers, schedulerConfig());
}

Session::~Session() = default;

engine::SchedulerConfig Session::schedulerConfig() const
{
    engine::SchedulerConfig config = m_engineTimings;
    config.saveFolder = m_settings.SavePath;
    config.listFile = m_folder.bookListFile();
    config.workFolder = m_folder.tempFolder();
    config.encoding = m_settings.BookEncoding;
    config.grab.pageDelayMs = m_settings.PageDelay;
    // A program may have set where one book goes (the command line's --out); the settings do not change that.
    if (m_scheduler)
        config.bookFilePath = m_scheduler->config().bookFilePath;
    return config;
}

void Session::applySettings(const settings::AppSettings &settings)
{
    m_settings = settings;
    m_scheduler->setConfig(schedulerConfig());
    const auto proxy = settings::configuredProxy(m_settings);
    m_browsers->setProxy(proxy ? proxy->host : QString(), proxy ? proxy->port : 0);
}

void Session::loadSettings(const QString &documentsFolder)
{
    applySettings(documentsFolder.isEmpty() ? settings::LoadSettings(m_folder.settingsFile())
                                            : settings::LoadSettings(m_folder.settingsFile(), documentsFolder));
}

std::unique_ptr<browser::Browser> Session::makeProbeBrowser() const
{
    auto probe = std::make_unique<browser::StaticBrowser>();
    probe->setLoadsStyleSheets(false); // it reads the title alone
    const auto proxy = settings::configuredProxy(m_settings);
    if (proxy)
        probe->setProxy(proxy->host, proxy->port);
    return probe;
}

void Session::loadTemplates()
{
    if (QFileInfo(m_folder.templateFile()).isFile())
        m_store = templates::LoadTemplateFile(m_folder.templateFile());
    templates::fillTemplateChooser(*m_chooser, m_store);
    m_chooser->setCurrentIndex(0);
}

void Session::loadQueue()
{
    core::LoadBookList(m_queue, m_folder.bookListFile());
}

void Session::saveQueue()
{
    core::SaveBookList(m_queue, m_folder.bookListFile());
}

} // namespace qh::session
