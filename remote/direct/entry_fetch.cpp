#include "remote/direct/entry_fetch.h"

#include <algorithm>
#include <thread>

namespace fennic::remote {

namespace {

// The entry boundary nearest the middle of a range, or 0 when it has none that leaves both
// parts at least kMinSplitPart long (the one nearest the middle leaves the shorter part longest).
size_t MiddleCut(const PlannedRange& r) {
    const uint64_t middle = r.start + r.Length() / 2;
    const auto distance = [middle](uint64_t x) { return x > middle ? x - middle : middle - x; };
    size_t cut = 0;
    for (size_t i = 1; i < r.entries.size(); ++i) {
        if (cut == 0 || distance(r.entries[i].start) < distance(r.entries[cut].start)) cut = i;
    }
    if (cut == 0) return 0;
    const uint64_t at = r.entries[cut].start;
    return at - r.start >= kMinSplitPart && r.end - at >= kMinSplitPart ? cut : 0;
}

}  // namespace

std::vector<PlannedRange> SplitForConnections(std::vector<PlannedRange> ranges, int connections) {
    while (static_cast<int>(ranges.size()) < connections) {
        size_t which = ranges.size(), cut = 0;
        for (size_t i = 0; i < ranges.size(); ++i) {
            const size_t c = MiddleCut(ranges[i]);
            if (c != 0 && (which == ranges.size() || ranges[i].Length() > ranges[which].Length())) {
                which = i;
                cut = c;
            }
        }
        if (which == ranges.size()) break;
        PlannedRange& largest = ranges[which];
        PlannedRange second;
        second.entries.assign(largest.entries.begin() + static_cast<std::ptrdiff_t>(cut),
                              largest.entries.end());
        largest.entries.resize(cut);
        second.start = second.entries.front().start;
        second.end = largest.end;
        largest.end = second.start;
        ranges.push_back(std::move(second));
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const PlannedRange& a, const PlannedRange& b) { return a.start < b.start; });
    return ranges;
}

void CSourceSet::Add(IRangeSource* source) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sources.push_back(source);
    if (m_cancelled) source->Cancel();
}

void CSourceSet::Remove(IRangeSource* source) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sources.erase(std::remove(m_sources.begin(), m_sources.end(), source), m_sources.end());
}

void CSourceSet::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    for (IRangeSource* s : m_sources) s->Cancel();
}

namespace {

// One range through its splitter: the part before the tail fetched, the rest from the tail.
// With `mayRetry`, a range that failed before its first byte is left untouched (false) for
// another connection: a server may refuse a second connection and serve the first.
bool RunRange(IRangeSource& source, const DirectArchive& a, const PlannedRange& range,
              const CZipDirectory& dir, IEntrySink& sink, const FetchOptions& options,
              CSourceSet& sources, bool mayRetry) {
    CEntrySplitter splitter(range, dir, sink);
    const uint64_t fromTail = std::max(range.start, std::min(range.end, a.tailStart));
    bool complete = true;
    uint64_t got = 0;
    Error error;
    if (fromTail > range.start) {
        complete = source.ReadRange(
            range.start, fromTail - range.start,
            [&](const uint8_t* p, size_t n) {
                got += n;
                splitter.Feed(p, n);
                if (options.progress) options.progress(n);
                return !sources.Cancelled();
            },
            error);
    }
    if (error.code == ErrorCode::kChanged) {
        // No byte of another version is taken: the whole fetch stops.
        if (options.changed) options.changed();
        sources.Cancel();
    } else if (!complete && got == 0 && mayRetry && error.code != ErrorCode::kCancelled &&
               !sources.Cancelled()) {
        splitter.Abandon();
        return false;
    }
    if (complete && range.end > fromTail) {
        const size_t n = static_cast<size_t>(range.end - fromTail);
        splitter.Feed(a.tail.data() + (fromTail - a.tailStart), n);
        if (options.progress) options.progress(n);
    }
    splitter.Finish(complete, error.message);
    return true;
}

}  // namespace

FetchTotals FetchRanges(IRangeSource& first, const DirectArchive& archive,
                        std::vector<PlannedRange> ranges, const FetchOptions& options,
                        CSourceSet& sources) {
    // Ranges the tail holds need no connection: they go on this thread, last, so that an
    // answer that shows another version stops the run before any of them is written.
    std::vector<PlannedRange> remote, held;
    for (PlannedRange& r : ranges) (r.start >= archive.tailStart ? held : remote).push_back(r);
    const auto runHeld = [&] {
        std::unique_ptr<IEntrySink> local = options.makeSink();
        for (const PlannedRange& r : held) {
            if (sources.Cancelled())
                CEntrySplitter(r, *archive.directory, *local).Finish(false, "cancelled");
            else
                RunRange(first, archive, r, *archive.directory, *local, options, sources, false);
        }
    };
    FetchTotals totals;
    if (remote.empty()) {
        runHeld();
        return totals;
    }

    const int wanted = std::max(1, std::min(options.connections, kMaxConnections));
    remote = SplitForConnections(std::move(remote), wanted);
    const int workers = std::min<int>(wanted, static_cast<int>(remote.size()));
    // Larger ranges first, so that the last one to finish is a small one.
    std::vector<size_t> order(remote.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return remote[x].Length() > remote[y].Length(); });
    std::atomic<size_t> next{0};
    std::mutex totalsMutex;
    const TransferCount firstBefore = first.Count();

    std::vector<size_t> retry;  // ranges an extra connection could not even start
    auto work = [&](IRangeSource* source, bool extraConnection) {
        std::unique_ptr<IEntrySink> sink = options.makeSink();
        for (size_t k; (k = next.fetch_add(1)) < order.size();) {
            const PlannedRange& r = remote[order[k]];
            if (sources.Cancelled()) {
                CEntrySplitter(r, *archive.directory, *sink).Finish(false, "cancelled");
                continue;
            }
            if (!RunRange(*source, archive, r, *archive.directory, *sink, options, sources,
                          extraConnection)) {
                // This connection is of no use: its range goes to the first, it stops.
                std::lock_guard<std::mutex> lock(totalsMutex);
                retry.push_back(order[k]);
                return;
            }
        }
    };
    std::vector<std::unique_ptr<IRangeSource>> extra;
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i) {
        Error error;
        std::unique_ptr<IRangeSource> s = options.openSource ? options.openSource(error) : nullptr;
        if (!s && error.code == ErrorCode::kChanged) {
            if (options.changed) options.changed();
            sources.Cancel();
        }
        if (!s) break;  // fewer connections then; the first carries the rest
        sources.Add(s.get());
        extra.push_back(std::move(s));
    }
    for (auto& s : extra) threads.emplace_back(work, s.get(), true);
    work(&first, false);
    for (std::thread& t : threads) t.join();
    if (!retry.empty()) {
        std::unique_ptr<IEntrySink> sink = options.makeSink();
        for (size_t k : retry)
            RunRange(first, archive, remote[k], *archive.directory, *sink, options, sources, false);
    }
    runHeld();

    totals.connections = 1 + static_cast<int>(extra.size());
    totals.requests = first.Count().requests - firstBefore.requests;
    totals.bytes = first.Count().bytes - firstBefore.bytes;
    for (const auto& s : extra) {
        totals.requests += s->Count().requests;
        totals.bytes += s->Count().bytes;
        sources.Remove(s.get());
    }
    return totals;
}

}  // namespace fennic::remote
