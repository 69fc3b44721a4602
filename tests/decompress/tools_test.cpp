// Entries written by real tools decode to their original bytes whatever the input's pieces,
// plain and encrypted; methods we lack are named.

#include "decompress_test_util.h"
#include "zip/crc32.h"

namespace fennic::decompress {
namespace {

using test::Decode;
using test::Find;
using test::ToolEntry;

void ExpectDecodes(const ToolEntry& e, uint16_t method, const std::string& password = "") {
    SCOPED_TRACE(e.name);
    const std::string expected = e.facts.uncompressedSize ? test::Sample() : "";
    EXPECT_EQ(e.facts.aesVersion ? e.facts.aesMethod : e.facts.method, method);
    for (size_t piece : {1, 7, 65536, 0}) {
        const auto r = Decode(e.facts, e.data, piece, password);
        ASSERT_EQ(r.status, DecodeStatus::kOk) << "piece " << piece << ": " << r.message;
        EXPECT_TRUE(r.out == expected) << "piece " << piece << ": " << r.out.size() << " bytes";
        EXPECT_LE(r.largestPiece, EntryDecoder::kMaxPiece);
    }
}

TEST(ToolArchives, EveryMethodInPiecesOfAnySize) {
    const struct {
        const char* archive;
        const char* entry;
        uint16_t method;
    } cases[] = {
        {"7z-copy", "sample.bin", kMethodStored},
        {"7z-deflate", "sample.bin", kMethodDeflate},
        {"7z-bzip2", "sample.bin", kMethodBzip2},
        {"7z-lzma", "sample.bin", kMethodLzma},
        {"7z-lzma-noeos", "sample.bin", kMethodLzma},
        {"py-DEFLATED", "sample.bin", kMethodDeflate},
        {"py-DEFLATED", "empty", kMethodDeflate},
        {"py-BZIP2", "sample.bin", kMethodBzip2},
        {"py-BZIP2", "empty", kMethodBzip2},
        {"py-LZMA", "sample.bin", kMethodLzma},
        {"py-LZMA", "empty", kMethodLzma},
        {"zstd-xz", "sample.zst", kMethodZstd},
        {"zstd-xz", "empty.zst", kMethodZstd},
        {"zstd-xz", "two.zst", kMethodZstd},  // an empty frame, then the sample's
        {"zstd-xz", "sample.xz", kMethodXz},
        {"zstd-xz", "empty.xz", kMethodXz},
    };
    for (const auto& c : cases) ExpectDecodes(Find(c.archive, c.entry), c.method);
    // The empty entries hold empty streams, not nothing; LZMA's end marker is in bit 1.
    EXPECT_GT(Find("py-LZMA", "empty").data.size(), 0u);
    EXPECT_EQ(Find("7z-lzma", "sample.bin").facts.flags & 2, 2);
    EXPECT_EQ(Find("7z-lzma-noeos", "sample.bin").facts.flags & 2, 0);
}

TEST(ToolArchives, MethodsWeLackAreNamed) {
    for (const auto& [archive, number] : {std::pair{"7z-deflate64", 9}, {"7z-ppmd", 98}}) {
        const auto r = Decode(Find(archive, "sample.bin").facts, "");
        EXPECT_EQ(r.status, DecodeStatus::kUnsupportedMethod);
        EXPECT_EQ(r.message, "compression method " + std::to_string(number) + " is not supported");
    }
}

// A wrong password passes the one-byte (ZipCrypto) or two-byte (AES) check by chance now and
// then; such a run must still fail later, and most must fail at the check with no output.
void ExpectWrongPasswordsFail(const ToolEntry& e) {
    SCOPED_TRACE(e.name);
    int atCheck = 0;
    for (const char* password : {"secret", "Secret ", "x", "hunter2", "SECRET", "Secre", ""}) {
        const auto r = Decode(e.facts, e.data, 5, password);
        EXPECT_NE(r.status, DecodeStatus::kOk) << password;
        if (r.status == DecodeStatus::kWrongPassword) {
            ++atCheck;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.message, *password ? "wrong password"
                                           : "the entry is encrypted and no password was given");
        }
    }
    EXPECT_GE(atCheck, 5);
}

TEST(Encryption, ZipCryptoCheckedByTheCrcOrTheTime) {
    // 7z checks against the CRC's high byte; zip writes a data descriptor (bit 3) and checks
    // against the time's.
    const ToolEntry& byCrc = Find("7z-zipcrypto", "sample.bin");
    const ToolEntry& byTime = Find("zip-crypto", "sample.bin");
    const ToolEntry& stored = Find("zip-crypto-stored", "sample.bin");
    EXPECT_EQ(byCrc.facts.flags & 9, 1);
    EXPECT_EQ(byTime.facts.flags & 9, 9);
    EXPECT_EQ(stored.facts.flags & 9, 9);
    EXPECT_NE(byTime.facts.modTime >> 8, byTime.facts.crc32 >> 24);
    for (const ToolEntry* e : {&byCrc, &byTime, &stored}) {
        ExpectDecodes(*e, e == &stored ? kMethodStored : kMethodDeflate, "Secret");
        ExpectWrongPasswordsFail(*e);
    }
    ExpectDecodes(Find("zip-crypto", "empty"), kMethodStored, "Secret");  // the header alone
}

TEST(Encryption, WinZipAes) {
    const struct {
        const char* archive;
        uint16_t method;
        uint8_t strength;
    } cases[] = {{"7z-aes256", kMethodDeflate, 3},
                 {"7z-aes128-copy", kMethodStored, 1},
                 {"7z-aes192-bzip2", kMethodBzip2, 2}};
    for (const auto& c : cases) {
        const ToolEntry& e = Find(c.archive, "sample.bin");
        EXPECT_EQ(e.facts.method, kMethodAes);
        EXPECT_EQ(e.facts.aesVersion, 2);  // AE-2: 7z stores no CRC
        EXPECT_EQ(e.facts.aesStrength, c.strength);
        ExpectDecodes(e, c.method, "Secret");
        ExpectWrongPasswordsFail(e);
    }
    // The same entry as AE-1: the CRC is then stored and checked; AE-2 ignores it.
    const ToolEntry& e = Find("7z-aes128-copy", "sample.bin");
    const std::string sample = test::Sample();
    EntryFacts facts = e.facts;
    facts.aesVersion = 1;
    facts.crc32 = Crc32(sample.data(), sample.size()) ^ 0x100;
    EXPECT_EQ(Decode(facts, e.data, 0, "Secret").status, DecodeStatus::kCrcMismatch);
    facts.crc32 ^= 0x100;
    EXPECT_EQ(Decode(facts, e.data, 0, "Secret").status, DecodeStatus::kOk);
    facts.aesVersion = 2;
    facts.crc32 = 0x1234;
    EXPECT_EQ(Decode(facts, e.data, 0, "Secret").status, DecodeStatus::kOk);
}

}  // namespace
}  // namespace fennic::decompress
