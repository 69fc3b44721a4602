#pragma once
// Archives made once per run by real tools (7z, zip, Python's zipfile, and zstd and xz streams
// put into ZIP records by hand), their entries as read by our own directory reader, and a
// decoding helper that records what the sink got.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "decompress/entry_decoder.h"
#include "tests/fixtures/files.h"
#include "zip/zip_engine.h"

namespace fennic::decompress::test {

using fennic::test::ReadFile;
using fennic::test::WriteFile;

// Text of repeated words with an incompressible stretch inside: several output pieces long,
// and both kinds of data for each method.
inline std::string Sample() {
    static const char* const kWords[] = {"range ", "byte ",   "archive ", "entry\n",
                                         "zip ",   "window ", "deflate ", "0123456789 "};
    std::string s;
    uint32_t x = 12345;
    while (s.size() < 180000) {
        x = x * 1103515245u + 12345u;
        s += kWords[(x >> 16) % 8];
        if (s.size() > 60000 && s.size() < 62000) s += char(x >> 24);
    }
    for (int i = 0; i < 30000; ++i) {
        x = x * 1103515245u + 12345u;
        s += char(x >> 23);
    }
    return s;
}

struct ToolEntry {
    std::string name;
    EntryFacts facts;
    std::string data;  // the stored bytes, encryption included
};

// Every entry of an archive through CZipEngine, with its bytes cut out after the local header.
inline std::vector<ToolEntry> ReadEntries(const std::string& path) {
    std::vector<ToolEntry> entries;
    const std::string bytes = ReadFile(path);
    CZipEngine engine;
    engine.Open(path, ZipOpenReadOnly);
    for (int i = 0; i < engine.GetEntryCount(); ++i) {
        CZipEntryHeader h;
        EXPECT_TRUE(engine.GetEntryInfo(h, size_t(i)));
        ToolEntry e;
        e.name = h.GetRawFileName();
        std::string message;
        EXPECT_TRUE(FactsFromHeader(h, e.facts, message)) << message;
        const uint64_t at = h.LocalHeaderOffset();
        EXPECT_EQ(bytes.compare(at, 4, "PK\x03\x04"), 0) << path;
        const auto u16 = [&](uint64_t p) {
            return uint8_t(bytes[p]) | unsigned(uint8_t(bytes[p + 1])) << 8;
        };
        const uint64_t start = at + 30 + u16(at + 26) + u16(at + 28);
        e.data = bytes.substr(start, e.facts.compressedSize);
        EXPECT_EQ(e.data.size(), e.facts.compressedSize) << path;
        entries.push_back(e);
    }
    engine.Close();
    return entries;
}

// The archives, by name, made at the first call: "7z-deflate", "py-lzma", "zip-crypto", ...
inline const std::map<std::string, std::vector<ToolEntry>>& Archives() {
    static const auto* archives = [] {
        auto* made = new std::map<std::string, std::vector<ToolEntry>>;
        const fennic::test::TempDir scratch;
        const std::string dir = scratch.path();
        WriteFile(dir + "/sample.bin", Sample());
        WriteFile(dir + "/empty", "");
        WriteFile(dir + "/zeros", std::string(16 << 20, '\0'));
        const std::string py = FENNIC_PYTHON;
        const std::string commands[] = {
            // A fixed time: with the clock's, zip's time check byte would equal the CRC's
            // whenever the run falls in the same eight minutes of the day.
            "touch -d '2026-06-01 12:34:56' sample.bin empty zeros",
            "7z a -tzip -mm=Copy 7z-copy.zip sample.bin",
            "7z a -tzip -mm=Deflate 7z-deflate.zip sample.bin",
            "7z a -tzip -mm=BZip2 7z-bzip2.zip sample.bin",
            "7z a -tzip -mm=LZMA 7z-lzma.zip sample.bin",
            "7z a -tzip -mm=LZMA:eos=off 7z-lzma-noeos.zip sample.bin",
            "7z a -tzip -mm=Deflate64 7z-deflate64.zip sample.bin",
            "7z a -tzip -mm=PPMd 7z-ppmd.zip sample.bin",
            "7z a -tzip -mem=AES256 -pSecret 7z-aes256.zip sample.bin",
            "7z a -tzip -mem=AES128 -mm=Copy -pSecret 7z-aes128-copy.zip sample.bin",
            "7z a -tzip -mem=AES192 -mm=BZip2 -pSecret 7z-aes192-bzip2.zip sample.bin",
            "zip -q -P Secret zip-crypto.zip sample.bin empty",
            "7z a -tzip -mem=ZipCrypto -pSecret 7z-zipcrypto.zip sample.bin",
            "zip -q -0 -P Secret - sample.bin > zip-crypto-stored.zip",
            "zstd -q -19 -c sample.bin > s.zst && zstd -q -c empty > e.zst && "
            "cat e.zst s.zst > two.zst && zstd -q -c zeros > z.zst && "
            "zstd -q --long=29 -c < sample.bin > w.zst && xz -c sample.bin > s.xz && "
            "xz -c empty > e.xz && xz -c zeros > z.xz && " +
                py + " " FENNIC_TEST_DIR "/write_zip.py zstd-xz.zip sample.zst 93 s.zst " +
                "sample.bin empty.zst 93 e.zst empty two.zst 93 two.zst sample.bin " +
                "sample.xz 95 s.xz sample.bin empty.xz 95 e.xz empty zeros.zst 93 z.zst zeros " +
                "zeros.xz 95 z.xz zeros wide.zst 93 w.zst sample.bin",
        };
        for (const std::string& c : commands) {
            if (std::system(("cd " + dir + " && (" + c + ") >/dev/null").c_str()) != 0) {
                ADD_FAILURE() << c;
            }
        }
        for (const char* m : {"DEFLATED", "BZIP2", "LZMA"}) {
            const std::string c = "cd " + dir + " && " + py +
                                  " -c 'import zipfile, sys\n"
                                  "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_" +
                                  m +
                                  ") as z:\n"
                                  "  z.write(\"sample.bin\"); z.write(\"empty\"); "
                                  "z.write(\"zeros\")' py-" +
                                  m + ".zip";
            if (std::system(c.c_str()) != 0) ADD_FAILURE() << c;
        }
        for (const char* name :
             {"7z-copy", "7z-deflate", "7z-bzip2", "7z-lzma", "7z-lzma-noeos", "7z-deflate64",
              "7z-ppmd", "7z-aes256", "7z-aes128-copy", "7z-aes192-bzip2", "zip-crypto",
              "7z-zipcrypto", "zip-crypto-stored", "zstd-xz", "py-DEFLATED", "py-BZIP2",
              "py-LZMA"}) {
            try {
                (*made)[name] = ReadEntries(dir + "/" + name + ".zip");
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        }
        return made;
    }();
    return *archives;
}

inline const ToolEntry& Find(const std::string& archive, const std::string& entry) {
    for (const ToolEntry& e : Archives().at(archive)) {
        if (e.name == entry) return e;
    }
    ADD_FAILURE() << archive << " has no " << entry;
    static const ToolEntry kNone;
    return kNone;
}

struct Result {
    DecodeStatus status = DecodeStatus::kOk;
    std::string out;
    std::string message;
    size_t largestPiece = 0;
};

// Feeds `data` in pieces of `piece` bytes (0: all at once).
inline Result Decode(const EntryFacts& facts, const std::string& data, size_t piece = 0,
                     const std::string& password = "") {
    Result r;
    auto sink = [&](const uint8_t* p, size_t n) {
        r.out.append(reinterpret_cast<const char*>(p), n);
        r.largestPiece = std::max(r.largestPiece, n);
        return true;
    };
    r.status = DecodeBuffer(facts, password, reinterpret_cast<const uint8_t*>(data.data()),
                            data.size(), piece, sink, r.message);
    return r;
}

}  // namespace fennic::decompress::test

namespace fennic::decompress {
// Status names in failure messages.
inline void PrintTo(DecodeStatus s, std::ostream* os) {
    *os << StatusName(s);
}
}  // namespace fennic::decompress
