#pragma once

#include "common/error.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace qh::cli {

// Exit statuses shared by every command.
enum ExitStatus
{
    ExitOk = 0,
    ExitError = 1,
    ExitUsage = 2,
    ExitStopped = 3,
};

// What main() hands to a command: its own arguments (after the command's name), the options that apply to all
// commands, and the output streams (UTF-8). A command that waits for the network runs the event loop itself.
struct CliContext
{
    QStringList args;
    QString dataDirOverride; // from --data-dir; empty when not given
    QTextStream &out;
    QTextStream &err;

    // Whether the command was asked for its usage ("COMMAND --help"), which then goes to stdout with status 0.
    bool helpRequested() const { return args.contains(QStringLiteral("--help")); }
};

using CommandFunction = int (*)(CliContext &context);

// Runs command; an error it throws is printed on stderr and gives ExitError.
inline int runGuarded(CliContext &context, CommandFunction command)
{
    try {
        return command(context);
    } catch (const Error &error) {
        context.err << "quillhaul-cli: " << error.message() << Qt::endl;
        return ExitError;
    }
}

} // namespace qh::cli
