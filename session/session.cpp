#include "session/session.h"

#include "common/error.h"
#include "core/queuefile.h"
#include "core/safefilename.h"
#include "engine/bookwriter.h"
#include "engine/enginehost.h"
#include "session/bookupdates.h"
#include "settings/proxyaddress.h"
#include "templates/selection.h"
#include "templates/templatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::session {

Session::Session(DataFolder folder, engine::EngineHost &host, SessionOptions options, QObject *parent)
    : QObject(parent), m_folder(std::move(folder)), m_host(host), m_engineTimings(std::move(options.engine)),
      m_chooser(options.chooser ? std::move(options.chooser) : std::make_unique<templates::ListTemplateChooser>()),
      m_browsers(new EngineBrowsers(std::move(options.webBrowserFactory), this))
{
    templates::fillTemplateChooser(*m_chooser, m_store);
    m_chooser->setCurrentIndex(0);
    m_scheduler =
        std::make_unique<engine::DownloadScheduler>(m_queue, m_store, *m_chooser, host, *m_browsers, schedulerConfig());
    connect(m_scheduler.get(), &engine::DownloadScheduler::bookFinished, this, [this](const core::FinishedBook &book) {
        try {
            recordFinished(book);
        } catch (const Error &error) {
            m_host.showError(error.message());
        }
    });
    m_updates = new BookUpdates(*this, this);
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

QList<core::FinishedBook> Session::finishedBooks()
{
    return readFinishedBooks().books();
}

core::FinishedBooks Session::readFinishedBooks()
{
    QList<core::FinishedBook> gone;
    const core::FinishedBooks books = core::loadFinishedBooks(m_folder.finishedBooksFile(), &gone);
    if (gone.isEmpty())
        return books;
    core::saveFinishedBooks(books, m_folder.finishedBooksFile());
    const QList<core::BookEntry> queued = m_queue.entries();
    for (const core::FinishedBook &book : std::as_const(gone)) {
        // The addresses of its pages served its updates only; a queued book of that name has its own.
        if (std::none_of(queued.cbegin(), queued.cend(),
                         [&](const core::BookEntry &entry) { return entry.BookName == book.name; }))
            QFile::remove(engine::pagesFileOf(core::BookWorkFilePath(m_folder.tempFolder(), book.name)));
        m_host.ShowMsg(
            u"《%1》的文件“%2”已不在了，不再记着这本书。"_s.arg(book.name, QDir::toNativeSeparators(book.file)));
    }
    return books;
}

void Session::recordFinished(const core::FinishedBook &book)
{
    core::FinishedBooks books = readFinishedBooks();
    core::FinishedBook recorded = book;
    if (const core::FinishedBook *held = books.find(book.name);
        held && held->pages == book.pages && held->bytes == book.bytes && held->updated.isValid())
        recorded.updated = held->updated; // checked, nothing new
    if (const core::FinishedBook *held = books.find(book.name); held && *held == recorded)
        return;
    books.record(recorded);
    core::saveFinishedBooks(books, m_folder.finishedBooksFile());
}

} // namespace qh::session
