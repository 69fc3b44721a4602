#pragma once
// CRC-32 as ZIP records use it (the reflected 0xEDB88320 polynomial), computed by zlib.

#include <cstddef>
#include <cstdint>

namespace fennic {

// The CRC of size bytes, continuing from crc (0 for a fresh start).
uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);

}  // namespace fennic
