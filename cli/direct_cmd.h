#pragma once
// The commands on the direct road: `list` and `extract` (an address, http, https or ftp, or a
// local path, read by ranges), `cat` and `get` (entries decompressed), and what they share.

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "remote/direct/direct_road.h"
#include "remote/direct/range_source.h"

namespace fennic::cli {

// Whether the arguments ask for the window's three-transfer road (--classic); the switch is
// taken out of args.
bool TakeClassic(Args& args);
// Says why the window's road does not take an argument that is an option: one of the direct
// road's ("--classic does not take -v") or none at all. Prints nothing for other arguments.
void RefuseClassicOption(const char* command, const std::string& arg);

int DirectList(const Args& args);
int DirectExtract(const Args& args);

// The options of the direct road's commands.
struct RoadOptions {
    remote::SourceOptions source;
    bool json = false;
    char layout = 0;  // list: 'a' aligned, 't' tab-separated, 0 aligned on a terminal
    std::string location;
    std::vector<std::string> rest;  // positional arguments after the location
    std::string output;             // extract -o
    long long index = -1;           // extract --index
    std::string dir;                // get -d
    char overwrite = 0;             // get -o ('o') / -n ('n'); 0: ask when possible
    std::string password;
    bool havePassword = false;
    int connections = 4;
    bool quiet = false;         // -q: errors only
    bool verbose = false;       // -v: also each request
    std::string headerProblem;  // why -H or --user-agent was refused
};

// -q was given: notes that are not errors stay unsaid.
bool Quiet();
// A note that is not an error (a warning, a skipped file): left out with -q.
void Info(const std::string& text);

// Parses a command's arguments; false on a usage error (the usage has been printed).
bool ParseRoadOptions(const Args& args, const std::string& command, RoadOptions& options);
// Prints the command's usage on stderr; returns 2.
int Usage(const std::string& command);
// "fennic: TEXT" on stderr, escaped for a terminal.
void Note(const std::string& text);
// The road's message, unless it only says that a stop signal cancelled it.
void NoteFailure(const Error& error);
// "cannot write stdout: " and the system's reason for err.
std::string StdoutFailure(int err);
// Flushes out (standard output); false after StdoutFailure's message when the flush or an
// earlier write failed.
bool FlushOutput(std::FILE* out);

// Opens the source and reads the archive's directory; null after a message. An archive that
// changed on the server meanwhile is read again from its tail, `restarts` times at most (the
// count left is given back), once in the form without it.
std::unique_ptr<remote::IRangeSource> OpenAndRead(const RoadOptions& options,
                                                  remote::DirectArchive& archive, int& restarts);
std::unique_ptr<remote::IRangeSource> OpenAndRead(const RoadOptions& options,
                                                  remote::DirectArchive& archive);

// Calls `cancel` from a thread of its own once a stop signal arrives: the transfers block on
// the main thread, where the handler only records the signal.
class CancelOnStop {
public:
    explicit CancelOnStop(std::function<void()> cancel);
    ~CancelOnStop();
    CancelOnStop(const CancelOnStop&) = delete;
    CancelOnStop& operator=(const CancelOnStop&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

}  // namespace fennic::cli
