#include "app/cli/enginesession.h"

#include "app/booklistfile.h"
#include "app/cli/webengineloader.h"
#include "common/error.h"
#include "templates/selection.h"
#include "templates/templatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qh::cli {

void TerminalEngineUi::ShowMsg(const QString &text)
{
    m_err << "quillhaul-cli: " << text << Qt::endl;
}

bool TerminalEngineUi::askYesNo(const QString &caption, const QString &text)
{
    m_err << "quillhaul-cli: " << caption << ": " << text << " -> 否" << Qt::endl;
    return false;
}

void TerminalEngineUi::RequestRedefinition(int, const QString &)
{
    // Never asked: every question is answered no.
}

void TerminalEngineUi::showWaitDialog()
{
    m_err << "quillhaul-cli: 正在停止……" << Qt::endl;
}

void TerminalEngineUi::showError(const QString &message)
{
    m_sawError = true;
    m_err << "quillhaul-cli: " << message << Qt::endl;
}

namespace {

engine::SchedulerConfig schedulerConfig(const settings::AppSettings &settings, const DataFolder &folder)
{
    engine::SchedulerConfig config;
    config.saveFolder = settings.SavePath;
    config.listFile = folder.bookListFile();
    config.encoding = settings.BookEncoding;
    config.grab.pageDelayMs = settings.PageDelay;
    return config;
}

} // namespace

EngineSession::EngineSession(const QString &dataDirOverride, QTextStream &err)
    : m_folder(DataFolder::locate(dataDirOverride)), m_settings(settings::LoadSettings(m_folder.settingsFile())),
      m_browsers(webEnginePluginFactory(err)), m_ui(err)
{
    // The books' folder is made when missing, as the window does at start.
    if (!QDir().mkpath(m_settings.SavePath))
        throw Error(QStringLiteral("无法创建保存目录“%1”。").arg(QDir::toNativeSeparators(m_settings.SavePath)));
    if (QFileInfo(m_folder.templateFile()).isFile())
        m_store = templates::LoadTemplateFile(m_folder.templateFile());
    templates::fillTemplateChooser(m_chooser, m_store);
    m_chooser.setCurrentIndex(0);
    app::LoadBookList(m_books, m_folder.bookListFile());

    const auto proxy = settings::configuredProxy(m_settings);
    if (proxy)
        m_browsers.setProxy(proxy->host, proxy->port);
    m_scheduler = std::make_unique<engine::DownloadScheduler>(m_books, m_store, m_chooser, m_ui, m_browsers,
                                                              schedulerConfig(m_settings, m_folder));
}

void EngineSession::saveList() const
{
    app::SaveBookList(m_books, m_folder.bookListFile());
}

std::optional<QString> EngineSession::probeTitle(const QUrl &url, QString &error)
{
    // The command line has no window to keep alive: waiting here is the whole program.
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&browser(), &browser::Browser::loadFinished, &loop, [&](bool loaded) {
        ok = loaded;
        loop.quit();
    });
    browser().Navigate(url);
    loop.exec();
    if (!ok) {
        error = browser().lastError().message;
        return std::nullopt;
    }
    return browser().GetHtmlDocument()->title();
}

struct InterruptHandler::Private
{
    static inline int pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> onSignal;

    static void handle(int)
    {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(pipe[1], &byte, 1);
    }
};

InterruptHandler::InterruptHandler(std::function<void()> onSignal) : d(std::make_unique<Private>())
{
    d->onSignal = std::move(onSignal);
    if (::pipe2(Private::pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    d->notifier = std::make_unique<QSocketNotifier>(Private::pipe[0], QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, d->notifier.get(), [this] {
        char buffer[16];
        while (::read(Private::pipe[0], buffer, sizeof buffer) > 0) {
        }
        d->onSignal();
    });
    std::signal(SIGINT, &Private::handle);
    std::signal(SIGTERM, &Private::handle);
}

InterruptHandler::~InterruptHandler()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    d->notifier.reset();
    if (Private::pipe[0] >= 0) {
        ::close(Private::pipe[0]);
        ::close(Private::pipe[1]);
        Private::pipe[0] = Private::pipe[1] = -1;
    }
}

} // namespace qh::cli
