#include "cli/terminalhost.h"

#include "cli/webengineloader.h"
#include "common/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qh::cli {

void TerminalHost::ShowMsg(const QString &text)
{
    m_err << "quillhaul-cli: " << text << Qt::endl;
}

void TerminalHost::showError(const QString &message)
{
    m_sawError = true;
    m_err << "quillhaul-cli: " << message << Qt::endl;
}

void TerminalHost::askYesNo(const QString &caption, const QString &text, std::function<void(bool)> answered)
{
    m_err << "quillhaul-cli: " << caption << ": " << text << " -> 否" << Qt::endl;
    QTimer::singleShot(0, QCoreApplication::instance(), [answered = std::move(answered)] { answered(false); });
}

void TerminalHost::requestRedefinition(int, const QUrl &)
{
    // Never asked: every question is answered no.
}

void TerminalHost::showWaitDialog()
{
    m_err << "quillhaul-cli: 正在停止……" << Qt::endl;
}

std::unique_ptr<session::Session> openSession(const QString &dataDirOverride, TerminalHost &host, QTextStream &err)
{
    session::SessionOptions options;
    options.webBrowserFactory = webEnginePluginFactory(err);
    // How often a book's file and row are brought up to date; the crash tests shorten it.
    bool ok = false;
    const int checkpointMs = qEnvironmentVariableIntValue("QUILLHAUL_CHECKPOINT_MS", &ok);
    if (ok && checkpointMs >= 0)
        options.engine.checkpointMs = checkpointMs;
    auto session = std::make_unique<session::Session>(DataFolder::locate(dataDirOverride), host, std::move(options));
    session->loadSettings();
    // The books' folder is made when missing, as the window does at start.
    const QString saveFolder = session->settings().SavePath;
    if (!QDir().mkpath(saveFolder))
        throw Error(QStringLiteral("无法创建保存目录“%1”。").arg(QDir::toNativeSeparators(saveFolder)));
    session->loadTemplates();
    session->loadQueue();
    return session;
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
