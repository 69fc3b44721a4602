#pragma once
// The record layouts of a ZIP archive in one place: signatures, fixed sizes, the end records
// (with their ZIP64 forms) and the writing of the records a saved archive needs. Every reader
// here takes outside bytes and checks each length before use.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/extra_field.h"

namespace fennic {

class CZipEntryHeader;

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;

constexpr uint32_t kLocalHeaderFixedSize = 30;
constexpr uint32_t kCentralHeaderFixedSize = 46;
constexpr uint32_t kEndRecordFixedSize = 22;
constexpr uint32_t kZip64LocatorSize = 20;
constexpr uint32_t kZip64EndRecordFixedSize = 56;
constexpr uint32_t kLongestComment = 0xFFFF;
// The most an archive's end can take: an end record with the longest comment, and in front of
// it the ZIP64 locator and a ZIP64 end record without extensible data.
constexpr uint32_t kLongestEnd =
    kEndRecordFixedSize + kLongestComment + kZip64LocatorSize + kZip64EndRecordFixedSize;

constexpr uint32_t kMarker32 = 0xFFFFFFFF;  // "the value is in the ZIP64 record"
constexpr uint16_t kMarker16 = 0xFFFF;

// The end of an archive as read: the 32-bit end record, with the values of the ZIP64 end record
// in place of those that hold its markers.
struct EndRecord {
    uint64_t position = 0;  // of the 22-byte record
    uint32_t diskNumber = 0;
    uint32_t centralDirDisk = 0;
    uint64_t entriesOnDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t centralDirSize = 0;
    uint64_t centralDirOffset = 0;
    uint16_t commentLength = 0;
    bool zip64 = false;
    uint64_t zip64Position = 0;  // of the ZIP64 end record, when zip64

    // Where the directory must start for the records to follow each other: the stored offset
    // plus any bytes in front of the archive (a self-extractor's stub). Wraps when the stored
    // size is larger than what precedes the end.
    uint64_t ExpectedDirStart() const {
        return (zip64 ? zip64Position : position) - centralDirSize;
    }
};

// The 22 bytes of an end record at data, as stored (no ZIP64 values); false for a wrong
// signature or fewer bytes.
bool ParseEndRecord(const uint8_t* data, size_t size, EndRecord& out);

// The position in data of the end record signature nearest to its end; npos when none.
size_t FindEndRecordSignature(const uint8_t* data, size_t size);
// The one scan for the end record of local and remote archives, over the last `size` bytes of
// an archive within the record's longest reach (22 bytes and the longest comment). Positions
// are in tail; npos when there is none.
struct EndRecordScan {
    size_t nearest;  // the signature nearest the end, wherever it stands
    size_t whole;    // the nearest one that leaves room for a whole record
};
EndRecordScan ScanForEndRecord(const uint8_t* tail, size_t size);

// Reads `size` bytes of the archive at `offset`; false when they cannot be had.
using ArchiveReadAt = std::function<bool(uint64_t offset, void* buffer, size_t size)>;

enum class EndRead {
    kOk,
    kBad,          // the end record is cut short or contradicts itself
    kZip64Broken,  // a locator names a ZIP64 end record that is not there
};

// The end record at `position` of an archive of `length` bytes and, when the ZIP64 locator
// stands right in front of it, the ZIP64 end record. A locator whose offset misses (bytes in
// front of the archive) is followed to the ZIP64 end record right in front of it.
EndRead ReadEndRecords(uint64_t position, uint64_t length, const ArchiveReadAt& read,
                       EndRecord& out);

// Fills the 64-bit values of a central header from its ZIP64 extra field (only the fields
// holding markers are in it, in a fixed order). False when a marked value is missing.
struct Zip64Values {
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t diskStart = 0;
};
bool ReadZip64Extra(const std::string& block, uint32_t uncompressed, uint32_t compressed,
                    uint32_t offset, uint16_t disk, Zip64Values& out);

// The central record of `header` for an archive where its local header starts at
// `localOffset`, with a ZIP64 extra field (replacing any old one) when a size or the offset
// needs 64 bits.
void AppendCentralRecord(std::vector<uint8_t>& out, const CZipEntryHeader& header,
                         uint64_t localOffset);

// The end of an archive: a ZIP64 end record and locator when a value needs them, then the end
// record with `comment` (at most 65,535 bytes are kept).
void AppendEndRecords(std::vector<uint8_t>& out, uint32_t diskNumber, uint32_t centralDirDisk,
                      uint64_t entries, uint64_t centralSize, uint64_t centralOffset,
                      const std::string& comment);

}  // namespace fennic
