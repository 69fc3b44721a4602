#include "remote/direct/entry_stream.h"

#include <algorithm>

#include "remote/entry_archive.h"

namespace fennic::remote {

std::vector<PlannedEntry> LocateEntries(const CZipDirectory& dir, const std::vector<size_t>& wanted,
                                        uint64_t shift, uint64_t dirStart,
                                        std::vector<size_t>& refused) {
    const std::vector<uint64_t> starts = dir.LocalHeaderOffsets(shift);
    std::vector<uint64_t> sorted = starts;
    std::sort(sorted.begin(), sorted.end());
    std::vector<PlannedEntry> out;
    out.reserve(wanted.size());
    for (size_t index : wanted) {
        const uint64_t start = starts[index];
        if (start >= dirStart) {
            refused.push_back(index);
            continue;
        }
        const auto next = std::upper_bound(sorted.begin(), sorted.end(), start);
        uint64_t end = next == sorted.end() ? dirStart : std::min(*next, dirStart);
        // Never more than the longest local entry could take, however far the next one is.
        const auto span = EntryFetchSpan(dir.GetHeader(index), start, {}, end);
        if (span) end = start + span->length;
        out.push_back({index, start, end});
    }
    return out;
}

std::vector<PlannedRange> PlanRanges(std::vector<PlannedEntry> entries, uint64_t gap) {
    std::sort(entries.begin(), entries.end(),
              [](const PlannedEntry& a, const PlannedEntry& b) { return a.start < b.start; });
    std::vector<PlannedRange> ranges;
    for (const PlannedEntry& e : entries) {
        // Sorted, so e starts at or after the last range's start.
        if (!ranges.empty() && e.start <= ranges.back().end + gap) {
            PlannedRange& r = ranges.back();
            r.end = std::max(r.end, e.end);
            r.entries.push_back(e);
            continue;
        }
        ranges.push_back({e.start, e.end, {e}});
    }
    return ranges;
}

CEntrySplitter::CEntrySplitter(const PlannedRange& range, const CZipDirectory& dir,
                               IEntrySink& sink)
    : m_range(range), m_dir(dir), m_sink(sink), m_pos(range.start) {
    StartEntry();
}

void CEntrySplitter::StartEntry() {
    // A loop, not a recursion: an archive may give thousands of entries one offset.
    for (; m_next < m_range.entries.size(); ++m_next) {
        if (m_pos <= m_range.entries[m_next].start) {
            m_header.clear();
            m_headerNeed = kLocalHeaderFixedSize;
            m_state = m_pos < m_range.entries[m_next].start ? State::kSkip : State::kHeader;
            return;
        }
        // Two entries claim overlapping bytes: the later one cannot be read from here.
        m_sink.EntryFailed(m_range.entries[m_next], "its bytes overlap the entry before it");
    }
    m_state = State::kDone;
}

void CEntrySplitter::HeaderReady() {
    const PlannedEntry& entry = m_range.entries[m_next];
    const CZipEntryHeader& header = m_dir.GetHeader(entry.index);
    std::string why;
    const auto length = LocalHeaderLength(m_header.data(), m_header.size(), m_header.size(), &why);
    if (!length || !LocalHeaderAgrees(m_header.data(), m_header.size(), header, &why)) {
        m_sink.EntryFailed(entry, why);
        EntryDone();
        return;
    }
    const uint64_t room = entry.end - entry.start - *length;
    if (header.CompressedSize() > room) {
        m_sink.EntryFailed(entry, "its data runs past the next entry or the central directory");
        EntryDone();
        return;
    }
    m_dataLeft = header.CompressedSize();
    m_wanted = m_sink.BeginEntry(entry);
    m_state = State::kData;
    if (m_dataLeft == 0) {
        if (m_wanted) m_sink.EndEntry();
        EntryDone();
    }
}

void CEntrySplitter::EntryDone() {
    ++m_next;
    m_wanted = false;
    StartEntry();
}

void CEntrySplitter::Feed(const uint8_t* data, size_t size) {
    while (size > 0 && m_state != State::kDone) {
        const PlannedEntry& entry = m_range.entries[m_next];
        size_t take = 0;
        switch (m_state) {
            case State::kSkip: {
                take = static_cast<size_t>(std::min<uint64_t>(size, entry.start - m_pos));
                if (m_pos + take == entry.start) m_state = State::kHeader;
                break;
            }
            case State::kHeader: {
                take =
                    static_cast<size_t>(std::min<uint64_t>(size, m_headerNeed - m_header.size()));
                m_header.insert(m_header.end(), data, data + take);
                if (m_header.size() == kLocalHeaderFixedSize &&
                    m_headerNeed == kLocalHeaderFixedSize) {
                    const uint16_t nameLen =
                        static_cast<uint16_t>(m_header[26] | m_header[27] << 8);
                    const uint16_t extraLen =
                        static_cast<uint16_t>(m_header[28] | m_header[29] << 8);
                    m_headerNeed = uint64_t{kLocalHeaderFixedSize} + nameLen + extraLen;
                    if (m_headerNeed > entry.end - entry.start) {
                        m_pos += take;
                        data += take;
                        size -= take;
                        m_sink.EntryFailed(entry, "its local header runs past the next entry");
                        EntryDone();
                        continue;
                    }
                }
                m_pos += take;
                data += take;
                size -= take;
                if (m_header.size() == m_headerNeed) HeaderReady();
                continue;
            }
            case State::kData: {
                take = static_cast<size_t>(std::min<uint64_t>(size, m_dataLeft));
                if (m_wanted && !m_sink.EntryData(data, take)) m_wanted = false;
                m_dataLeft -= take;
                m_pos += take;
                data += take;
                size -= take;
                if (m_dataLeft == 0) {
                    if (m_wanted) m_sink.EndEntry();
                    EntryDone();
                }
                continue;
            }
            case State::kDone:
                break;
        }
        m_pos += take;
        data += take;
        size -= take;
    }
}

void CEntrySplitter::Finish(bool complete, const std::string& why) {
    const std::string text = complete ? "the range ended before the entry's data" : why;
    while (m_state != State::kDone) {
        m_sink.EntryFailed(m_range.entries[m_next], text);
        EntryDone();
    }
}

}  // namespace fennic::remote
