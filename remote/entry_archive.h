#pragma once
// The bytes of a one-entry archive: which stretch of the remote archive holds an entry, what of
// the fetched stretch is kept, and the central record and end record appended after it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fennic::remote {

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndRecordSig = 0x06054b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;

// The comment of every archive this program writes, 32 bytes, stored without a terminator.
extern const char kEntryArchiveComment[];
constexpr uint32_t kEntryArchiveCommentSize = 32;

// One entry's central record with the name bytes exactly as the archive stores them.
struct EntryRecord {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    std::vector<uint8_t> storedName;
    std::vector<uint8_t> extraField;
    std::vector<uint8_t> comment;

    bool HasDataDescriptor() const { return (flags & 0x0008) != 0; }
};

// A stretch of the remote archive: the first byte and the number of bytes.
struct ByteSpan {
    uint32_t start = 0;
    uint32_t length = 0;
};

// The stretch to fetch for an entry: from its local header up to the next local header among
// all entries (or up to the central directory at centralDirOffset for the last one), never
// more than a local header with the longest name and extra field, the data and a descriptor
// can take. Empty when the entry cannot lie before the central directory.
std::optional<ByteSpan> EntryFetchSpan(const EntryRecord& entry,
                                       const std::vector<uint32_t>& localHeaderOffsets,
                                       uint32_t centralDirOffset);

// Longest prefix of a fetched stretch that can hold the local header with its name and extra.
constexpr uint32_t kLocalHeaderProbe = kLocalHeaderSize + 0xFFFF + 0xFFFF;

// Given the first bytes of the fetched stretch (up to kLocalHeaderProbe of them) and the
// stretch's total size, the length of the local header with its own name and extra field.
// Fails (with a reason) when the signature or a length does not fit what was fetched.
std::optional<uint32_t> LocalHeaderLength(const uint8_t* head, size_t headSize,
                                          uint64_t fetchedSize, std::string* why);

// Whether the local header at the start of head states the method, CRC and sizes of the
// central record (or, with a data descriptor, zeros in their place): a copy of a disagreeing
// header would make a saved archive that contradicts itself.
bool LocalHeaderAgrees(const uint8_t* head, size_t headSize, const EntryRecord& entry,
                       std::string* why);

// Given the (up to 16) bytes that follow the entry's data, the length of its data descriptor:
// 16 with its signature, 12 without; recognised by the CRC-32 it repeats.
std::optional<uint32_t> DataDescriptorLength(const uint8_t* tail, size_t tailSize, uint32_t crc32);

// The central directory record of the saved archive: the entry's record with local offset 0.
std::vector<uint8_t> BuildCentralRecord(const EntryRecord& entry);

// The 54-byte end record: one entry, a central directory of centralSize bytes at
// centralOffset, and the program's comment.
std::vector<uint8_t> BuildEndRecord(uint16_t diskNumber, uint16_t centralDirDisk,
                                    uint32_t centralSize, uint32_t centralOffset);

// The name the save dialog proposes for a list text: up to its first "." and then ".zip";
// ".zip" alone for a text without a ".".
std::string ProposeZipName(const std::string& listText);

}  // namespace fennic::remote
