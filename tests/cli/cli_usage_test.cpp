#include "support/testutils.h"

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs quillhaul-cli on a data folder of its own, so that no command touches the user's files.
CliRun runCli(const QStringList &args)
{
    QTemporaryDir data;
    QProcess process;
    process.start(QStringLiteral(QH_BIN_DIR "/quillhaul-cli"), QStringList{u"--data-dir"_s, data.path()} + args);
    EXPECT_TRUE(process.waitForFinished(20000)) << args.join(u' ').toStdString();
    CliRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QStringList commandNames = {u"data-dir"_s, u"templates"_s, u"dom"_s,  u"grab"_s,
                                  u"queue"_s,    u"update"_s,    u"books"_s};

} // namespace

// "COMMAND --help", also after a subcommand or other arguments, prints that command's usage on stdout and does
// nothing else: no queue, no download, no error.
TEST(CliUsage, EachCommandPrintsItsUsage)
{
    const QList<QStringList> cases = {
        {u"data-dir"_s, u"--help"_s},
        {u"templates"_s, u"--help"_s},
        {u"templates"_s, u"list"_s, u"--help"_s},
        {u"dom"_s, u"--help"_s},
        {u"dom"_s, u"--web"_s, u"--help"_s},
        {u"grab"_s, u"--help"_s},
        {u"grab"_s, u"http://127.0.0.1:9/1"_s, u"--help"_s},
        {u"queue"_s, u"--help"_s},
        {u"queue"_s, u"run"_s, u"--help"_s},
        {u"update"_s, u"--help"_s},
        {u"update"_s, u"某书"_s, u"--help"_s},
        {u"books"_s, u"--help"_s},
    };
    for (const QStringList &args : cases) {
        const CliRun run = runCli(args);
        const std::string what = args.join(u' ').toStdString();
        EXPECT_EQ(run.exitCode, 0) << what << '\n' << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(u"Usage: quillhaul-cli "_s)) << what << '\n' << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(u' ' + args.first() + u' ') || run.out.contains(u' ' + args.first() + u'\n'))
            << what << '\n'
            << run.out.toStdString();
        EXPECT_EQ(run.err, QString()) << what;
    }
}

// --help lists every command on a line of its own, on stdout.
TEST(CliUsage, HelpListsEveryCommand)
{
    const CliRun run = runCli({u"--help"_s});
    EXPECT_EQ(run.exitCode, 0);
    const QStringList lines = run.out.split(u'\n');
    for (const QString &name : commandNames) {
        const auto listed = std::count_if(lines.begin(), lines.end(), [&name](const QString &line) {
            return line.startsWith(u"  "_s + name + u' ');
        });
        EXPECT_EQ(listed, 1) << name.toStdString() << '\n' << run.out.toStdString();
    }
}

// A wrong command or option prints the usage on stderr and ends with status 2.
TEST(CliUsage, WrongCommandLinePrintsUsage)
{
    for (const QStringList &args : QList<QStringList>{{u"no-such-command"_s}, {u"--no-such-option"_s}, {}}) {
        const CliRun run = runCli(args);
        const std::string what = args.join(u' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << what;
        EXPECT_TRUE(run.err.contains(u"Usage: quillhaul-cli"_s)) << what << '\n' << run.err.toStdString();
        EXPECT_EQ(run.out, QString()) << what;
    }
}

// --version prints the build's version, the one CMake's project() declares.
TEST(CliUsage, PrintsTheVersion)
{
    const CliRun run = runCli({u"--version"_s});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, u"quillhaul-cli "_s + QStringLiteral(QUILLHAUL_VERSION) + u'\n');
}
