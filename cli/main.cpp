#include "cli/clicontext.h"

#include <QCoreApplication>
#ifdef QUILLHAUL_WEBENGINE_PLUGIN
#include "browser/webengineenvironment.h"

#include <QGuiApplication>
#endif

#include <algorithm>
#include <cstdio>
#include <memory>

namespace qh::cli {

int dataDirCommand(CliContext &context);
int templatesCommand(CliContext &context);
int domCommand(CliContext &context);
int grabCommand(CliContext &context);
int queueCommand(CliContext &context);
int updateCommand(CliContext &context);
int booksCommand(CliContext &context);

namespace {

struct Command
{
    const char *name;
    const char *usage;
    CommandFunction run;
};

// Each command lives in a file of its own; this table is the only place that knows them all.
const Command commands[] = {
    {"data-dir", "data-dir                 print the folder of settings, queue and templates", dataDirCommand},
    {"templates", "templates SUBCOMMAND ... list|show|import|export|delete|up|down|define", templatesCommand},
    {"dom", "dom [--web [--wait MS]] SOURCE [--json]  print a page's elements: index, tag, parent, text", domCommand},
    {"grab", "grab URL [--template NAME] [--name NAME] [--format text|epub] [--out FILE]  download one book",
     grabCommand},
    {"queue", "queue list|add URL [--name NAME]|run  the download queue", queueCommand},
    {"update", "update [NAME...]         fetch the new chapters of finished books (all, or those named)",
     updateCommand},
    {"books", "books                    list the finished books and when each last got pages", booksCommand},
};

void printUsage(QTextStream &stream)
{
    stream << "Usage: quillhaul-cli [--data-dir DIR] COMMAND [ARGS...]\n"
              "       quillhaul-cli --help | --version | COMMAND --help\n\nCommands:\n";
    for (const Command &command : commands)
        stream << "  " << command.usage << '\n';
}

int dispatch(QStringList args, QTextStream &out, QTextStream &err)
{
    QString dataDir;
    while (!args.isEmpty() && args.first().startsWith(u"--")) {
        const QString option = args.takeFirst();
        if (option == u"--data-dir" && !args.isEmpty()) {
            dataDir = args.takeFirst();
        } else if (option.startsWith(u"--data-dir=")) {
            dataDir = option.mid(int(sizeof("--data-dir=")) - 1);
        } else if (option == u"--help") {
            printUsage(out);
            return ExitOk;
        } else if (option == u"--version") {
            out << "quillhaul-cli " << QCoreApplication::applicationVersion() << '\n';
            return ExitOk;
        } else {
            err << "quillhaul-cli: unknown option " << option << '\n';
            printUsage(err);
            return ExitUsage;
        }
    }
    if (args.isEmpty()) {
        printUsage(err);
        return ExitUsage;
    }
    const QString name = args.takeFirst();
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name)) {
            CliContext context{args, dataDir, out, err};
            return command.run(context);
        }
    }
    err << "quillhaul-cli: unknown command " << name << '\n';
    printUsage(err);
    return ExitUsage;
}

} // namespace

// Whether the command may load a page in the web engine: a grab, an update or a queue run (a book's template may
// need scripts), dom --web and a template defined from a sample page (a web template reads it with scripts). The
// others never start Chromium.
bool mayLoadPagesWithScripts(QStringList args)
{
    while (!args.isEmpty() && args.first().startsWith(u"--")) {
        if (args.takeFirst() == u"--data-dir" && !args.isEmpty())
            args.removeFirst();
    }
    const QString command = args.value(0);
    if (args.contains(u"--help"))
        return false; // only the usage is printed
    return command == u"grab" || command == u"update" || (command == u"queue" && args.value(1) == u"run") ||
           (command == u"dom" && args.contains(u"--web")) ||
           (command == u"templates" && args.value(1) == u"define" &&
            std::any_of(args.cbegin(), args.cend(), [](const QString &arg) { return arg.startsWith(u"--url"); }));
}

} // namespace qh::cli

int main(int argc, char *argv[])
{
    // Qt's own event loop: it wakes less often than GLib's for the same work, and a grab is one long event loop.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArray("1"));
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    std::unique_ptr<QCoreApplication> app;
#ifdef QUILLHAUL_WEBENGINE_PLUGIN
    // Pages that need scripts are read by Chromium, which wants a graphical application object; offscreen it needs
    // no display. Only the commands that load pages pay for one.
    if (qh::cli::mayLoadPagesWithScripts(args)) {
        qh::browser::prepareWebEngineEnvironment(true);
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
#endif
    if (!app)
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillhaul"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLHAUL_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    args = QCoreApplication::arguments();
    args.removeFirst();
    const int status = qh::cli::dispatch(args, out, err);
    out.flush();
    err.flush();
    return status;
}
