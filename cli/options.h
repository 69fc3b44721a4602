#pragma once
// The options of the direct road's commands in one table: it drives their parsing and their
// --help lines (which the manual page and the completion are checked against).

#include <cstdio>
#include <string>

namespace fennic::cli {

// Which commands an option is for, as bits.
enum CommandBit : unsigned {
    kList = 1,
    kExtract = 2,
    kCat = 4,
    kGet = 8,
    kRoadCommands = kList | kExtract | kCat | kGet,
};
unsigned CommandBitOf(const std::string& command);  // 0 for a command not on the road

enum class OptionId {
    kQuiet,
    kVerbose,
    kJson,
    kTsv,
    kTable,
    kInsecure,
    kCaCert,
    kFtpActive,
    kFullDownload,
    kUrlCredentials,
    kSettingsCredentials,
    kClassic,
    kOutput,
    kIndex,
    kDir,
    kOverwrite,
    kNeverOverwrite,
    kPassword,
    kConnections,
    kHeader,
    kUserAgent,
    kNetrc,
    kNetrcFile,
    kRetry,
    kEndpointUrl,
};

// Where an option's help line stands: the command's own first, the road's, then the window's.
enum class HelpGroup { kOwn, kRoad, kClassic };

struct OptionRow {
    OptionId id;
    const char* shortName;  // "-q", or null
    const char* longName;   // "--quiet", or null
    const char* value;      // "FILE" for an option that takes one, or null
    unsigned parsedFor;     // the commands that accept it
    unsigned shownFor;      // the commands whose --help lists it
    HelpGroup group;
    const char* help;  // lines after the first start with "\n"
};

// The option `arg` of `command`, or null when the command has none of that name.
const OptionRow* FindOption(const std::string& arg, unsigned command);
// The help lines of one group of the command's options.
void PrintOptionLines(unsigned command, HelpGroup group, std::FILE* out);

}  // namespace fennic::cli
