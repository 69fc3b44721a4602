#include "remote/entry_archive.h"

#include <algorithm>

#include "zip/byte_reader.h"
#include "zip/local_header.h"

namespace fennic::remote {

const char kEntryArchiveComment[] = "Talvoren Fennic Explorer utility";
static_assert(sizeof(kEntryArchiveComment) == kEntryArchiveCommentSize + 1);

namespace {
constexpr uint64_t kMaxDescriptor = 24;

}  // namespace

std::optional<ByteSpan> EntryFetchSpan(const CZipEntryHeader& entry, uint64_t start,
                                       const std::vector<uint64_t>& localHeaderOffsets,
                                       uint64_t centralDirOffset) {
    if (start >= centralDirOffset) return std::nullopt;
    uint64_t end = centralDirOffset;
    for (uint64_t off : localHeaderOffsets) {
        if (off > start && off < end) end = off;
    }
    const uint64_t compressed = entry.CompressedSize();
    const uint64_t longest = compressed > UINT64_MAX - kLocalHeaderProbe - kMaxDescriptor
                                 ? UINT64_MAX
                                 : kLocalHeaderProbe + compressed + kMaxDescriptor;
    return ByteSpan{start, std::min<uint64_t>(end - start, longest)};
}

bool LocalHeaderHasZip64(const uint8_t* head, size_t headSize) {
    return LocalZip64Block(head, headSize).has_value();
}

bool LocalHeaderAgrees(const uint8_t* head, size_t headSize, const CZipEntryHeader& entry,
                       std::string* why) {
    LocalHeader lh;
    if (!ReadLocalHeader(head, headSize, lh)) {
        if (why) *why = "fetched bytes end inside the local header";
        return false;
    }
    const uint16_t flags = lh.flags;
    const uint16_t method = lh.method;
    const uint32_t crc = lh.crc32;
    uint64_t compressed = lh.compressedSize;
    uint64_t uncompressed = lh.uncompressedSize;
    // 64-bit sizes stand in the ZIP64 block, uncompressed first.
    if (compressed == kMarker32 || uncompressed == kMarker32) {
        if (const auto zip64 = LocalZip64Block(head, headSize)) {
            CByteReader block(zip64->data, zip64->size);
            const uint64_t u = block.U64();
            const uint64_t c = block.U64();
            if (block.Ok()) {
                uncompressed = u;
                compressed = c;
            }
        }
    }
    // With a data descriptor the writer may not have known the values yet: zeros (or, for the
    // sizes, the 64-bit marker of a streaming writer) stand in for them.
    const bool deferred = (flags & kFlagDataDescriptor) != 0 && entry.HasDataDescriptor();
    auto agrees = [deferred](uint64_t local, uint64_t central, bool size) {
        return local == central || (deferred && (local == 0 || (size && local == kMarker32)));
    };
    const bool same = agrees(crc, entry.crc32, false) &&
                      agrees(compressed, entry.CompressedSize(), true) &&
                      agrees(uncompressed, entry.UncompressedSize(), true);
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
    const size_t size = static_cast<size_t>(std::min<uint64_t>(headSize, fetchedSize));
    if (size < 4) return fail("fetched bytes end inside the local header");
    if (!HasLocalSignature(head, size))
        return fail("no local header signature at the entry's offset");
    LocalHeader local;
    if (!ReadLocalHeader(head, size, local))
        return fail("fetched bytes end inside the local header");
    const uint32_t length = local.Length();
    if (length > fetchedSize) return fail("local name and extra field run past the fetched bytes");
    return length;
}

std::optional<uint32_t> DataDescriptorLength(const uint8_t* tail, size_t tailSize, uint32_t crc32,
                                             bool zip64Sizes) {
    const uint32_t sizes = zip64Sizes ? 16 : 8;
    CByteReader r(tail, tailSize);
    const uint32_t first = r.U32();
    const uint32_t second = r.U32();
    // The signature is optional, so a descriptor is told by the CRC it repeats; a CRC that
    // happens to equal the signature is caught by looking at the following word first.
    if (r.Ok() && first == kDataDescriptorSignature && second == crc32 && tailSize >= 8 + sizes)
        return 8 + sizes;
    if (tailSize >= 4 && first == crc32 && tailSize >= 4 + sizes) return 4 + sizes;
    return std::nullopt;
}

std::string ProposeZipName(const std::string& listText) {
    const size_t dot = listText.find('.');
    if (dot == std::string::npos) return ".zip";
    return listText.substr(0, dot) + ".zip";
}

}  // namespace fennic::remote
