#include "zip/local_header.h"

#include "zip/byte_reader.h"
#include "zip/zip_records.h"

namespace fennic {

size_t LocalHeader::NameOffset() const {
    return kLocalHeaderFixedSize;
}

uint32_t LocalHeader::Length() const {
    return kLocalHeaderFixedSize + uint32_t{nameLength} + extraLength;
}

bool ReadLocalHeader(const uint8_t* head, size_t size, LocalHeader& out) {
    CByteReader r(head, size);
    r.Skip(4);  // signature
    out.versionNeeded = r.U16();
    out.flags = r.U16();
    out.method = r.U16();
    out.modTime = r.U16();
    out.modDate = r.U16();
    out.crc32 = r.U32();
    out.compressedSize = r.U32();
    out.uncompressedSize = r.U32();
    out.nameLength = r.U16();
    out.extraLength = r.U16();
    return r.Ok();
}

bool HasLocalSignature(const uint8_t* head, size_t size) {
    CByteReader r(head, size);
    return r.U32() == kLocalHeaderSignature && r.Ok();
}

std::optional<ExtraBlock> LocalZip64Block(const uint8_t* head, size_t size) {
    LocalHeader h;
    if (!ReadLocalHeader(head, size, h) || size < h.ExtraOffset() ||
        size - h.ExtraOffset() < h.extraLength)
        return std::nullopt;
    return FindExtraBlock(head + h.ExtraOffset(), h.extraLength, kZip64ExtraId);
}

}  // namespace fennic
