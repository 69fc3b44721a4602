// Arbitrary bytes as the fetched stretch of an entry: its local header, its agreement with a
// central record made from the same bytes, and the data descriptor after it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "remote/entry_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fennic::remote;
    std::string why;
    const auto length = LocalHeaderLength(data, size, size, &why);
    if (length && *length > size) std::abort();
    // A central record built from the header's own numbers, and one that differs.
    fennic::CZipEntryHeader entry;
    if (size >= 30) {
        entry.flags = static_cast<uint16_t>(data[6] | data[7] << 8);
        entry.method = static_cast<uint16_t>(data[8] | data[9] << 8);
        entry.crc32 = static_cast<uint32_t>(data[14] | data[15] << 8 | data[16] << 16) |
                      static_cast<uint32_t>(data[17]) << 24;
    }
    LocalHeaderAgrees(data, size, entry, &why);
    entry.compressedSize = 1;
    LocalHeaderAgrees(data, size, entry, &why);
    const bool zip64 = LocalHeaderHasZip64(data, size);
    const auto descriptor = DataDescriptorLength(data, size, entry.crc32, zip64);
    if (descriptor && *descriptor > size) std::abort();
    if (descriptor && *descriptor != (zip64 ? 20u : 12u) && *descriptor != (zip64 ? 24u : 16u))
        std::abort();
    return 0;
}
