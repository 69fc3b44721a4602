#include "zip/crc32.h"

#include <zlib.h>

#include <algorithm>

namespace fennic {

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
    // zlib takes its length as a uInt: long buffers go in pieces.
    const auto* p = static_cast<const Bytef*>(data);
    uLong value = crc;
    while (size > 0) {
        const size_t piece = std::min<size_t>(size, 1u << 30);
        value = crc32(value, p, static_cast<uInt>(piece));
        p += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace fennic
