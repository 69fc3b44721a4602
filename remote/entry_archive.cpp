#include "remote/entry_archive.h"

#include <algorithm>
#include <limits>

#include "remote/le_bytes.h"

namespace fennic::remote {

const char kEntryArchiveComment[] = "Talvoren Fennic Explorer utility";
static_assert(sizeof(kEntryArchiveComment) == kEntryArchiveCommentSize + 1);

namespace {
constexpr uint64_t kMaxDescriptor = 16;
}

std::optional<ByteSpan> EntryFetchSpan(const EntryRecord& entry,
                                       const std::vector<uint32_t>& localHeaderOffsets,
                                       uint32_t centralDirOffset) {
    const uint32_t start = entry.localHeaderOffset;
    if (start >= centralDirOffset) return std::nullopt;
    uint32_t end = centralDirOffset;
    for (uint32_t off : localHeaderOffsets) {
        if (off > start && off < end) end = off;
    }
    const uint64_t longest = uint64_t{kLocalHeaderProbe} + entry.compressedSize + kMaxDescriptor;
    const uint64_t length = std::min<uint64_t>(end - start, longest);
    return ByteSpan{start, static_cast<uint32_t>(length)};
}

bool LocalHeaderAgrees(const uint8_t* head, size_t headSize, const EntryRecord& entry,
                       std::string* why) {
    LeReader r(head, headSize);
    uint16_t flags = 0, method = 0;
    uint32_t crc = 0, compressed = 0, uncompressed = 0;
    if (!r.U16At(6, flags) || !r.U16At(8, method) || !r.Seek(14) || !r.U32(crc) ||
        !r.U32(compressed) || !r.U32(uncompressed)) {
        if (why) *why = "fetched bytes end inside the local header";
        return false;
    }
    // With a data descriptor the writer may not have known the values yet: zeros (or, for the
    // sizes, the 64-bit marker of a streaming writer) stand in for them.
    const bool deferred = (flags & 0x0008) != 0 && entry.HasDataDescriptor();
    auto agrees = [deferred](uint32_t local, uint32_t central, bool size) {
        return local == central || (deferred && (local == 0 || (size && local == UINT32_MAX)));
    };
    const bool same = agrees(crc, entry.crc32, false) &&
                      agrees(compressed, entry.compressedSize, true) &&
                      agrees(uncompressed, entry.uncompressedSize, true);
    if (method != entry.method || !same) {
        if (why)
            *why = "the local header's method, CRC or sizes disagree with the central directory";
        return false;
    }
    return true;
}

std::optional<uint32_t> LocalHeaderLength(const uint8_t* head, size_t headSize,
                                          uint64_t fetchedSize, std::string* why) {
    auto fail = [why](const char* text) -> std::optional<uint32_t> {
        if (why) *why = text;
        return std::nullopt;
    };
    LeReader r(head, std::min<uint64_t>(headSize, fetchedSize));
    uint32_t sig = 0;
    uint16_t nameLen = 0, extraLen = 0;
    if (!r.U32(sig)) return fail("fetched bytes end inside the local header");
    if (sig != kLocalHeaderSig) return fail("no local header signature at the entry's offset");
    if (!r.U16At(26, nameLen) || !r.U16At(28, extraLen))
        return fail("fetched bytes end inside the local header");
    const uint32_t length = kLocalHeaderSize + uint32_t{nameLen} + extraLen;
    if (length > fetchedSize) return fail("local name and extra field run past the fetched bytes");
    return length;
}

std::optional<uint32_t> DataDescriptorLength(const uint8_t* tail, size_t tailSize, uint32_t crc32) {
    LeReader r(tail, tailSize);
    uint32_t first = 0, second = 0;
    // The signature is optional, so a descriptor is told by the CRC it repeats; a CRC that
    // happens to equal the signature is caught by looking at the following word first.
    if (r.U32At(0, first) && first == kDescriptorSig && r.U32At(4, second) && second == crc32 &&
        tailSize >= 16)
        return 16;
    if (r.U32At(0, first) && first == crc32 && tailSize >= 12) return 12;
    return std::nullopt;
}

std::vector<uint8_t> BuildCentralRecord(const EntryRecord& e) {
    std::vector<uint8_t> out;
    out.reserve(kCentralHeaderSize + e.storedName.size() + e.extraField.size() + e.comment.size());
    LeWriter w(out);
    w.U32(kCentralHeaderSig);
    w.U16(e.versionMadeBy);
    w.U16(e.versionNeeded);
    w.U16(e.flags);
    w.U16(e.method);
    w.U16(e.modTime);
    w.U16(e.modDate);
    w.U32(e.crc32);
    w.U32(e.compressedSize);
    w.U32(e.uncompressedSize);
    w.U16(static_cast<uint16_t>(std::min<size_t>(e.storedName.size(), 0xFFFF)));
    w.U16(static_cast<uint16_t>(std::min<size_t>(e.extraField.size(), 0xFFFF)));
    w.U16(static_cast<uint16_t>(std::min<size_t>(e.comment.size(), 0xFFFF)));
    w.U16(e.diskStart);
    w.U16(e.internalAttributes);
    w.U32(e.externalAttributes);
    w.U32(0);  // the entry now starts the file
    w.Bytes(e.storedName.data(), std::min<size_t>(e.storedName.size(), 0xFFFF));
    w.Bytes(e.extraField.data(), std::min<size_t>(e.extraField.size(), 0xFFFF));
    w.Bytes(e.comment.data(), std::min<size_t>(e.comment.size(), 0xFFFF));
    return out;
}

std::vector<uint8_t> BuildEndRecord(uint16_t diskNumber, uint16_t centralDirDisk,
                                    uint32_t centralSize, uint32_t centralOffset) {
    std::vector<uint8_t> out;
    out.reserve(kEndRecordSize + kEntryArchiveCommentSize);
    LeWriter w(out);
    w.U32(kEndRecordSig);
    w.U16(diskNumber);
    w.U16(centralDirDisk);
    w.U16(1);
    w.U16(1);
    w.U32(centralSize);
    w.U32(centralOffset);
    w.U16(kEntryArchiveCommentSize);
    w.Bytes(reinterpret_cast<const uint8_t*>(kEntryArchiveComment), kEntryArchiveCommentSize);
    return out;
}

std::string ProposeZipName(const std::string& listText) {
    const size_t dot = listText.find('.');
    if (dot == std::string::npos) return ".zip";
    return listText.substr(0, dot) + ".zip";
}

}  // namespace fennic::remote
