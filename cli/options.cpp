#include "cli/options.h"

#include <cstring>

namespace fennic::cli {
namespace {

constexpr unsigned kGetting = kCat | kGet;
constexpr unsigned kClassicCommands = kList | kExtract;

const OptionRow kOptions[] = {
    {OptionId::kJson, nullptr, "--json", nullptr, kRoadCommands, kList, HelpGroup::kOwn,
     "every raw field of each entry, in one JSON object"},
    {OptionId::kTable, nullptr, "--table", nullptr, kList, kList, HelpGroup::kOwn,
     "aligned columns with a total line (the default on a terminal)"},
    {OptionId::kTsv, nullptr, "--tsv", nullptr, kList, kList, HelpGroup::kOwn,
     "one tab-separated line per entry (the default otherwise)"},
    {OptionId::kOutput, "-o", "--output", "FILE", kExtract, kExtract, HelpGroup::kOwn,
     "where the archive goes"},
    {OptionId::kIndex, nullptr, "--index", "N", kExtract, kExtract, HelpGroup::kOwn,
     "the entry by its place in the list, from 0"},
    {OptionId::kDir, "-d", nullptr, "DIR", kGetting, kGet, HelpGroup::kOwn,
     "extract into DIR (made when missing; default: here)"},
    {OptionId::kOverwrite, "-o", "--overwrite", nullptr, kGetting, kGet, HelpGroup::kOwn,
     "replace existing files without asking"},
    {OptionId::kNeverOverwrite, "-n", "--never-overwrite", nullptr, kGetting, kGet, HelpGroup::kOwn,
     "keep existing files (the default when nobody can be asked)"},
    {OptionId::kPassword, nullptr, "--password", "PW", kGetting, kGet, HelpGroup::kOwn,
     "for encrypted entries (asked for on a terminal otherwise)"},
    {OptionId::kPassword, nullptr, "--password", "PW", 0, kCat, HelpGroup::kOwn,
     "for an encrypted entry (asked for on a terminal otherwise)"},
    {OptionId::kConnections, nullptr, "--connections", "N", kGetting, kGet, HelpGroup::kOwn,
     "up to N connections at once, 1 to 4 (default 4)"},
    {OptionId::kQuiet, "-q", "--quiet", nullptr, kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "errors only"},
    {OptionId::kVerbose, "-v", "--verbose", nullptr, kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "also each request: what was asked, the answer, bytes, time"},
    {OptionId::kInsecure, "-k", "--insecure", nullptr, kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "do not check the server's certificate (a warning is shown)"},
    {OptionId::kCaCert, nullptr, "--cacert", "FILE", kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "trust the certificates in FILE instead of the system's"},
    {OptionId::kFtpActive, nullptr, "--ftp-active", nullptr, kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "FTP data connections from the server (PORT/EPRT), not passive"},
    {OptionId::kFullDownload, nullptr, "--full-download", nullptr, kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "a server that ignores byte ranges: fetch the whole archive"},
    {OptionId::kHeader, "-H", "--header", "LINE", kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "send the header LINE ('Name: value') with every HTTP request;\nrepeatable"},
    {OptionId::kUserAgent, nullptr, "--user-agent", "TEXT", kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "the agent text HTTP requests send (default fennic/VERSION)"},
    {OptionId::kNetrc, nullptr, "--netrc", nullptr, kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "HTTP credentials from ~/.netrc for a server the address names none for"},
    {OptionId::kNetrcFile, nullptr, "--netrc-file", "FILE", kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "the same from FILE"},
    {OptionId::kRetry, nullptr, "--retry", "N", kRoadCommands, kRoadCommands, HelpGroup::kRoad,
     "ask again up to N times (0 to 10, default 3) after 429, 502, 503\nor 504, and for the "
     "rest of a range cut off on the way"},
    {OptionId::kEndpointUrl, nullptr, "--endpoint-url", "URL", kRoadCommands, kRoadCommands,
     HelpGroup::kRoad, "s3:// addresses: the S3 server at URL (path-style), not AWS"},
    {OptionId::kSettingsCredentials, nullptr, "--settings-credentials", nullptr, kRoadCommands,
     kRoadCommands, HelpGroup::kRoad,
     "the port, user and password of the settings, not the address's"},
    // --classic is taken out before the table is read: it picks the other road.
    {OptionId::kClassic, nullptr, "--classic", nullptr, 0, kClassicCommands, HelpGroup::kClassic,
     "the window's road: size, last 22 bytes, directory (http, ftp);\n"
     "it takes --json, -o, --index and the credentials switches only"},
    {OptionId::kUrlCredentials, nullptr, "--url-credentials", nullptr, kRoadCommands,
     kClassicCommands, HelpGroup::kClassic,
     "with --classic: the address's port, user and password (default)"},
};

constexpr int kNameColumn = 24;

}  // namespace

unsigned CommandBitOf(const std::string& command) {
    if (command == "list") return kList;
    if (command == "extract") return kExtract;
    if (command == "cat") return kCat;
    if (command == "get") return kGet;
    return 0;
}

const OptionRow* FindOption(const std::string& arg, unsigned command) {
    for (const OptionRow& o : kOptions) {
        if (!(o.parsedFor & command)) continue;
        if ((o.shortName && arg == o.shortName) || (o.longName && arg == o.longName)) return &o;
    }
    return nullptr;
}

void PrintOptionLines(unsigned command, HelpGroup group, std::FILE* out) {
    for (const OptionRow& o : kOptions) {
        if (o.group != group || !(o.shownFor & command)) continue;
        std::string names = o.shortName ? o.shortName : "";
        if (o.longName) names += (names.empty() ? "" : ", ") + std::string(o.longName);
        if (o.value) names += std::string(" ") + o.value;
        std::fprintf(out, "  %-*s", kNameColumn, names.c_str());
        for (const char* p = o.help; *p; ++p) {
            std::fputc(*p, out);
            if (*p == '\n') std::fprintf(out, "  %-*s", kNameColumn, "");
        }
        std::fputc('\n', out);
    }
}

}  // namespace fennic::cli
