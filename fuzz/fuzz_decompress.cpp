// Arbitrary bytes as one entry's stored data, with the directory's facts taken from the first
// 14 bytes: the output never passes the declared size, comes in bounded pieces, and a success
// means the declared size and CRC-32 (counted here independently) hold.
//
//  0     method: 0 8 12 14 93 95 99 9 98 (index)
//  1     general purpose flags, low byte
//  2     AES: bits 0-1 strength (0: no extra field), bit 2 AE-1, bits 4-7 inner method index
//  3     password: 0 none, 1 "Secret", else "x"
//  4-7   CRC-32, little-endian
//  8-10  uncompressed size, little-endian (at most 16 MiB)
//  11    high byte of the modification time
//  12    piece size: 1 7 64 4096 65536 or everything (index)
//  13    stored size: the data's own, minus 2 to plus 2

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decompress/entry_decoder.h"
#include "zip/crc32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fennic::decompress;
    constexpr size_t kHeader = 14;
    if (size < kHeader) return 0;
    static const uint16_t kMethods[] = {0, 8, 12, 14, 93, 95, 99, 9, 98};
    static const size_t kPieces[] = {1, 7, 64, 4096, 65536, 0};
    EntryFacts facts;
    facts.method = kMethods[data[0] % 9];
    facts.flags = data[1];
    if (data[2] & 3) {
        facts.aesStrength = data[2] & 3;
        facts.aesVersion = (data[2] & 4) ? 1 : 2;
        facts.aesMethod = kMethods[(data[2] >> 4) % 9];
    }
    const std::string password = data[3] == 0 ? "" : data[3] == 1 ? "Secret" : "x";
    facts.crc32 = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 |
                  uint32_t(data[7]) << 24;
    facts.uncompressedSize = uint64_t(data[8]) | uint64_t(data[9]) << 8 | uint64_t(data[10]) << 16;
    facts.modTime = uint16_t(data[11] << 8);
    const size_t piece = kPieces[data[12] % 6];
    const size_t stored = size - kHeader;
    const int delta = int(data[13] % 5) - 2;
    facts.compressedSize = delta < 0 && stored < size_t(-delta) ? 0 : stored + delta;

    uint64_t total = 0;
    uint32_t crc = 0;
    const Sink sink = [&](const uint8_t* out, size_t n) {
        if (n == 0 || n > EntryDecoder::kMaxPiece) std::abort();
        total += n;
        if (total > facts.uncompressedSize) std::abort();
        crc = fennic::Crc32(out, n, crc);
        return true;
    };
    std::string message;
    const DecodeStatus status =
        DecodeBuffer(facts, password, data + kHeader, stored, piece, sink, message);
    if (status == DecodeStatus::kWrongPassword && total != 0) std::abort();
    if (status == DecodeStatus::kOk) {
        const bool ae2 = facts.method == kMethodAes && facts.aesVersion == 2;
        if (total != facts.uncompressedSize || (!ae2 && crc != facts.crc32)) std::abort();
        if (facts.compressedSize != stored) std::abort();
    } else if (message.empty()) {
        std::abort();
    }
    return 0;
}
