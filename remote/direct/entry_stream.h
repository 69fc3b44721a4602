#pragma once
// Many entries out of few requests: the entries wanted are grouped into ranges (neighbours, and
// entries closer than a gap, share one), and the bytes of a range are cut, as they arrive, into
// each entry's local header and compressed data.

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_directory.h"

namespace fennic::remote {

// One wanted entry: where its local header starts and where the next one (or the directory)
// starts, both in the remote file.
struct PlannedEntry {
    size_t index = 0;
    uint64_t start = 0;
    uint64_t end = 0;
};

struct PlannedRange {
    uint64_t start = 0;
    uint64_t end = 0;                   // exclusive
    std::vector<PlannedEntry> entries;  // in file order
    uint64_t Length() const { return end - start; }
};

// Bytes between two wanted entries below which one range is cheaper than two: a request costs a
// round trip, and this many bytes take about a millisecond on a link of 250 Mbit/s.
constexpr uint64_t kMergeGap = 32 * 1024;

// Where each wanted entry lies (offsets shifted by `shift`, bounded by the next local header or
// the directory at `dirStart`); entries that cannot lie before the directory come back in
// `refused`.
std::vector<PlannedEntry> LocateEntries(const CZipDirectory& dir, const std::vector<size_t>& wanted,
                                        uint64_t shift, uint64_t dirStart,
                                        std::vector<size_t>& refused);

// Groups entries into ranges: sorted by offset, neighbours closer than `gap` share one.
std::vector<PlannedRange> PlanRanges(std::vector<PlannedEntry> entries, uint64_t gap);

// What a range's bytes turn into.
class IEntrySink {
public:
    virtual ~IEntrySink() = default;
    // The entry's local header was read and agrees with its central record; false skips the
    // entry's data.
    virtual bool BeginEntry(const PlannedEntry& entry) = 0;
    // A piece of the entry's compressed data; false skips the rest of it.
    virtual bool EntryData(const uint8_t* data, size_t size) = 0;
    // All compressed data given (after BeginEntry returned true).
    virtual void EndEntry() = 0;
    // The entry's bytes cannot be used (a local header that disagrees, bytes missing).
    virtual void EntryFailed(const PlannedEntry& entry, const std::string& why) = 0;
};

// Cuts the bytes of one range, fed in pieces of any size, into its entries.
class CEntrySplitter {
public:
    CEntrySplitter(const PlannedRange& range, const CZipDirectory& dir, IEntrySink& sink);
    void Feed(const uint8_t* data, size_t size);
    // The range's bytes are all in (or the transfer broke: `complete` false); entries not
    // finished fail.
    void Finish(bool complete, const std::string& why);
    // Nothing was fed and the range goes elsewhere: no entry is reported.
    void Abandon() { m_state = State::kDone; }

private:
    enum class State { kSkip, kHeader, kData, kDone };
    void StartEntry();
    void HeaderReady();
    void EntryDone();

    const PlannedRange& m_range;
    const CZipDirectory& m_dir;
    IEntrySink& m_sink;
    size_t m_next = 0;   // the entry in m_range.entries being read
    uint64_t m_pos = 0;  // absolute offset of the next byte fed
    State m_state = State::kSkip;
    std::vector<uint8_t> m_header;  // the local header gathered so far
    uint64_t m_headerNeed = 0;      // its full length once known
    uint64_t m_dataLeft = 0;
    bool m_wanted = false;  // the sink takes this entry's data
};

}  // namespace fennic::remote
