#include "cli/clicontext.h"
#include "cli/progressprinter.h"
#include "cli/terminalhost.h"
#include "common/error.h"
#include "session/bookupdates.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qh::cli {

namespace {

const char UpdateUsage[] = "Usage: quillhaul-cli [--data-dir DIR] update [NAME...]\n";
const char BooksUsage[] = "Usage: quillhaul-cli [--data-dir DIR] books\n";

int runUpdate(CliContext &context)
{
    if (context.helpRequested()) {
        context.out << UpdateUsage;
        return ExitOk;
    }
    if (std::any_of(context.args.cbegin(), context.args.cend(),
                    [](const QString &arg) { return arg.startsWith(u"--"); })) {
        context.err << UpdateUsage;
        return ExitUsage;
    }
    TerminalHost host(context.err);
    const auto session = openSession(context.dataDirOverride, host, context.err);
    const QList<core::FinishedBook> finished = session->finishedBooks();

    bool failed = false;
    QList<core::FinishedBook> chosen;
    if (context.args.isEmpty()) {
        chosen = finished;
    } else {
        for (const QString &name : std::as_const(context.args)) {
            const auto book = std::find_if(finished.cbegin(), finished.cend(),
                                           [&](const core::FinishedBook &held) { return held.name == name; });
            if (book == finished.cend()) {
                context.err << "quillhaul-cli: " << u"没有名为《%1》的下载完的书。"_s.arg(name) << Qt::endl;
                failed = true;
            } else if (!chosen.contains(*book)) {
                chosen << *book;
            }
        }
    }
    if (chosen.isEmpty()) {
        if (finished.isEmpty())
            context.err << "quillhaul-cli: " << u"还没有下载完的书。"_s << Qt::endl;
        return failed ? ExitError : ExitOk;
    }

    auto &scheduler = session->scheduler();
    session::BookUpdates &updates = session->updates();
    ProgressPrinter progress(scheduler, context.err);
    bool interrupted = false;
    InterruptHandler interrupt([&] {
        interrupted = true;
        scheduler.requestStop(engine::DownloadScheduler::StopPicture::KeepPicture);
    });
    QObject::connect(
        &updates, &session::BookUpdates::ended, &scheduler, [&](const QString &name, int newPages, bool ok) {
            progress.flush();
            context.out << (ok ? session::BookUpdates::outcomeText(name, newPages) : u"《%1》：更新失败"_s.arg(name))
                        << Qt::endl;
        });
    QObject::connect(&updates, &session::BookUpdates::allEnded, &scheduler, [&](int, int failedUpdates) {
        QCoreApplication::exit(failed || failedUpdates > 0 ? ExitError : ExitOk);
    });
    QObject::connect(&scheduler, &engine::DownloadScheduler::bookEnded, &scheduler, [&](engine::GrabEnd end) {
        if (end == engine::GrabEnd::Stopped && interrupted)
            QCoreApplication::exit(ExitStopped);
    });
    QObject::connect(&scheduler, &engine::DownloadScheduler::runningChanged, &scheduler, [&](bool running) {
        // Halted without a grab to wind down: a book it could not start, or one that failed and keeps its row.
        if (!running && !scheduler.isGrabbing())
            QCoreApplication::exit(interrupted ? ExitStopped : ExitError);
    });
    // Once the event loop runs, so that every answer comes from it.
    QTimer::singleShot(0, &scheduler, [&] {
        updates.queue(chosen);
        if (!updates.isBusy())
            return; // every book failed at once; allEnded has said so
        scheduler.start();
        scheduler.tick();
    });
    return QCoreApplication::exec();
}

int runBooks(CliContext &context)
{
    if (context.helpRequested()) {
        context.out << BooksUsage;
        return ExitOk;
    }
    if (!context.args.isEmpty()) {
        context.err << BooksUsage;
        return ExitUsage;
    }
    TerminalHost host(context.err);
    const auto session = openSession(context.dataDirOverride, host, context.err);
    for (const core::FinishedBook &book : session->finishedBooks())
        context.out << book.name << '\t' << book.pages << '\t'
                    << book.updated.toLocalTime().toString(u"yyyy-MM-dd HH:mm"_s) << '\t'
                    << QDir::toNativeSeparators(book.file) << '\n';
    return ExitOk;
}

} // namespace

int updateCommand(CliContext &context)
{
    return runGuarded(context, runUpdate);
}

int booksCommand(CliContext &context)
{
    return runGuarded(context, runBooks);
}

} // namespace qh::cli
