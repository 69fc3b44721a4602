#include "cli/help.h"

#include <cstring>

#include "cli/options.h"

namespace fennic::cli {
namespace {

constexpr char kExit[] =
    "Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted (Ctrl-C).\n";

struct Help {
    const char* name;
    const char* usage;
    const char* what;
    const char* options;  // for a command outside the option table; null: from the table
    const char* example;
};

const Help kHelp[] = {
    {"list", "fennic list [OPTIONS] (URL | PATH)",
     "Lists the entries of a ZIP archive on a web, FTP or S3 server (http, https, ftp, s3) or\n"
     "on this machine: name, folder flag, size, time, attributes, ratio, CRC and comment.\n"
     "Remotely it asks for the archive's last bytes and, when they do not hold the whole\n"
     "central directory, for the rest of it: one request or two.\n",
     nullptr, "  fennic list https://example.org/pub/tools.zip\n"},
    {"extract", "fennic extract [OPTIONS] (URL | PATH) (ENTRY | --index N) -o FILE",
     "Saves one entry, as stored, as a one-entry ZIP archive fetched with one byte range.\n"
     "FILE \"-\" is standard output.\n",
     nullptr, "  fennic extract https://example.org/pub/tools.zip docs/readme.txt -o readme.zip\n"},
    {"cat", "fennic cat [OPTIONS] (URL | PATH) ENTRY",
     "Writes one entry's decompressed bytes to standard output, checked against its CRC-32.\n",
     nullptr, "  fennic cat https://example.org/pub/tools.zip docs/readme.txt | less\n"},
    {"get", "fennic get [OPTIONS] (URL | PATH) [PATTERN...]",
     "Extracts the entries a pattern names (an exact name, a shell-style glob, a folder's name\n"
     "for everything under it; none: every entry) into a folder, decompressed and checked. No\n"
     "entry can write outside the folder.\n",
     nullptr, "  fennic get https://example.org/pub/tools.zip 'docs/*.txt' -d tools\n"},
    {"fetch", "fennic fetch [--size-only | --range START END] URL FILE",
     "Transfers URL (http:// or ftp://) into FILE as the window's road would, replacing FILE\n"
     "only once the transfer has succeeded, and prints the size the server reported (on\n"
     "stderr when FILE is \"-\", standard output). The proxy of the settings applies; user,\n"
     "password and port come from URL.\n",
     "  --size-only             learn the size only; FILE is left empty\n"
     "  --range START END       the bytes START to END, both INCLUSIVE for http and ftp alike\n"
     "  neither                 the whole resource: a size-only run, then 0 to size-1\n",
     "  fennic fetch --size-only http://example.org/pub/tools.zip -\n"},
};

}  // namespace

const char* VersionText() {
    return "fennic " FENNIC_VERSION;
}

const char* VersionNumber() {
    return FENNIC_VERSION;
}

void PrintProgramHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: fennic [COMMAND [OPTIONS] ARGUMENTS]\n"
                 "       fennic [URL | PATH]\n"
                 "Looks inside ZIP archives on web and FTP servers without downloading them.\n"
                 "Without a command, the window (it needs a display); an address given to it is\n"
                 "fetched as its \"Get\" does, a local archive listed as \"OpenZip File\" does.\n"
                 "\nCommands:\n");
    for (const Help& h : kHelp) std::fprintf(out, "  %s\n", h.usage);
    std::fprintf(out,
                 "\n\"fennic COMMAND --help\" tells more about a command. --version prints the "
                 "version.\n%s",
                 kExit);
}

bool PrintCommandHelp(const std::string& command, std::FILE* out) {
    for (const Help& h : kHelp) {
        if (command != h.name) continue;
        std::fprintf(out, "usage: %s\n%s\nOptions:\n", h.usage, h.what);
        if (h.options) {
            std::fputs(h.options, out);
        } else {
            const unsigned bit = CommandBitOf(command);
            for (HelpGroup g : {HelpGroup::kOwn, HelpGroup::kRoad, HelpGroup::kClassic})
                PrintOptionLines(bit, g, out);
        }
        std::fputs("  -h, --help              this text\n", out);
        std::fprintf(out, "\nExample:\n%s\n%s", h.example, kExit);
        return true;
    }
    return false;
}

void PrintCommandUsage(const std::string& command, std::FILE* out) {
    for (const Help& h : kHelp) {
        if (command != h.name) continue;
        std::fprintf(out, "usage: %s\n\"fennic %s --help\" lists its options.\n", h.usage, h.name);
    }
}

}  // namespace fennic::cli
