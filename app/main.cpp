#include "app/demosite.h"
#include "app/mainwindow.h"
#include "app/translations.h"
#include "browser/webengineenvironment.h"
#include "common/datafolder.h"
#include "common/error.h"
#include "settings/appsettings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>

#include <exception>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The last line of defence: an error that still reaches the event loop is shown in a plain box owned by the main
// window, and the program goes on.
class QuillhaulApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    void setErrorOwner(QWidget *owner) { m_owner = owner; }

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const qh::Error &error) {
            qh::app::ApplicationEvents1Exception(m_owner, error.message());
        } catch (const std::exception &error) {
            qh::app::ApplicationEvents1Exception(m_owner, QString::fromLocal8Bit(error.what()));
        }
        return false;
    }

private:
    QPointer<QWidget> m_owner;
};

// Whether the program is only asked to print its version or options, which needs no display.
bool onlyPrintsText(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--version" || arg == "-v" || arg == "--help" || arg == "-h" || arg == "--help-all")
            return true;
    }
    return false;
}

// The demo writes its book as the reader's own settings say, so that it shows what their books will be like.
qh::BookFormat demoFormat(const QString &dataDir)
{
    try {
        return qh::settings::LoadSettings(qh::DataFolder::locate(dataDir).settingsFile(), QString()).OutputFormat;
    } catch (const qh::Error &) {
        return qh::BookFormat::Text;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (onlyPrintsText(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    // Chromium (the wizard's view and the web engine) needs its environment before the application object exists.
    qh::browser::prepareWebEngineEnvironment(false);
    QuillhaulApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillhaul"_s);
    QGuiApplication::setApplicationDisplayName(u"Quillhaul"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLHAUL_VERSION));
    // The standard buttons and dialogs in the language of the program's own texts.
    qh::app::installQtTranslation(app, QLocale::system().uiLanguages());

    QCommandLineParser parser;
    parser.setApplicationDescription(u"Downloads serialised web novels into text files."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDir(u"data-dir"_s, u"Keep settings, queue and templates in DIR."_s, u"DIR"_s);
    parser.addOption(dataDir);
    const QCommandLineOption demo(u"demo"_s,
                                  u"Start with a sample novel site on this machine and download its book."_s);
    parser.addOption(demo);
    parser.process(app);

    try {
        // The demo's site and data folder live as long as the window.
        std::unique_ptr<qh::app::DemoSite> demoSite;
        if (parser.isSet(demo))
            demoSite = std::make_unique<qh::app::DemoSite>(demoFormat(parser.value(dataDir)));
        const qh::DataFolder folder = demoSite ? demoSite->folder() : qh::DataFolder::locate(parser.value(dataDir));
        qh::app::MainWindowOptions options = qh::app::defaultMainWindowOptions();
        if (demoSite)
            options.demoFolder = demoSite->path();
        auto window = std::make_unique<qh::app::TFrmMain>(folder, options);
        app.setErrorOwner(window.get());
        window->show();
        const int status = app.exec();
        // The window goes first: it writes the list into the demo's folder when it closes, and the folder goes after.
        window.reset();
        demoSite.reset();
        return status;
    } catch (const qh::Error &error) {
        // Nothing to show the program in: say why and end.
        QMessageBox box(QMessageBox::Critical, QString(), error.message(), QMessageBox::Ok);
        box.exec();
        return 1;
    }
}
