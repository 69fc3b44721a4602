#include "zip/zip_records.h"

#include <algorithm>

#include "zip/byte_reader.h"
#include "zip/zip_entry_header.h"

namespace fennic {

size_t FindEndRecordSignature(const uint8_t* data, size_t size) {
    if (size < 4) return std::string::npos;
    for (size_t i = size - 4 + 1; i-- > 0;) {
        // The first byte is compared alone first: this loop runs over up to 64 KiB of comment.
        if (data[i] != 0x50) continue;
        if (CByteReader(data + i, 4).U32() == kEndRecordSignature) return i;
    }
    return std::string::npos;
}

EndRecordScan ScanForEndRecord(const uint8_t* tail, size_t size) {
    const size_t reach = std::min<size_t>(size, kEndRecordFixedSize + kLongestComment);
    const size_t scanFrom = size - reach;
    EndRecordScan scan{FindEndRecordSignature(tail + scanFrom, reach), std::string::npos};
    if (scan.nearest == std::string::npos) return scan;
    scan.nearest += scanFrom;
    if (size - scan.nearest >= kEndRecordFixedSize) {
        scan.whole = scan.nearest;
    } else if (reach >= kEndRecordFixedSize) {
        const size_t found =
            FindEndRecordSignature(tail + scanFrom, reach - (kEndRecordFixedSize - 4));
        if (found != std::string::npos) scan.whole = scanFrom + found;
    }
    return scan;
}

namespace {

bool ReadZip64EndAt(uint64_t at, uint64_t limit, const ArchiveReadAt& read, EndRecord& out) {
    uint8_t bytes[kZip64EndRecordFixedSize];
    if (at > limit || limit - at < sizeof bytes || !read(at, bytes, sizeof bytes)) return false;
    CByteReader in(bytes, sizeof bytes);
    if (in.U32() != kZip64EndRecordSignature) return false;
    const uint64_t recordSize = in.U64();  // counts the bytes after this field
    in.Skip(4);                            // versions made by and needed
    const uint32_t disk = in.U32();
    const uint32_t dirDisk = in.U32();
    const uint64_t onDisk = in.U64();
    const uint64_t total = in.U64();
    const uint64_t dirSize = in.U64();
    const uint64_t dirOffset = in.U64();
    // The record, extensible data included, must end where the locator starts.
    if (!in.Ok() || recordSize < kZip64EndRecordFixedSize - 12 || recordSize > limit - at - 12 ||
        at + 12 + recordSize != limit) {
        return false;
    }
    // Only the values the 32-bit record marks are taken from here.
    if (out.diskNumber == kMarker16) out.diskNumber = disk;
    if (out.centralDirDisk == kMarker16) out.centralDirDisk = dirDisk;
    if (out.entriesOnDisk == kMarker16) out.entriesOnDisk = onDisk;
    if (out.totalEntries == kMarker16) out.totalEntries = total;
    if (out.centralDirSize == kMarker32) out.centralDirSize = dirSize;
    if (out.centralDirOffset == kMarker32) out.centralDirOffset = dirOffset;
    out.zip64 = true;
    out.zip64Position = at;
    return true;
}

}  // namespace

bool ParseEndRecord(const uint8_t* data, size_t size, EndRecord& out) {
    CByteReader in(data, size);
    if (in.U32() != kEndRecordSignature) return false;
    out.diskNumber = in.U16();
    out.centralDirDisk = in.U16();
    out.entriesOnDisk = in.U16();
    out.totalEntries = in.U16();
    out.centralDirSize = in.U32();
    out.centralDirOffset = in.U32();
    out.commentLength = in.U16();
    return in.Ok();
}

EndRead ReadEndRecords(uint64_t position, uint64_t length, const ArchiveReadAt& read,
                       EndRecord& out) {
    out = EndRecord();
    uint8_t record[kEndRecordFixedSize];
    if (position > length || length - position < sizeof record ||
        !read(position, record, sizeof record) || !ParseEndRecord(record, sizeof record, out)) {
        return EndRead::kBad;
    }
    out.position = position;

    if (position < kZip64LocatorSize) return EndRead::kOk;
    uint8_t locator[kZip64LocatorSize];
    const uint64_t locatorAt = position - kZip64LocatorSize;
    if (!read(locatorAt, locator, sizeof locator)) return EndRead::kOk;
    CByteReader loc(locator, sizeof locator);
    if (loc.U32() != kZip64LocatorSignature) return EndRead::kOk;
    loc.Skip(4);  // the disk holding the ZIP64 end record
    const uint64_t stored = loc.U64();
    if (ReadZip64EndAt(stored, locatorAt, read, out)) return EndRead::kOk;
    if (locatorAt >= kZip64EndRecordFixedSize &&
        ReadZip64EndAt(locatorAt - kZip64EndRecordFixedSize, locatorAt, read, out)) {
        return EndRead::kOk;
    }
    return EndRead::kZip64Broken;
}

bool ReadZip64Extra(const std::string& block, uint32_t uncompressed, uint32_t compressed,
                    uint32_t offset, uint16_t disk, Zip64Values& out) {
    out.uncompressedSize = uncompressed;
    out.compressedSize = compressed;
    out.localHeaderOffset = offset;
    out.diskStart = disk;
    CByteReader in(block.data(), block.size());
    if (uncompressed == kMarker32) out.uncompressedSize = in.U64();
    if (compressed == kMarker32) out.compressedSize = in.U64();
    if (offset == kMarker32) out.localHeaderOffset = in.U64();
    if (disk == kMarker16) out.diskStart = in.U32();
    return in.Ok();
}

namespace {

// The extra field without its ZIP64 blocks; malformed trailing bytes are dropped.
std::string ExtraWithoutZip64(const CZipEntryHeader& h) {
    std::string kept;
    const std::string all(h.ExtraBytes());
    ExtraFieldIterator it(all.data(), all.size());
    ExtraBlock block;
    while (it.Next(block))
        if (block.id != kZip64ExtraId) kept.append(all, block.offset, 4 + size_t{block.size});
    return kept;
}

}  // namespace

void AppendCentralRecord(std::vector<uint8_t>& out, const CZipEntryHeader& h,
                         uint64_t localOffset) {
    const uint64_t uncompressed = h.UncompressedSize();
    const uint64_t compressed = h.CompressedSize();
    const bool bigU = uncompressed >= kMarker32, bigC = compressed >= kMarker32;
    const bool bigO = localOffset >= kMarker32;
    // The extra field is copied as stored unless its ZIP64 block must change.
    const bool rebuild = bigU || bigC || bigO || h.NeedsZip64();
    std::string extra = rebuild ? ExtraWithoutZip64(h) : std::string(h.ExtraBytes());
    if (bigU || bigC || bigO) {
        std::vector<uint8_t> block;
        CByteWriter b(block);
        b.U16(kZip64ExtraId);
        b.U16(static_cast<uint16_t>(8 * (int{bigU} + int{bigC} + int{bigO})));
        if (bigU) b.U64(uncompressed);
        if (bigC) b.U64(compressed);
        if (bigO) b.U64(localOffset);
        extra.insert(0, reinterpret_cast<const char*>(block.data()), block.size());
    }
    if (extra.size() > 0xFFFF) extra.resize(0);  // cannot be stored; the block alone is kept
    const std::string name = h.GetRawFileName();
    const std::string comment = h.GetComment();
    CByteWriter w(out);
    w.U32(kCentralHeaderSignature);
    w.U16(h.versionMadeBy);
    w.U16(std::max<uint16_t>(h.versionNeeded, (bigU || bigC || bigO) ? 45 : 0));
    w.U16(h.flags);
    w.U16(h.method);
    w.U16(h.modTime);
    w.U16(h.modDate);
    w.U32(h.crc32);
    w.U32(bigC ? kMarker32 : static_cast<uint32_t>(compressed));
    w.U32(bigU ? kMarker32 : static_cast<uint32_t>(uncompressed));
    w.U16(static_cast<uint16_t>(std::min<size_t>(name.size(), 0xFFFF)));
    w.U16(static_cast<uint16_t>(extra.size()));
    w.U16(static_cast<uint16_t>(std::min<size_t>(comment.size(), 0xFFFF)));
    w.U16(h.diskStart);
    w.U16(h.internalAttributes);
    w.U32(h.externalAttributes);
    w.U32(bigO ? kMarker32 : static_cast<uint32_t>(localOffset));
    w.Bytes(name.data(), std::min<size_t>(name.size(), 0xFFFF));
    w.Bytes(extra);
    w.Bytes(comment.data(), std::min<size_t>(comment.size(), 0xFFFF));
}

void AppendEndRecords(std::vector<uint8_t>& out, uint32_t diskNumber, uint32_t centralDirDisk,
                      uint64_t entries, uint64_t centralSize, uint64_t centralOffset,
                      const std::string& comment) {
    const bool big = entries >= kMarker16 || centralSize >= kMarker32 ||
                     centralOffset >= kMarker32 || diskNumber >= kMarker16 ||
                     centralDirDisk >= kMarker16;
    CByteWriter w(out);
    if (big) {
        const uint64_t zip64At = centralOffset + centralSize;
        w.U32(kZip64EndRecordSignature);
        w.U64(kZip64EndRecordFixedSize - 12);
        w.U16(45);
        w.U16(45);
        w.U32(diskNumber);
        w.U32(centralDirDisk);
        w.U64(entries);
        w.U64(entries);
        w.U64(centralSize);
        w.U64(centralOffset);
        w.U32(kZip64LocatorSignature);
        w.U32(centralDirDisk);
        w.U64(zip64At);
        w.U32(diskNumber + 1);
    }
    auto cap16 = [big](uint64_t v) {
        return big && v >= kMarker16 ? kMarker16 : static_cast<uint16_t>(v);
    };
    auto cap32 = [big](uint64_t v) {
        return big && v >= kMarker32 ? kMarker32 : static_cast<uint32_t>(v);
    };
    const size_t commentSize = std::min<size_t>(comment.size(), kLongestComment);
    w.U32(kEndRecordSignature);
    w.U16(cap16(diskNumber));
    w.U16(cap16(centralDirDisk));
    w.U16(cap16(entries));
    w.U16(cap16(entries));
    w.U32(cap32(centralSize));
    w.U32(cap32(centralOffset));
    w.U16(static_cast<uint16_t>(commentSize));
    w.Bytes(comment.data(), commentSize);
}

}  // namespace fennic
