#pragma once
// The local file header in front of each entry's data: its fixed 30 bytes, as read from bytes
// fetched at an entry's offset.

#include <cstddef>
#include <cstdint>

#include "zip/extra_field.h"

namespace fennic {

struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;  // 32-bit values as stored; 64-bit ones from ZIP64
    uint64_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    // Where the name and the extra field stand, from the header's first byte.
    size_t NameOffset() const;
    size_t ExtraOffset() const { return NameOffset() + nameLength; }
    uint32_t Length() const;  // fixed part, name and extra field
};

// The fixed part at head (signature not checked: see HasLocalSignature); false when fewer
// than 30 bytes are there.
bool ReadLocalHeader(const uint8_t* head, size_t size, LocalHeader& out);
bool HasLocalSignature(const uint8_t* head, size_t size);

// The local extra field's first ZIP64 block, when the fetched bytes hold the whole field.
std::optional<ExtraBlock> LocalZip64Block(const uint8_t* head, size_t size);

}  // namespace fennic
