#include "cli/help.h"

#include <cstring>

namespace fennic::cli {
namespace {

constexpr char kRoad[] =
    "  -q, --quiet             errors only\n"
    "  -v, --verbose           also each request: what was asked, the answer, bytes, time\n"
    "  -k, --insecure          do not check the server's certificate (a warning is shown)\n"
    "  --cacert FILE           trust the certificates in FILE instead of the system's\n"
    "  --ftp-active            FTP data connections from the server (PORT/EPRT), not passive\n"
    "  --full-download         a server that ignores byte ranges: fetch the whole archive\n"
    "  --settings-credentials  the port, user and password of the settings, not the address's\n";

// The window's road takes only the options its own parser knows.
constexpr char kClassic[] =
    "  --classic               the window's road: size, last 22 bytes, directory (http, ftp);\n"
    "                          it takes --json, -o, --index and the credentials switches only\n"
    "  --url-credentials       with --classic: the address's port, user and password (default)\n";

constexpr char kGetting[] =
    "  -d DIR                  extract into DIR (made when missing; default: here)\n"
    "  -o, --overwrite         replace existing files without asking\n"
    "  -n, --never-overwrite   keep existing files (the default when nobody can be asked)\n"
    "  --password PW           for encrypted entries (asked for on a terminal otherwise)\n"
    "  --connections N         up to N connections at once, 1 to 4 (default 4)\n";

constexpr char kExit[] =
    "Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted (Ctrl-C).\n";

struct Help {
    const char* name;
    const char* usage;
    const char* what;
    const char* options;
    const char* more;
    const char* example;
    bool classic;  // also runs on the window's road
};

const Help kHelp[] = {
    {"list", "fennic list [OPTIONS] (URL | PATH)",
     "Lists the entries of a ZIP archive on a web or FTP server (http, https, ftp) or on this\n"
     "machine: name, folder flag, size, time, attributes, ratio, CRC and comment. Remotely it\n"
     "asks for the archive's last bytes and, when they do not hold the whole central\n"
     "directory, for the rest of it: one request or two.\n",
     "  --json                  every raw field of each entry, as a JSON array\n"
     "  --table                 aligned columns with a total line (the default on a terminal)\n"
     "  --tsv                   one tab-separated line per entry (the default otherwise)\n",
     kRoad, "  fennic list https://example.org/pub/tools.zip\n", true},
    {"extract", "fennic extract [OPTIONS] (URL | PATH) (ENTRY | --index N) -o FILE",
     "Saves one entry, as stored, as a one-entry ZIP archive fetched with one byte range.\n"
     "FILE \"-\" is standard output.\n",
     "  -o, --output FILE       where the archive goes\n"
     "  --index N               the entry by its place in the list, from 0\n",
     kRoad, "  fennic extract https://example.org/pub/tools.zip docs/readme.txt -o readme.zip\n",
     true},
    {"cat", "fennic cat [OPTIONS] (URL | PATH) ENTRY",
     "Writes one entry's decompressed bytes to standard output, checked against its CRC-32.\n",
     "  --password PW           for an encrypted entry (asked for on a terminal otherwise)\n",
     kRoad, "  fennic cat https://example.org/pub/tools.zip docs/readme.txt | less\n", false},
    {"get", "fennic get [OPTIONS] (URL | PATH) [PATTERN...]",
     "Extracts the entries a pattern names (an exact name, a shell-style glob, a folder's name\n"
     "for everything under it; none: every entry) into a folder, decompressed and checked. No\n"
     "entry can write outside the folder.\n",
     kGetting, kRoad, "  fennic get https://example.org/pub/tools.zip 'docs/*.txt' -d tools\n",
     false},
    {"fetch", "fennic fetch [--size-only | --range START END] URL FILE",
     "Transfers URL (http:// or ftp://) into FILE as the window's road would, replacing FILE\n"
     "only once the transfer has succeeded, and prints the size the server reported (on\n"
     "stderr when FILE is \"-\", standard output). The proxy of the settings applies; user,\n"
     "password and port come from URL.\n",
     "  --size-only             learn the size only; FILE is left empty\n"
     "  --range START END       the bytes START to END, both INCLUSIVE for http and ftp alike\n"
     "  neither                 the whole resource: a size-only run, then 0 to size-1\n",
     "", "  fennic fetch --size-only http://example.org/pub/tools.zip -\n", false},
};

}  // namespace

const char* VersionText() {
    return "fennic " FENNIC_VERSION;
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
        std::fprintf(out, "usage: %s\n%s\nOptions:\n%s%s%s  -h, --help              this text\n",
                     h.usage, h.what, h.options, h.more, h.classic ? kClassic : "");
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
