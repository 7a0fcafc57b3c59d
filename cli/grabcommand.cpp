#include "cli/clicontext.h"
#include "cli/progressprinter.h"
#include "cli/terminalhost.h"
#include "common/error.h"
#include "core/bookentry.h"
#include "core/booknaming.h"
#include "core/safefilename.h"
#include "core/titleprobe.h"
#include "templates/selection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qh::cli {

namespace {

const char GrabUsage[] =
    "Usage: quillhaul-cli [--data-dir DIR] grab URL [--template NAME] [--name NAME] [--format text|epub]\n"
    "                     [--out FILE]\n";
const char QueueUsage[] = "Usage: quillhaul-cli [--data-dir DIR] queue list\n"
                          "       quillhaul-cli [--data-dir DIR] queue add URL [--name NAME] [--format text|epub]\n"
                          "       quillhaul-cli [--data-dir DIR] queue run\n";

struct Options
{
    QStringList positional;
    QString templateName;
    QString name;
    QString out;
    std::optional<BookFormat> format;
};

// Splits "--option VALUE" pairs from the positional arguments; nullopt on a malformed line.
std::optional<Options> parseOptions(QStringList args, const QStringList &allowed)
{
    Options options;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (!arg.startsWith(u"--")) {
            options.positional << arg;
            continue;
        }
        if (!allowed.contains(arg) || args.isEmpty())
            return std::nullopt;
        const QString value = args.takeFirst();
        if (arg == u"--template")
            options.templateName = value;
        else if (arg == u"--name")
            options.name = value;
        else if (arg == u"--out")
            options.out = value;
        else if (arg == u"--format" && !(options.format = formatFromKey(value)))
            return std::nullopt;
    }
    return options;
}

// Appends a queued row for url, named by --name or by the page's title like the add operation, a clash getting a
// number, and saves the list; then calls done with the row's name, or with nothing (the cause on stderr) when the
// page cannot be read. The title is read from the event loop, as the window reads it.
void queueBook(session::Session &session, const QString &url, const QString &givenName, BookFormat format,
               QTextStream &err, std::function<void(std::optional<QString>)> done)
{
    const auto append = [&session, url, format, done](const QString &candidate) {
        const QString name = core::numberedFreeBookName(session.queue(), session.settings().SavePath, candidate);
        session.queue().append({name, 0, core::BookStatus::Queued, core::addressFromText(url), format});
        session.saveQueue();
        done(session.queue().entries().constLast().BookName);
    };
    if (!givenName.isEmpty())
        return append(givenName);

    auto *probe = new core::TitleProbe(session.makeProbeBrowser(), &session);
    QObject::connect(probe, &core::TitleProbe::finished, probe,
                     [probe, append, done, &err](bool ok, const QString &title, const QString &error) {
                         probe->deleteLater();
                         if (!ok) {
                             err << "quillhaul-cli: " << error << Qt::endl;
                             return done(std::nullopt);
                         }
                         try {
                             append(core::bookNameFromTitle(title.trimmed()));
                         } catch (const Error &failure) {
                             err << "quillhaul-cli: " << failure.message() << Qt::endl;
                             done(std::nullopt);
                         }
                     });
    probe->start(core::addressFromText(url));
}

// Without --format, a book written to a file named ".epub" or ".txt" is written as that; else as the settings say.
BookFormat formatOfOut(const QString &out, BookFormat settings)
{
    if (out.endsWith(u".epub"_s, Qt::CaseInsensitive))
        return BookFormat::Epub;
    if (out.endsWith(u".txt"_s, Qt::CaseInsensitive))
        return BookFormat::Text;
    return settings;
}

int runGrab(CliContext &context)
{
    if (context.helpRequested()) {
        context.out << GrabUsage;
        return ExitOk;
    }
    const auto options = parseOptions(context.args, {u"--template"_s, u"--name"_s, u"--out"_s, u"--format"_s});
    if (!options || options->positional.size() != 1) {
        context.err << GrabUsage;
        return ExitUsage;
    }
    TerminalHost host(context.err);
    const auto session = openSession(context.dataDirOverride, host, context.err);
    if (!options->templateName.isEmpty() &&
        templates::selectChooserItem(session->chooser(), options->templateName) <= 0) {
        context.err << "quillhaul-cli: " << u"没有名为“%1”的模板。"_s.arg(options->templateName) << Qt::endl;
        return ExitError;
    }
    const int chosen = session->chooser().currentIndex();
    const BookFormat format = options->format.value_or(formatOfOut(options->out, session->settings().OutputFormat));

    auto &scheduler = session->scheduler();
    ProgressPrinter progress(scheduler, context.err);
    QString bookName;
    bool interrupted = false;
    InterruptHandler interrupt([&] {
        interrupted = true;
        scheduler.requestStop(engine::DownloadScheduler::StopPicture::KeepPicture);
        if (bookName.isEmpty())
            QCoreApplication::exit(ExitStopped); // still reading the first page's title
    });
    QObject::connect(&scheduler, &engine::DownloadScheduler::bookEnded, &scheduler,
                     [&](engine::GrabEnd end, const QString &endedName) {
                         if (end == engine::GrabEnd::Complete && endedName != bookName)
                             return; // a book queued before ours has finished; ours comes later
                         QCoreApplication::exit(end == engine::GrabEnd::Complete                 ? ExitOk
                                                : end == engine::GrabEnd::Stopped && interrupted ? ExitStopped
                                                                                                 : ExitError);
                     });
    QObject::connect(&scheduler, &engine::DownloadScheduler::runningChanged, &scheduler, [&](bool running) {
        // The scheduler halted without a grab to wind down: a book it could not start.
        if (!running && !scheduler.isGrabbing())
            QCoreApplication::exit(interrupted ? ExitStopped : ExitError);
    });

    const auto startGrab = [&](std::optional<QString> name) {
        if (!name)
            return QCoreApplication::exit(ExitError);
        bookName = *name;
        // The hand-chosen template is reset after each book; the chooser must show it when this book starts.
        session->chooser().setCurrentIndex(chosen);
        if (!options->out.isEmpty()) {
            engine::SchedulerConfig config = scheduler.config();
            const QString out = QFileInfo(options->out).absoluteFilePath();
            const QString saveFolder = config.saveFolder;
            config.bookFilePath = [out, book = *name, saveFolder,
                                   queue = &session->queue()](const QString &bookOfFile) -> QString {
                if (bookOfFile == book)
                    return out;
                for (const core::BookEntry &entry : queue->entries()) {
                    if (entry.BookName == bookOfFile)
                        return core::BookFilePath(saveFolder, bookOfFile, entry.Format);
                }
                return core::BookFilePath(saveFolder, bookOfFile);
            };
            scheduler.setConfig(config);
        }
        scheduler.start();
        scheduler.tick();
    };
    // Once the event loop runs, so that every answer, the title's included, comes from it.
    QTimer::singleShot(0, &scheduler, [&] {
        try {
            queueBook(*session, options->positional.first(), options->name, format, context.err, startGrab);
        } catch (const Error &error) {
            context.err << "quillhaul-cli: " << error.message() << Qt::endl;
            QCoreApplication::exit(ExitError);
        }
    });
    return QCoreApplication::exec();
}

int runQueue(CliContext &context)
{
    if (context.helpRequested()) {
        context.out << QueueUsage;
        return ExitOk;
    }
    if (context.args.isEmpty()) {
        context.err << QueueUsage;
        return ExitUsage;
    }
    const QString sub = context.args.first();
    const auto options = parseOptions(context.args.mid(1), {u"--name"_s, u"--format"_s});
    if (!options) {
        context.err << QueueUsage;
        return ExitUsage;
    }
    TerminalHost host(context.err);
    const auto session = openSession(context.dataDirOverride, host, context.err);

    if (sub == u"list" && options->positional.isEmpty()) {
        // A fifth column names the format of a book that is not plain text, as the list file does.
        for (const core::BookEntry &entry : session->queue().entries()) {
            context.out << entry.BookName << '\t' << entry.PagesDone << '\t' << core::statusWord(entry.Status) << '\t'
                        << entry.CurrentUrl.toString();
            if (entry.Format != BookFormat::Text)
                context.out << '\t' << formatKey(entry.Format);
            context.out << '\n';
        }
        return ExitOk;
    }
    if (sub == u"add" && options->positional.size() == 1) {
        QTimer::singleShot(0, session.get(), [&] {
            try {
                queueBook(*session, options->positional.first(), options->name,
                          options->format.value_or(session->settings().OutputFormat), context.err,
                          [&](std::optional<QString> name) {
                              if (name)
                                  context.out << *name << '\n';
                              QCoreApplication::exit(name ? ExitOk : ExitError);
                          });
            } catch (const Error &error) {
                context.err << "quillhaul-cli: " << error.message() << Qt::endl;
                QCoreApplication::exit(ExitError);
            }
        });
        return QCoreApplication::exec();
    }
    if (sub == u"run" && options->positional.isEmpty()) {
        auto &scheduler = session->scheduler();
        ProgressPrinter progress(scheduler, context.err);
        bool interrupted = false;
        InterruptHandler interrupt([&] {
            interrupted = true;
            scheduler.requestStop(engine::DownloadScheduler::StopPicture::KeepPicture);
        });
        const auto finishIfDone = [&] {
            if (session->queue().isEmpty())
                QCoreApplication::exit(host.sawError() ? ExitError : ExitOk);
        };
        QObject::connect(&scheduler, &engine::DownloadScheduler::bookEnded, &scheduler, [&](engine::GrabEnd end) {
            if (end != engine::GrabEnd::Complete)
                QCoreApplication::exit(interrupted ? ExitStopped : ExitError);
            else
                finishIfDone();
        });
        QObject::connect(&scheduler, &engine::DownloadScheduler::runningChanged, &scheduler, [&](bool running) {
            if (!running && !scheduler.isGrabbing())
                QCoreApplication::exit(interrupted ? ExitStopped : ExitError);
        });
        if (session->queue().isEmpty())
            return ExitOk;
        scheduler.start();
        QTimer::singleShot(0, &scheduler, &engine::DownloadScheduler::tick); // once exec() runs
        return QCoreApplication::exec();
    }
    context.err << QueueUsage;
    return ExitUsage;
}

} // namespace

int grabCommand(CliContext &context)
{
    return runGuarded(context, runGrab);
}

int queueCommand(CliContext &context)
{
    return runGuarded(context, runQueue);
}

} // namespace qh::cli
