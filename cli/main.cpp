// fennic: with no arguments the window front end, otherwise a subcommand.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/start_argument.h"
#include "app/text_convert.h"
#include "cli/commands.h"
#include "cli/direct_cmd.h"
#include "cli/help.h"
#include "cli/stop_signals.h"
#include "cli/window_loader.h"
#include "fs/output_file.h"
#include "inet/url.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const fennic::cli::Args&);
    const char* usage;
};

const Command kCommands[] = {
    {"list", fennic::cli::CmdList, "list [OPTIONS] (URL | PATH)"},
    {"extract", fennic::cli::CmdExtract,
     "extract [OPTIONS] (URL | PATH) (ENTRY | --index N) -o FILE"},
    {"cat", fennic::cli::CmdCat, "cat [OPTIONS] (URL | PATH) ENTRY"},
    {"get", fennic::cli::CmdGet, "get [OPTIONS] (URL | PATH) [PATTERN...] [-d DIR]"},
    {"fetch", fennic::cli::CmdFetch, "fetch [--size-only | --range START END] URL FILE"},
};

int Usage() {
    std::fprintf(stderr, "usage: fennic [URL | PATH]    (the window)\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "       fennic %s\n", c.usage);
    std::fprintf(stderr, "\"fennic --help\" and \"fennic COMMAND --help\" tell more.\n");
    return 2;
}

// -h or --help among a command's options (before "--").
bool AsksForHelp(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
    }
    return false;
}

// The window needs a display; without one the toolkit would only print its own complaint.
[[maybe_unused]] bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// One argument that is no command but a local archive or an address is for the window.
bool IsWindowArgument(const std::string& argument) {
    std::string path;
    return !argument.empty() && argument[0] != '-' &&
           fennic::ReadStartArgument(argument, path) != fennic::StartArgument::kNone;
}

int RunWindow(int argc, char** argv) {
#ifdef FENNIC_HAVE_UI
    if (HaveDisplay()) return fennic::cli::RunWindowModule(argc, argv);
    std::fprintf(stderr,
                 "fennic: the window needs a display (DISPLAY is not set); the commands work "
                 "without one:\n");
#else
    (void)argv;
    std::fprintf(stderr, "fennic: this build has no window front end\n");
#endif
    if (argc >= 2) {
        std::fprintf(stderr, "fennic: to list it here: fennic list %s\n",
                     fennic::TerminalText(fennic::inet::WithoutSecrets(argv[1])).c_str());
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    // Without TZ the C library checks /etc/localtime on every time conversion, one system
    // call per listed entry; naming the same file once spares them.
    if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 0);
    if (argc < 2) return RunWindow(argc, argv);
    const std::string name = argv[1];
    if (name == "-h" || name == "--help") {
        fennic::cli::PrintProgramHelp(stdout);
        return fennic::cli::FlushOutput(stdout) ? 0 : 1;
    }
    if (name == "--version") {
        std::puts(fennic::cli::VersionText());
        return fennic::cli::FlushOutput(stdout) ? 0 : 1;
    }
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        if (AsksForHelp(argc, argv))
            return fennic::cli::PrintCommandHelp(name, stdout) && fennic::cli::FlushOutput(stdout)
                       ? 0
                       : 1;
        fennic::cli::InstallStopSignals();
        // A stop that comes after the transfer still keeps the old output.
        fennic::fs::SetCommitGuard([] { return fennic::cli::PendingStopSignal() == 0; });
        const int rc = c.run(fennic::cli::Args(argv + 2, argv + argc));
        if (const int sig = fennic::cli::PendingStopSignal()) std::exit(128 + sig);
        return rc;
    }
    if (argc == 2 && IsWindowArgument(name)) return RunWindow(argc, argv);
    std::fprintf(stderr, "fennic: unknown command '%s'\n",
                 fennic::TerminalText(fennic::inet::WithoutSecrets(name)).c_str());
    return Usage();
}
