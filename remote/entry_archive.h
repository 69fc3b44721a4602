#pragma once
// The bytes of a one-entry archive: which stretch of the remote archive holds an entry and what
// of the fetched stretch is kept. The records appended after it come from zip/zip_records.h.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_entry_header.h"

namespace fennic::remote {

// The comment of every archive this program writes, 32 bytes, stored without a terminator.
extern const char kEntryArchiveComment[];
constexpr uint32_t kEntryArchiveCommentSize = 32;

// A stretch of the remote archive: the first byte and the number of bytes.
struct ByteSpan {
    uint64_t start = 0;
    uint64_t length = 0;
};

// The stretch to fetch for an entry whose local header starts at `start`: up to the next local
// header among all entries (or up to the central directory at centralDirOffset for the last
// one), never more than a local header with the longest name and extra field, the data and a
// descriptor can take. Empty when the entry cannot lie before the central directory.
std::optional<ByteSpan> EntryFetchSpan(const CZipEntryHeader& entry, uint64_t start,
                                       const std::vector<uint64_t>& localHeaderOffsets,
                                       uint64_t centralDirOffset);

// Longest prefix of a fetched stretch that can hold the local header with its name and extra.
constexpr uint32_t kLocalHeaderProbe = kLocalHeaderFixedSize + 0xFFFF + 0xFFFF;

// Given the first bytes of the fetched stretch (up to kLocalHeaderProbe of them) and the
// stretch's total size, the length of the local header with its own name and extra field.
// Fails (with a reason) when the signature or a length does not fit what was fetched.
std::optional<uint32_t> LocalHeaderLength(const uint8_t* head, size_t headSize,
                                          uint64_t fetchedSize, std::string* why);

// Whether the local header at the start of head states the method, CRC and sizes of the
// central record (or, with a data descriptor, zeros in their place; 64-bit sizes in its ZIP64
// extra field): a copy of a disagreeing header would make a saved archive that contradicts
// itself.
bool LocalHeaderAgrees(const uint8_t* head, size_t headSize, const CZipEntryHeader& entry,
                       std::string* why);

// Whether the local header's extra field holds a ZIP64 block: its data descriptor then carries
// 64-bit sizes.
bool LocalHeaderHasZip64(const uint8_t* head, size_t headSize);

// Given the (up to 24) bytes that follow the entry's data, the length of its data descriptor:
// 16 with its signature, 12 without, and 24 or 20 with 64-bit sizes; recognised by the CRC-32
// it repeats.
std::optional<uint32_t> DataDescriptorLength(const uint8_t* tail, size_t tailSize, uint32_t crc32,
                                             bool zip64Sizes = false);

// The name the save dialog proposes for a list text: up to its first "." and then ".zip";
// ".zip" alone for a text without a ".".
std::string ProposeZipName(const std::string& listText);

}  // namespace fennic::remote
