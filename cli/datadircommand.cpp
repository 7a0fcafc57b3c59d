#include "cli/clicontext.h"
#include "common/datafolder.h"
#include "common/error.h"

namespace qh::cli {

// Prints the folder that holds the settings, the queue and the templates, creating it when missing.
int dataDirCommand(CliContext &context)
{
    const char usage[] = "Usage: quillhaul-cli [--data-dir DIR] data-dir\n";
    if (context.helpRequested()) {
        context.out << usage;
        return ExitOk;
    }
    if (!context.args.isEmpty()) {
        context.err << usage;
        return ExitUsage;
    }
    try {
        context.out << DataFolder::locate(context.dataDirOverride).path() << '\n';
    } catch (const Error &error) {
        context.err << "quillhaul-cli: " << error.message() << '\n';
        return ExitError;
    }
    return ExitOk;
}

} // namespace qh::cli
