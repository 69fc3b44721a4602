#pragma once
// Fetches the planned ranges of many entries over up to a few connections at once, each range
// streamed through a splitter into the entries' sinks; bytes that came with the tail are taken
// from it without a request.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "remote/direct/direct_road.h"
#include "remote/direct/entry_stream.h"
#include "remote/direct/range_source.h"

namespace fennic::remote {

constexpr int kMaxConnections = 4;

// The shortest part a range is split into for another connection: a connection costs its
// handshakes and a request, several round trips, and kMergeGap bytes take about one.
constexpr uint64_t kMinSplitPart = 4 * kMergeGap;

// Splits the largest ranges at entry boundaries until there are `connections` of them (or no
// range can be cut into two parts of at least kMinSplitPart), so that the connections share
// the work.
std::vector<PlannedRange> SplitForConnections(std::vector<PlannedRange> ranges, int connections);

// The sources of one fetch; Cancel() from any thread stops them all.
class CSourceSet {
public:
    void Add(IRangeSource* source);
    // Before a source added here is destroyed: a later Cancel() no longer reaches it.
    void Remove(IRangeSource* source);
    void Cancel();
    bool Cancelled() const { return m_cancelled; }

private:
    std::mutex m_mutex;
    std::vector<IRangeSource*> m_sources;
    std::atomic<bool> m_cancelled{false};
};

struct FetchOptions {
    int connections = kMaxConnections;
    // A new source for each connection past the first (the first is the listing's own).
    std::function<std::unique_ptr<IRangeSource>(Error&)> openSource;
    // A sink for one connection's entries; called on that connection's thread.
    std::function<std::unique_ptr<IEntrySink>()> makeSink;
    // Bytes of range data in, from any connection's thread.
    std::function<void(uint64_t)> progress;
    // The archive changed on the server (kChanged), from any connection's thread: every
    // connection is stopped and the entries left fail.
    std::function<void()> changed;
};

struct FetchTotals {
    int requests = 0;
    uint64_t bytes = 0;
    int connections = 0;
};

// Runs the ranges; failures of single entries go to their sinks, so the others go on.
FetchTotals FetchRanges(IRangeSource& first, const DirectArchive& archive,
                        std::vector<PlannedRange> ranges, const FetchOptions& options,
                        CSourceSet& sources);

}  // namespace fennic::remote
