#pragma once
// Helpers for the ZIP tests: archives built byte by byte, and text cut into fields.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/fixtures/files.h"
#include "tests/fixtures/recording_front_end.h"

namespace fennic::test {

inline std::string U16(uint16_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
inline std::string U32(uint32_t v) {
    return U16(uint16_t(v & 0xFFFF)) + U16(uint16_t(v >> 16));
}

struct Entry {
    Entry() = default;
    explicit Entry(std::string n) : name(std::move(n)) {}
    std::string name;
    std::string extra;
    std::string comment;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0x3065;  // 5 Mar 2004
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    uint16_t diskStart = 0;
    uint16_t internal = 0;
    uint32_t external = 0x20;
    uint32_t localOffset = 0;
    uint32_t signature = 0x02014b50;
};

inline std::string CentralHeader(const Entry& e) {
    return U32(e.signature) + U16(20) + U16(10) + U16(e.flags) + U16(e.method) + U16(e.time) +
           U16(e.date) + U32(e.crc) + U32(e.compressed) + U32(e.uncompressed) +
           U16(uint16_t(e.name.size())) + U16(uint16_t(e.extra.size())) +
           U16(uint16_t(e.comment.size())) + U16(e.diskStart) + U16(e.internal) + U32(e.external) +
           U32(e.localOffset) + e.name + e.extra + e.comment;
}

struct End {
    uint16_t disk = 0;
    uint16_t cdDisk = 0;
    uint16_t onDisk = 0;
    uint16_t total = 0;
    uint32_t cdSize = 0;
    uint32_t cdOffset = 0;
    std::string comment;
    int commentLength = -1;  // the stored length; -1: the comment's own
};

inline std::string EndRecord(const End& e) {
    const uint16_t k = e.commentLength < 0 ? uint16_t(e.comment.size()) : uint16_t(e.commentLength);
    return "PK\x05\x06" + U16(e.disk) + U16(e.cdDisk) + U16(e.onDisk) + U16(e.total) +
           U32(e.cdSize) + U32(e.cdOffset) + U16(k) + e.comment;
}

// `before` bytes of filler standing for local headers and data, the central directory of
// `entries`, then the end record with `comment`.
inline std::string BuildArchive(const std::vector<Entry>& entries, const std::string& comment = "",
                                size_t before = 16) {
    std::string cd;
    for (const Entry& e : entries) cd += CentralHeader(e);
    End end;
    end.onDisk = end.total = uint16_t(entries.size());
    end.cdSize = uint32_t(cd.size());
    end.cdOffset = uint32_t(before);
    end.comment = comment;
    return std::string(before, 'L') + cd + EndRecord(end);
}

inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep)
            parts.push_back(std::exchange(cur, {}));
        else
            cur += c;
    }
    parts.push_back(cur);
    return parts;
}

inline std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

}  // namespace fennic::test
