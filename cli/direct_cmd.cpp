#include "cli/direct_cmd.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "app/entry_columns.h"
#include "app/settings.h"
#include "app/text_convert.h"
#include "cli/help.h"
#include "cli/list_cmd.h"
#include "cli/options.h"
#include "cli/remote_list.h"
#include "cli/stop_signals.h"
#include "remote/direct/direct_road.h"
#include "remote/proxy_fields.h"
#include "remote/remote_session.h"

namespace fennic::cli {
void Note(const std::string& text) {
    std::fprintf(stderr, "fennic: %s\n", TerminalText(text, true).c_str());
}

namespace {
bool g_quiet = false;
}

bool Quiet() {
    return g_quiet;
}

void Info(const std::string& text) {
    if (!g_quiet) Note(text);
}

int Usage(const std::string& command) {
    PrintCommandUsage(command, stderr);
    return 2;
}

namespace {

// One option of the table into o; false for a value it cannot take.
bool ApplyOption(OptionId id, const std::string& value, RoadOptions& o) {
    switch (id) {
        case OptionId::kQuiet:
            o.quiet = true;
            break;
        case OptionId::kVerbose:
            o.verbose = true;
            break;
        case OptionId::kJson:
            o.json = true;
            break;
        case OptionId::kTsv:
            o.layout = 't';
            break;
        case OptionId::kTable:
            o.layout = 'a';
            break;
        case OptionId::kInsecure:
            o.source.insecure = true;
            break;
        case OptionId::kCaCert:
            o.source.caFile = value;
            break;
        case OptionId::kFtpActive:
            o.source.ftpActive = true;
            break;
        case OptionId::kFullDownload:
            o.source.fullDownload = true;
            break;
        case OptionId::kOutput:
            o.output = value;
            break;
        case OptionId::kDir:
            o.dir = value;
            break;
        case OptionId::kOverwrite:
            o.overwrite = 'o';
            break;
        case OptionId::kNeverOverwrite:
            o.overwrite = 'n';
            break;
        case OptionId::kPassword:
            o.password = value;
            o.havePassword = true;
            break;
        case OptionId::kConnections:
            if (value.size() != 1 || value[0] < '1' || value[0] > '4') return false;
            o.connections = value[0] - '0';
            break;
        case OptionId::kHeader:
            if (!remote::CheckRequestHeader(value, o.headerProblem)) return false;
            o.source.headers.push_back(value);
            break;
        case OptionId::kUserAgent:
            if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
                o.headerProblem = "--user-agent takes one line of text";
                return false;
            }
            o.source.userAgent = value;
            break;
        case OptionId::kNetrc:
            o.source.netrc = true;
            break;
        case OptionId::kNetrcFile:
            o.source.netrc = true;
            o.source.netrcFile = value;
            break;
        case OptionId::kRetry:
            if (value.empty() || value.size() > 2 ||
                value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) > 10)
                return false;
            o.source.retries = std::stoi(value);
            break;
        case OptionId::kEndpointUrl:
            o.source.endpointUrl = value;
            break;
        case OptionId::kIndex: {
            char* end = nullptr;
            errno = 0;
            o.index = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || o.index < 0 || errno != 0) return false;
            break;
        }
        case OptionId::kUrlCredentials:
        case OptionId::kSettingsCredentials:
        case OptionId::kClassic:
            break;  // taken before the table is read
    }
    return true;
}

}  // namespace

bool ParseRoadOptions(const Args& args, const std::string& cmd, RoadOptions& o) {
    const char* command = cmd.c_str();
    const unsigned bit = CommandBitOf(cmd);
    bool options = true;
    CredentialChoice choice = CredentialChoice::kAsk;
    o.source.userAgent = std::string("fennic/") + VersionNumber();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool credentials = false;
        if (options && !TakeCredentialChoice(a, choice, credentials)) return Usage(command), false;
        if (credentials) continue;  // the address's own credentials are the default here
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            if (o.location.empty() && !a.empty())
                o.location = a;
            else
                o.rest.push_back(a);
            continue;
        }
        if (a == "--") {
            options = false;
            continue;
        }
        const OptionRow* known = FindOption(a, bit);
        if (!known) {
            std::fprintf(stderr, "fennic %s: unknown option '%s'\n", command,
                         TerminalText(a, true).c_str());
            return Usage(command), false;
        }
        std::string value;
        if (known->value) {
            if (++i == args.size()) return Usage(command), false;
            value = args[i];
        }
        if (!ApplyOption(known->id, value, o)) {
            if (!o.headerProblem.empty()) Note(o.headerProblem);
            return Usage(command), false;
        }
    }
    if (o.location.empty()) return Usage(command), false;

    LoadUserSettings();
    CSettings& settings = fennic::Settings();
    const remote::HttpProxyFields proxy = remote::HttpProxyFor(settings);
    if (proxy.accessType == 2 && IsUrl(o.location)) {
        o.source.proxy = proxy.proxy;
        o.source.proxyUser = proxy.user;
        o.source.proxyPassword = proxy.password;
    }
    if (choice == CredentialChoice::kSettings) {
        o.source.useGivenCredentials = true;
        o.source.user = settings.m_strHttpUsr;
        o.source.password = settings.m_strHttpPwd;
        const int32_t port = AtoiValue(settings.m_strHttpPort);
        if (port > 0 && port <= 0xFFFF) o.source.port = static_cast<uint16_t>(port);
    }
    if (o.quiet && o.verbose) {
        std::fprintf(stderr, "fennic %s: -q and -v exclude each other\n", command);
        return Usage(command), false;
    }
    g_quiet = o.quiet;
    if (o.verbose)
        o.source.log = [](const std::string& line) {
            std::fprintf(stderr, "fennic: %s\n", TerminalText(line).c_str());
        };
    if (o.source.insecure)
        Info(
            "warning: --insecure: the server's certificate is not checked; anyone on the way "
            "can read and change what is fetched");
    if (o.source.fullDownload && ::isatty(2) == 1 && !o.quiet) {
        o.source.progress = [](uint64_t done, uint64_t total) {
            if (total)
                std::fprintf(stderr, "\rfennic: %llu of %llu bytes", (unsigned long long)done,
                             (unsigned long long)total);
            else
                std::fprintf(stderr, "\rfennic: %llu bytes", (unsigned long long)done);
            if (total && done == total) std::fputc('\n', stderr);
        };
    }
    return true;
}

CancelOnStop::CancelOnStop(std::function<void()> cancel)
    : m_thread([this, cancel = std::move(cancel)] {
          std::unique_lock<std::mutex> lock(m_mutex);
          while (!m_done) {
              if (PendingStopSignal() != 0) {
                  cancel();
                  return;
              }
              m_wake.wait_for(lock, std::chrono::milliseconds(20));
          }
      }) {}

CancelOnStop::~CancelOnStop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void NoteFailure(const Error& error) {
    // A stop asked for by a signal needs no message of its own.
    if (error.code != ErrorCode::kCancelled || PendingStopSignal() == 0) Note(error.message);
}

std::string StdoutFailure(int err) {
    return std::string("cannot write stdout: ") + std::strerror(err);
}

bool FlushOutput(std::FILE* out) {
    errno = 0;
    const bool flushed = std::fflush(out) == 0;
    const int err = errno;
    if (flushed && !std::ferror(out)) return true;
    if (PendingStopSignal() == SIGPIPE) return false;  // the reader left: nothing to tell it
    // A failed write leaves its bytes in the buffer, so the flush tries again and fails the
    // same way; only an error flag without a failed flush has lost its reason.
    Note(flushed || err == 0 ? "cannot write stdout: a write failed" : StdoutFailure(err));
    return false;
}

std::unique_ptr<remote::IRangeSource> OpenAndRead(const RoadOptions& o,
                                                  remote::DirectArchive& archive, int& restarts) {
    Error error;
    while (true) {
        std::unique_ptr<remote::IRangeSource> source =
            remote::OpenRangeSource(o.location, o.source, error);
        bool read = source != nullptr;
        if (read) {
            remote::IRangeSource& s = *source;
            CancelOnStop stop([&s] { s.Cancel(); });
            archive = remote::DirectArchive{};
            read = remote::ReadDirect(*source, archive, error);
        }
        if (read) return source;
        if (error.code != ErrorCode::kChanged || restarts == 0) break;
        --restarts;
    }
    NoteFailure(error);
    return nullptr;
}

std::unique_ptr<remote::IRangeSource> OpenAndRead(const RoadOptions& o,
                                                  remote::DirectArchive& archive) {
    int restarts = 1;
    return OpenAndRead(o, archive, restarts);
}

bool TakeClassic(Args& args) {
    const auto it = std::find(args.begin(), args.end(), "--classic");
    if (it == args.end()) return false;
    args.erase(it);
    return true;
}

void RefuseClassicOption(const char* command, const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') return;
    const std::string shown = TerminalText(arg, true);
    if (FindOption(arg, CommandBitOf(command)))
        std::fprintf(stderr, "fennic %s: --classic does not take %s\n", command, shown.c_str());
    else
        std::fprintf(stderr, "fennic %s: unknown option '%s'\n", command, shown.c_str());
}

int DirectList(const Args& args) {
    RoadOptions o;
    if (!ParseRoadOptions(args, "list", o)) return 2;
    if (!o.rest.empty()) {
        std::fprintf(stderr, "fennic list: one archive at a time\n");
        return 2;
    }
    remote::DirectArchive archive;
    if (!OpenAndRead(o, archive)) return 1;
    const bool aligned = o.layout == 'a' || (o.layout == 0 && ::isatty(1) == 1);
    if (o.json)
        PrintEntryJson(*archive.directory, archive.comment, stdout);
    else if (aligned)
        PrintEntryAligned(*archive.directory, archive.comment, stdout);
    else
        PrintEntryTsv(*archive.directory, stdout);
    return FlushOutput(stdout) ? 0 : 1;
}

int DirectExtract(const Args& args) {
    RoadOptions o;
    if (!ParseRoadOptions(args, "extract", o)) return 2;
    const bool haveIndex = o.index >= 0;
    if (o.output.empty() || o.rest.size() > 1 || (o.rest.size() == 1) == haveIndex)
        return Usage("extract");
    // A change seen by the entry's request is before any byte of it: the run starts over.
    Error error;
    for (int restarts = 1;; --restarts) {
        remote::DirectArchive archive;
        std::unique_ptr<remote::IRangeSource> source = OpenAndRead(o, archive, restarts);
        if (!source) return 1;
        const CZipDirectory& dir = *archive.directory;
        const Result<size_t> found = FindEntry(
            NameRows(dir), {haveIndex, haveIndex ? "" : o.rest[0], o.index}, source->Name());
        if (!found) {
            Note(found.error().message);
            return 1;
        }
        const fs::OutputTarget target = o.output == "-"
                                            ? fs::OutputTarget::Descriptor(STDOUT_FILENO, "stdout")
                                            : fs::OutputTarget::Path(o.output);
        remote::IRangeSource& s = *source;
        CancelOnStop stop([&s] { s.Cancel(); });
        if (remote::SaveDirectEntry(*source, archive, found.value(), target, error)) return 0;
        if (error.code != ErrorCode::kChanged || restarts <= 0) break;
    }
    NoteFailure(error);
    return 1;
}

}  // namespace fennic::cli
