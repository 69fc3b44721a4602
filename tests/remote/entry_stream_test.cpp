// How wanted entries become requests: ranges are only split for more connections where each
// part is worth a connection of its own.

#include "remote/direct/entry_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "remote/direct/entry_fetch.h"

namespace fennic::remote {
namespace {

// Entries back to back from offset 0, of the given lengths, as PlanRanges groups them.
std::vector<PlannedRange> Planned(const std::vector<uint64_t>& lengths) {
    std::vector<PlannedEntry> entries;
    uint64_t at = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        entries.push_back({i, at, at + lengths[i]});
        at += lengths[i];
    }
    return PlanRanges(entries, kMergeGap);
}

using SpanList = std::vector<std::pair<uint64_t, uint64_t>>;

SpanList Spans(const std::vector<PlannedRange>& ranges) {
    SpanList spans;
    for (const PlannedRange& r : ranges) spans.emplace_back(r.start, r.end);
    return spans;
}

TEST(SplitForConnections, OnlyPartsWorthAConnectionAreSplitOff) {
    const uint64_t k = 1024;
    // Three small neighbours stay one request.
    EXPECT_EQ(Spans(SplitForConnections(Planned({1 * k, 2 * k, 1 * k}), 4)),
              (SpanList{{0, 4 * k}}));
    // A large entry and a small one: the cut would leave a part too small.
    EXPECT_EQ(Spans(SplitForConnections(Planned({900 * k, 10 * k}), 4)), (SpanList{{0, 910 * k}}));
    // Large neighbours share the connections, cut near the middle.
    EXPECT_EQ(Spans(SplitForConnections(Planned({200 * k, 200 * k, 200 * k, 200 * k, 5 * k}), 4)),
              (SpanList{{0, 200 * k}, {200 * k, 400 * k}, {400 * k, 600 * k}, {600 * k, 805 * k}}));
    // A longer range that cannot be cut leaves the connection to one that can.
    std::vector<PlannedRange> two = Planned({150 * k, 150 * k});
    std::vector<PlannedRange> single = Planned({2000 * k});
    single[0].start += 400 * k;
    single[0].end += 400 * k;
    single[0].entries[0].start += 400 * k;
    single[0].entries[0].end += 400 * k;
    two.push_back(single[0]);
    EXPECT_EQ(Spans(SplitForConnections(two, 4)),
              (SpanList{{0, 150 * k}, {150 * k, 300 * k}, {400 * k, 2400 * k}}));
    // One connection: nothing is cut.
    EXPECT_EQ(SplitForConnections(Planned({200 * k, 200 * k}), 1).size(), 1u);
}

// A stored archive of `count` entries of `size` bytes each, with a comment, made in memory.
std::vector<uint8_t> StoredArchive(int count, size_t size, const std::string& comment) {
    const std::string script =
        "import io, sys, zipfile\n"
        "b = io.BytesIO()\n"
        "with zipfile.ZipFile(b, 'w') as z:\n"
        "    for i in range(" +
        std::to_string(count) +
        "):\n"
        "        z.writestr('e%03d' % i, bytes([i % 251]) * " +
        std::to_string(size) +
        ")\n"
        "    z.comment = sys.argv[1].encode('latin-1')\n"
        "sys.stdout.buffer.write(b.getvalue())\n";
    std::string command = "/usr/bin/python3 -c \"$SCRIPT\" \"$COMMENT\"";
    ::setenv("SCRIPT", script.c_str(), 1);
    ::setenv("COMMENT", comment.c_str(), 1);
    std::vector<uint8_t> out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        uint8_t buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.insert(out.end(), buf, buf + n);
        ::pclose(p);
    }
    return out;
}

// Counts what reaches it.
class CountingSink : public IEntrySink {
public:
    bool BeginEntry(const PlannedEntry&) override { return true; }
    bool EntryData(const uint8_t*, size_t size) override {
        bytes += size;
        return true;
    }
    void EndEntry() override { ++done; }
    void EntryFailed(const PlannedEntry&, const std::string&) override { ++failed; }
    std::atomic<int> done{0}, failed{0};
    std::atomic<uint64_t> bytes{0};
};

// A second connection the server turns away at once.
class RefusedSource : public IRangeSource {
public:
    explicit RefusedSource(std::atomic<int>& tries) : m_tries(tries) {}
    bool ReadTail(uint64_t, std::vector<uint8_t>&, uint64_t&, Error& e) override {
        return Fail(e, ErrorCode::kStatus, "503");
    }
    bool ReadRange(uint64_t, uint64_t, const ByteSink&, Error& e) override {
        ++m_count.requests;
        ++m_tries;
        return Fail(e, ErrorCode::kStatus, "the server answered 503 Service Unavailable");
    }
    std::string Name() const override { return "refused"; }

private:
    std::atomic<int>& m_tries;
};

// The first connection, held back until the others have each tried a range (or 5 s passed),
// so that they really get ranges to refuse.
class HeldSource : public IRangeSource {
public:
    HeldSource(IRangeSource& inner, std::atomic<int>& tries, int wanted)
        : m_inner(inner), m_tries(tries), m_wanted(wanted) {}
    bool ReadTail(uint64_t n, std::vector<uint8_t>& b, uint64_t& s, Error& e) override {
        return m_inner.ReadTail(n, b, s, e);
    }
    bool ReadRange(uint64_t start, uint64_t length, const ByteSink& sink, Error& e) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_tries < m_wanted && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        return m_inner.ReadRange(start, length, sink, e);
    }
    std::string Name() const override { return m_inner.Name(); }

private:
    IRangeSource& m_inner;
    std::atomic<int>& m_tries;
    int m_wanted;
};

TEST(FetchRanges, ConnectionsTheServerRefusesLeaveTheirRangesToTheFirst) {
    // A comment ending in the signature's bytes: not an end record, the real one is found.
    const std::vector<uint8_t> zip = StoredArchive(40, 300 * 1024, "ends in PK\x05\x06 and ten");
    ASSERT_GT(zip.size(), 40u * 300 * 1024);
    auto first = MemoryRangeSource(zip.data(), zip.size(), "mem.zip");
    DirectArchive archive;
    Error error;
    ASSERT_TRUE(ReadDirect(*first, archive, error)) << error.message;
    ASSERT_EQ(archive.directory->GetCount(), 40u);

    std::vector<size_t> all(40);
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<size_t> refused;
    auto planned = LocateEntries(*archive.directory, all, archive.shift, archive.dirStart, refused);
    ASSERT_TRUE(refused.empty());
    CountingSink sink;
    struct Forward : IEntrySink {
        explicit Forward(CountingSink& s) : to(s) {}
        bool BeginEntry(const PlannedEntry& e) override { return to.BeginEntry(e); }
        bool EntryData(const uint8_t* d, size_t n) override { return to.EntryData(d, n); }
        void EndEntry() override { to.EndEntry(); }
        void EntryFailed(const PlannedEntry& e, const std::string& w) override {
            to.EntryFailed(e, w);
        }
        CountingSink& to;
    };
    FetchOptions options;
    options.connections = 4;
    int opened = 0;
    std::atomic<int> tries{0};
    options.openSource = [&opened, &tries](Error&) {
        ++opened;
        return std::unique_ptr<IRangeSource>(new RefusedSource(tries));
    };
    options.makeSink = [&sink] { return std::make_unique<Forward>(sink); };
    CSourceSet sources;
    HeldSource held(*first, tries, 3);
    sources.Add(&held);
    FetchRanges(held, archive, PlanRanges(std::move(planned), kMergeGap), options, sources);
    EXPECT_EQ(opened, 3);
    EXPECT_EQ(tries, 3) << "each refused connection tried one range and stopped";
    EXPECT_EQ(sink.failed, 0);
    EXPECT_EQ(sink.done, 40);
    EXPECT_EQ(sink.bytes, 40u * 300 * 1024);
    // The extra sources are gone: cancelling now reaches only the first.
    sources.Cancel();
}

}  // namespace
}  // namespace fennic::remote
