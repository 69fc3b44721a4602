#pragma once
// The direct road: the archive's last bytes with one suffix range (its size comes with them),
// and the part of the central directory they miss with a second range, only when there is
// such a part. An entry is then fetched with one range, or none when its bytes came already.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/output_file.h"
#include "remote/direct/range_source.h"
#include "zip/zip_directory.h"
#include "zip/zip_records.h"

namespace fennic::remote {

// The first request's size: exactly the longest end of an archive (an end record with the
// longest comment, the ZIP64 locator and end record), so that one request always finds the end
// records. Any more would be bytes most extractions never use; the directories of most archives
// come with it anyway.
constexpr uint64_t kTailBytes = 65633;
static_assert(kTailBytes == kLongestEnd);
// A directory larger than this, or of more entries, is refused rather than held in memory:
// each entry takes a few hundred bytes once read.
constexpr uint64_t kLargestDirectory = uint64_t{1} << 30;
constexpr uint64_t kMostEntries = 10'000'000;

struct DirectArchive {
    uint64_t size = 0;       // of the whole archive
    uint64_t tailStart = 0;  // where `tail` starts in it
    std::vector<uint8_t> tail;
    EndRecord end;
    std::string comment;
    uint64_t dirStart = 0;  // where the directory really starts
    uint64_t shift = 0;     // real offset = stored offset + shift (a self-extractor's stub)
    std::unique_ptr<CZipDirectory> directory;
};

// Reads the end records and the central directory of the archive behind source.
bool ReadDirect(IRangeSource& source, DirectArchive& archive, Error& error);

// Saves entry `index` as a one-entry archive to dest. Its bytes come from the tail when they
// are there, otherwise with one range (only the part the tail does not hold).
bool SaveDirectEntry(IRangeSource& source, const DirectArchive& archive, size_t index,
                     const fs::OutputTarget& dest, Error& error);

}  // namespace fennic::remote
