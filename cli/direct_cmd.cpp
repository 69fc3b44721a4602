#include "cli/direct_cmd.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "app/entry_columns.h"
#include "app/settings.h"
#include "app/text_convert.h"
#include "cli/help.h"
#include "cli/list_cmd.h"
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

bool ParseRoadOptions(const Args& args, const std::string& cmd, RoadOptions& o) {
    const char* command = cmd.c_str();
    const bool getting = cmd == "get" || cmd == "cat";
    bool options = true;
    bool settingsCredentials = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& to) {
            if (++i == args.size()) return false;
            to = args[i];
            return true;
        };
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            if (o.location.empty() && !a.empty())
                o.location = a;
            else
                o.rest.push_back(a);
        } else if (a == "--") {
            options = false;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--tsv" && cmd == "list") {
            o.layout = 't';
        } else if (a == "--table" && cmd == "list") {
            o.layout = 'a';
        } else if (a == "-k" || a == "--insecure") {
            o.source.insecure = true;
        } else if (a == "--cacert") {
            if (!value(o.source.caFile)) return Usage(command), false;
        } else if (a == "--ftp-active") {
            o.source.ftpActive = true;
        } else if (a == "--full-download") {
            o.source.fullDownload = true;
        } else if (a == "--url-credentials") {
            // The address's own credentials are the default here.
        } else if (a == "--settings-credentials") {
            settingsCredentials = true;
        } else if ((a == "-o" || a == "--output") && cmd == "extract") {
            if (!value(o.output)) return Usage(command), false;
        } else if (a == "-d" && getting) {
            if (!value(o.dir)) return Usage(command), false;
        } else if ((a == "-o" || a == "--overwrite") && getting) {
            o.overwrite = 'o';
        } else if ((a == "-n" || a == "--never-overwrite") && getting) {
            o.overwrite = 'n';
        } else if (a == "--password" && getting) {
            if (!value(o.password)) return Usage(command), false;
            o.havePassword = true;
        } else if (a == "--connections" && getting) {
            std::string text;
            if (!value(text) || text.size() != 1 || text[0] < '1' || text[0] > '4')
                return Usage(command), false;
            o.connections = text[0] - '0';
        } else if (a == "--index" && cmd == "extract") {
            std::string text;
            if (!value(text)) return Usage(command), false;
            char* end = nullptr;
            errno = 0;
            o.index = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || o.index < 0 || errno != 0)
                return Usage(command), false;
        } else {
            std::fprintf(stderr, "fennic %s: unknown option '%s'\n", command,
                         TerminalText(a, true).c_str());
            return Usage(command), false;
        }
    }
    if (o.location.empty()) return Usage(command), false;

    CSettings& settings = fennic::Settings();
    settings.LoadSettings();
    const remote::HttpProxyFields proxy = remote::HttpProxyFor(settings);
    if (proxy.accessType == 2 && IsUrl(o.location)) {
        o.source.proxy = proxy.proxy;
        o.source.proxyUser = proxy.user;
        o.source.proxyPassword = proxy.password;
    }
    if (settingsCredentials) {
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
        Info("warning: --insecure: the server's certificate is not checked; anyone on the way "
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

void NoteFailure(const remote::RoadError& error) {
    // A stop asked for by a signal needs no message of its own.
    if (error.kind != remote::RoadFailure::kCancelled || PendingStopSignal() == 0)
        Note(error.text);
}

std::unique_ptr<remote::IRangeSource> OpenAndRead(const RoadOptions& o,
                                                  remote::DirectArchive& archive) {
    remote::RoadError error;
    std::unique_ptr<remote::IRangeSource> source =
        remote::OpenRangeSource(o.location, o.source, error);
    bool read = source != nullptr;
    if (read) {
        remote::IRangeSource& s = *source;
        CancelOnStop stop([&s] { s.Cancel(); });
        read = remote::ReadDirect(*source, archive, error);
    }
    if (!read) {
        NoteFailure(error);
        return nullptr;
    }
    return source;
}

bool TakeClassic(Args& args) {
    const auto it = std::find(args.begin(), args.end(), "--classic");
    if (it == args.end()) return false;
    args.erase(it);
    return true;
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
        PrintEntryJson(*archive.directory, stdout);
    else if (aligned)
        PrintEntryAligned(*archive.directory, archive.comment, stdout);
    else
        PrintEntryTable(*archive.directory, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int DirectExtract(const Args& args) {
    RoadOptions o;
    if (!ParseRoadOptions(args, "extract", o)) return 2;
    const bool haveIndex = o.index >= 0;
    if (o.output.empty() || o.rest.size() > 1 || (o.rest.size() == 1) == haveIndex)
        return Usage("extract");
    remote::DirectArchive archive;
    std::unique_ptr<remote::IRangeSource> source = OpenAndRead(o, archive);
    if (!source) return 1;
    const CZipDirectory& dir = *archive.directory;
    size_t index = 0;
    if (!haveIndex) {
        std::vector<EntryRow> rows;
        rows.reserve(dir.GetCount());
        for (size_t i = 0; i < dir.GetCount(); ++i)
            rows.push_back({FormatEntryName(dir.GetHeader(i))});
        const std::vector<int> found = FindRows(rows, o.rest[0]);
        if (found.empty()) {
            Note("no entry named '" + o.rest[0] + "' in " + source->Name());
            return 1;
        }
        if (found.size() > 1) {
            std::string which;
            for (int i : found) which += (which.empty() ? "" : ", ") + std::to_string(i);
            Note("'" + o.rest[0] + "' names more than one entry (indexes " + which +
                 "); choose one with --index");
            return 1;
        }
        index = static_cast<size_t>(found[0]);
    } else if (static_cast<unsigned long long>(o.index) >= dir.GetCount()) {
        Note("no entry with index " + std::to_string(o.index) + " (the archive has " +
             std::to_string(dir.GetCount()) + ")");
        return 1;
    } else {
        index = static_cast<size_t>(o.index);
    }
    const fs::OutputTarget target = o.output == "-"
                                        ? fs::OutputTarget::Descriptor(STDOUT_FILENO, "stdout")
                                        : fs::OutputTarget::Path(o.output);
    remote::RoadError error;
    remote::IRangeSource& s = *source;
    CancelOnStop stop([&s] { s.Cancel(); });
    if (!remote::SaveDirectEntry(*source, archive, index, target, error)) {
        NoteFailure(error);
        return 1;
    }
    return 0;
}

}  // namespace fennic::cli
