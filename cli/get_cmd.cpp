// `fennic cat` and `fennic get`: entries decompressed, checked against the directory, streamed
// from the ranges they were fetched with into their files (or standard output).

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/entry_columns.h"
#include "app/text_convert.h"
#include "cli/commands.h"
#include "cli/direct_cmd.h"
#include "cli/remote_list.h"
#include "cli/stop_signals.h"
#include "decompress/entry_decoder.h"
#include "extract/destination.h"
#include "fs/file_io.h"
#include "fs/unique_fd.h"
#include "remote/direct/entry_fetch.h"
#include "remote/direct/entry_select.h"

namespace fennic::cli {
namespace {

// The password from a terminal, not echoed; empty when there is none to ask.
std::string AskPassword() {
    const fs::UniqueFd owner(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!owner) return {};
    const int tty = owner.Get();
    termios old = {};
    const bool term = ::tcgetattr(tty, &old) == 0;
    if (term) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSANOW, &quiet);
    }
    static const char kPrompt[] = "password: ";
    fs::WriteAll(tty, kPrompt, sizeof kPrompt - 1);
    std::string line;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n' && line.size() < 4096) line += c;
    if (term) ::tcsetattr(tty, TCSANOW, &old);
    fs::WriteAll(tty, "\n", 1);
    return line;
}

// One line on stderr, rewritten: entries done of all, bytes, rate, time left.
class ProgressLine {
public:
    ProgressLine(bool show, size_t entries, uint64_t bytes)
        : m_show(show),
          m_entries(entries),
          m_bytes(bytes),
          m_start(std::chrono::steady_clock::now()) {}
    ~ProgressLine() {
        if (m_drawn) std::fputc('\n', stderr);
    }
    void Bytes(uint64_t n) {
        m_doneBytes += n;
        Draw(false);
    }
    void Entry() {
        ++m_doneEntries;
        Draw(false);
    }
    void Final() { Draw(true); }

private:
    void Draw(bool force) {
        if (!m_show) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - m_last < std::chrono::milliseconds(100)) return;
        m_last = now;
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        const uint64_t done = m_doneBytes;
        const double rate = seconds > 0 ? done / seconds : 0;
        const double left = rate > 0 && m_bytes > done ? (m_bytes - done) / rate : 0;
        std::fprintf(stderr, "\r%zu/%zu entries, %.1f of %.1f MB, %.1f MB/s, %.0f s left   ",
                     static_cast<size_t>(m_doneEntries), m_entries, done / 1e6, m_bytes / 1e6,
                     rate / 1e6, left);
        m_drawn = true;
    }

    bool m_show;
    size_t m_entries;
    uint64_t m_bytes;
    std::chrono::steady_clock::time_point m_start, m_last;
    std::atomic<uint64_t> m_doneBytes{0};
    std::atomic<size_t> m_doneEntries{0};
    std::mutex m_mutex;
    bool m_drawn = false;
};

// What all connections share while entries are written.
struct Job {
    const CZipDirectory* dir = nullptr;
    std::string password;
    extract::Destination* destination = nullptr;  // get
    bool toStdout = false;                        // cat
    std::mutex mutex;                             // the destination and stdout
    std::atomic<int> failed{0};
    std::atomic<int> written{0};
    std::atomic<bool> wrote{false};    // a byte went out: a restart would repeat it
    std::atomic<bool> changed{false};  // the archive changed under the run: no more messages
    ProgressLine* progress = nullptr;
};

class GetSink : public remote::IEntrySink {
public:
    explicit GetSink(Job& job) : m_job(job) {}

    bool BeginEntry(const remote::PlannedEntry& entry) override {
        const CZipEntryHeader& header = m_job.dir->GetHeader(entry.index);
        m_target = extract::TargetOf(header, header.IsDirectory());
        m_link = !m_job.toStdout && extract::IsSymlink(m_target);
        m_linkTarget.clear();
        decompress::EntryFacts facts;
        std::string message;
        if (!decompress::FactsFromHeader(header, facts, message)) return Fail(message);
        if (!m_job.toStdout && !m_link) {
            std::string why;
            bool skipped = false;
            {
                std::lock_guard<std::mutex> lock(m_job.mutex);
                m_writer = m_job.destination->BeginFile(m_target, why, &skipped);
            }
            if (!m_writer) {
                if (skipped) {
                    Info(why);
                    return false;
                }
                return Fail(why, false);
            }
        }
        decompress::DecodeStatus status = decompress::DecodeStatus::kOk;
        m_decoder = decompress::EntryDecoder::Create(
            facts, m_job.password, [this](const uint8_t* p, size_t n) { return Output(p, n); },
            status, message);
        if (!m_decoder) return Fail(message);
        return true;
    }

    bool EntryData(const uint8_t* data, size_t size) override {
        if (m_decoder->Feed(data, size) == decompress::DecodeStatus::kOk) return true;
        Fail(m_decoder->Message());
        return false;
    }

    void EndEntry() override {
        if (m_decoder->Finish() != decompress::DecodeStatus::kOk) {
            Fail(m_decoder->Message());
            return;
        }
        std::string why;
        if (m_link) {
            std::lock_guard<std::mutex> lock(m_job.mutex);
            bool skipped = false;
            if (!m_job.destination->MakeSymlink(m_target, m_linkTarget, why, &skipped)) {
                if (skipped)
                    Info(why);
                else
                    Fail(why, false);
                return;
            }
        } else if (m_writer && !m_writer->Commit(why)) {
            Fail(why, false);
            return;
        }
        m_writer.reset();
        m_decoder.reset();
        m_job.wrote = true;
        ++m_job.written;
        m_job.progress->Entry();
    }

    void EntryFailed(const remote::PlannedEntry& entry, const std::string& why) override {
        m_target = extract::TargetOf(m_job.dir->GetHeader(entry.index), false);
        Fail(why);
    }

private:
    bool Output(const uint8_t* data, size_t size) {
        if (m_job.toStdout) {
            std::lock_guard<std::mutex> lock(m_job.mutex);
            // Unbuffered, so that a failure is met with its reason at the piece it hit.
            m_job.wrote = true;
            if (const int err = fs::WriteAll(STDOUT_FILENO, data, size))
                return Refuse(StdoutFailure(err), false);
            return true;
        }
        if (m_link) {
            if (m_linkTarget.size() + size > extract::kMaxLinkTarget) {
                return Refuse("the link's target is too long (more than " +
                                  std::to_string(extract::kMaxLinkTarget) + " bytes)",
                              true);
            }
            m_linkTarget.append(reinterpret_cast<const char*>(data), size);
            return true;
        }
        std::string why;
        if (m_writer->Write(data, size, why)) return true;
        return Refuse(why, false);  // the writer's words name the entry
    }

    // Keeps why the output refused a piece: the decoder only knows that it did.
    bool Refuse(std::string why, bool named) {
        m_outputError = std::move(why);
        m_outputNamed = named;
        return false;
    }

    // Reports the entry's failure, its name in front unless `name` says the text holds it; an
    // output's refusal replaces the decoder's words. The partial file goes with its writer.
    bool Fail(const std::string& why, bool name = true) {
        const bool output = !m_outputError.empty();
        std::string text = output ? m_outputError : why;
        if (output ? m_outputNamed : name) text = extract::ShownName(m_target) + ": " + text;
        // After a stop signal or a change every entry left fails alike; one line per entry
        // says nothing.
        if (PendingStopSignal() == 0 && !m_job.changed) Note(text);
        m_outputError.clear();
        m_writer.reset();
        m_decoder.reset();
        ++m_job.failed;
        m_job.progress->Entry();
        return false;
    }

    Job& m_job;
    extract::EntryTarget m_target;
    std::unique_ptr<extract::FileWriter> m_writer;
    std::unique_ptr<decompress::EntryDecoder> m_decoder;
    bool m_link = false;
    std::string m_linkTarget;
    std::string m_outputError;   // why the output refused, when it did
    bool m_outputNamed = false;  // m_outputError wants the entry's name in front
};

int Ask(const std::string& shownPath) {
    std::fprintf(stderr, "replace %s? [y]es, [n]o, [A]ll, [N]one: ", shownPath.c_str());
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return -1;
    return line[0];
}

// The entries the arguments name: cat's one, or get's patterns (none: all); false after a
// message.
bool ChooseEntries(const RoadOptions& o, const CZipDirectory& dir, const std::string& name,
                   bool cat, std::vector<size_t>& chosen) {
    if (cat) {
        const Result<size_t> found = FindEntry(NameRows(dir), {false, o.rest[0], -1, false}, name);
        if (!found) {
            Note(found.error().message);
            return false;
        }
        chosen.push_back(found.value());
        return true;
    }
    std::vector<std::string> unmatched;
    chosen = remote::SelectEntries(dir, o.rest, unmatched);
    for (const std::string& u : unmatched) Note("no entry matches '" + u + "'");
    return unmatched.empty();
}

// get's folder, with the chosen folders made in it first (they need no bytes); null after a
// message. A folder that cannot be made counts in failed.
std::unique_ptr<extract::Destination> OpenDestination(const RoadOptions& o,
                                                      const CZipDirectory& dir,
                                                      const std::vector<size_t>& chosen,
                                                      int& failed) {
    const extract::Existing existing = o.overwrite == 'o'   ? extract::Existing::kOverwrite
                                       : o.overwrite == 'n' ? extract::Existing::kNever
                                       : ::isatty(0) == 1   ? extract::Existing::kAsk
                                                            : extract::Existing::kNever;
    std::string error;
    std::unique_ptr<extract::Destination> destination =
        extract::Destination::Open(o.dir, existing, Ask, error);
    if (!destination) {
        Note(error);
        return nullptr;
    }
    for (size_t i : chosen) {
        const CZipEntryHeader& h = dir.GetHeader(i);
        if (!h.IsDirectory()) continue;
        if (h.UncompressedSize() > 0) {
            Info(extract::ShownName(extract::TargetOf(h, true)) + ": a folder entry holding " +
                 std::to_string(h.UncompressedSize()) +
                 " bytes: the folder is made, its data ignored");
        }
        std::string why;
        if (!destination->MakeDirectory(extract::TargetOf(h, true), why)) {
            Note(why);
            ++failed;
        }
    }
    return destination;
}

// Of the entries that go to one path, the last in the directory is written and each earlier
// one is said and left out: what a run leaves must not hang on which connection ends first.
std::vector<size_t> LastOfEachPath(const CZipDirectory& dir,
                                   const extract::Destination& destination,
                                   const std::vector<size_t>& entries) {
    std::vector<std::string> paths(entries.size());
    std::unordered_map<std::string, size_t> last;
    for (size_t k = 0; k < entries.size(); ++k) {
        std::string why;  // a refused name is reported when its turn comes
        paths[k] = destination.SafePath(extract::TargetOf(dir.GetHeader(entries[k]), false), why);
        if (paths[k].empty()) continue;
        size_t& at = last.try_emplace(paths[k], entries[k]).first->second;
        at = std::max(at, entries[k]);
    }
    std::vector<size_t> kept;
    for (size_t k = 0; k < entries.size(); ++k) {
        if (!paths[k].empty() && last[paths[k]] != entries[k]) {
            Info(extract::ShownName(extract::TargetOf(dir.GetHeader(entries[k]), false)) +
                 ": skipped: a later entry of the same name (index " +
                 std::to_string(last[paths[k]]) + ") is written");
            continue;
        }
        kept.push_back(entries[k]);
    }
    return kept;
}

// One run from the tail to the last entry. `again`: the archive changed on the server before
// anything was written, so the run may start over.
int Fetch(const RoadOptions& o, bool cat, int& restarts, bool& again) {
    again = false;
    remote::DirectArchive archive;
    std::unique_ptr<remote::IRangeSource> source = OpenAndRead(o, archive, restarts);
    if (!source) return 1;
    const CZipDirectory& dir = *archive.directory;

    std::vector<size_t> chosen;
    if (!ChooseEntries(o, dir, source->Name(), cat, chosen)) return 1;

    Job job;
    job.dir = &dir;
    job.toStdout = cat;
    std::unique_ptr<extract::Destination> destination;
    int failed = 0;
    // Folders need no bytes: made first. Encrypted entries need a password.
    std::vector<size_t> withData;
    bool encrypted = false;
    for (size_t i : chosen) {
        const CZipEntryHeader& h = dir.GetHeader(i);
        encrypted = encrypted || h.IsEncrypted();
        if (!cat && h.IsDirectory()) continue;
        withData.push_back(i);
    }
    if (!cat) {
        destination = OpenDestination(o, dir, chosen, failed);
        if (!destination) return 1;
        job.destination = destination.get();
        withData = LastOfEachPath(dir, *destination, withData);
    }
    job.password = o.password;
    if (encrypted && !o.havePassword) job.password = AskPassword();

    std::vector<size_t> refused;
    std::vector<remote::PlannedEntry> planned =
        remote::LocateEntries(dir, withData, archive.shift, archive.dirStart, refused);
    for (size_t i : refused) {
        Note(extract::ShownName(extract::TargetOf(dir.GetHeader(i), false)) +
             ": its local header offset lies at or behind the central directory");
        ++failed;
    }
    uint64_t total = 0;
    for (const auto& p : planned) total += p.end - p.start;
    ProgressLine progress(::isatty(2) == 1 && !cat && !o.quiet && !o.verbose, planned.size(),
                          total);
    job.progress = &progress;

    remote::FetchOptions fetch;
    // A whole archive fetched because the server ignores ranges lives with the first source.
    fetch.connections = cat || o.source.fullDownload ? 1 : o.connections;
    remote::SourceOptions extraOptions = o.source;
    extraOptions.progress = nullptr;  // one progress line, get's own
    // Opened one after another while the first connection waits.
    fetch.openSource = [&o, &source, extraOptions](Error& error) mutable {
        if (!extraOptions.expect) {
            if (!source->CompleteVersion(error)) return std::unique_ptr<remote::IRangeSource>();
            extraOptions.expect = source->Version();
        }
        return remote::OpenRangeSource(o.location, extraOptions, error);
    };
    fetch.makeSink = [&job] { return std::make_unique<GetSink>(job); };
    fetch.progress = [&progress](uint64_t n) { progress.Bytes(n); };
    fetch.changed = [&job] { job.changed = true; };
    remote::CSourceSet sources;
    sources.Add(source.get());
    {
        CancelOnStop stop([&sources] { sources.Cancel(); });
        remote::FetchRanges(*source, archive,
                            remote::PlanRanges(std::move(planned), remote::kMergeGap), fetch,
                            sources);
    }
    progress.Final();
    if (destination) {
        std::string why;
        if (!destination->Finish(why)) {
            Note(why);
            ++failed;
        }
    }
    if (cat && !FlushOutput(stdout)) ++failed;
    if (job.changed) {
        again = !job.wrote && restarts > 0;
        if (!again) Note(remote::kArchiveChanged);
        return 1;
    }
    return failed + job.failed == 0 ? 0 : 1;
}

int Run(const Args& args, bool cat) {
    RoadOptions o;
    if (!ParseRoadOptions(args, cat ? "cat" : "get", o)) return 2;
    if (cat && o.rest.size() != 1) return Usage("cat");
    int restarts = 1;
    bool again = false;
    int status = Fetch(o, cat, restarts, again);
    if (again) status = Fetch(o, cat, --restarts, again);
    return status;
}

}  // namespace

int CmdCat(const Args& args) {
    return Run(args, true);
}

int CmdGet(const Args& args) {
    return Run(args, false);
}

}  // namespace fennic::cli
