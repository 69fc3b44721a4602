// How wanted entries become requests: ranges are only split for more connections where each
// part is worth a connection of its own.

#include "remote/entry_stream.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "remote/entry_fetch.h"

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

}  // namespace
}  // namespace fennic::remote
