// Hostile or damaged entries: flipped and missing bytes, sizes that lie, bytes after the
// stream, bombs, a sink that gives up, and headers that contradict themselves.

#include "decompress_test_util.h"
#include "zip/zip_entry_header.h"

namespace fennic::decompress {
namespace {

using test::Decode;
using test::Find;
using test::ToolEntry;

// The sample under every method.
const std::pair<const char*, const char*> kCases[] = {
    {"7z-copy", "sample.bin"}, {"7z-deflate", "sample.bin"},    {"7z-bzip2", "sample.bin"},
    {"7z-lzma", "sample.bin"}, {"7z-lzma-noeos", "sample.bin"}, {"zstd-xz", "sample.zst"},
    {"zstd-xz", "sample.xz"}};

bool IsStored(const ToolEntry& e) {
    return e.facts.method == kMethodStored;
}
// Without an end marker the declared size is where the stream ends: bytes past it are junk.
bool EndsAtDeclaredSize(const ToolEntry& e) {
    return e.facts.method == kMethodLzma && !(e.facts.flags & 2);
}

TEST(Damage, AFlippedByteNeverPasses) {
    for (const auto& [archive, entry] : kCases) {
        const ToolEntry& e = Find(archive, entry);
        for (size_t at : {e.data.size() / 3, e.data.size() / 2, e.data.size() - 40}) {
            std::string data = e.data;
            data[at] = char(data[at] ^ 0x55);
            const auto r = Decode(e.facts, data, 4096);
            EXPECT_NE(r.status, DecodeStatus::kOk) << archive << " at " << at;
            if (IsStored(e)) {
                EXPECT_EQ(r.status, DecodeStatus::kCrcMismatch);
            }
        }
    }
    // Encrypted: the stored AES entry has no stream to break, only its authentication code.
    for (const char* archive : {"zip-crypto", "7z-aes256", "7z-aes128-copy"}) {
        const ToolEntry& e = Find(archive, "sample.bin");
        std::string data = e.data;
        data[data.size() / 2] ^= 1;
        const auto r = Decode(e.facts, data, 0, "Secret");
        EXPECT_NE(r.status, DecodeStatus::kOk) << archive;
        if (archive == std::string("7z-aes128-copy")) {
            EXPECT_EQ(r.status, DecodeStatus::kCorrupt);
            EXPECT_NE(r.message.find("authentication code"), std::string::npos);
            data = e.data;
            data.back() ^= 1;  // the code itself
            EXPECT_EQ(Decode(e.facts, data, 0, "Secret").status, DecodeStatus::kCorrupt);
        }
    }
}

TEST(Damage, TruncatedStreamsEndEarly) {
    for (const auto& [archive, entry] : kCases) {
        const ToolEntry& e = Find(archive, entry);
        for (size_t cut : {size_t(1), e.data.size() / 2}) {
            // The directory declares fewer bytes: the stream itself is cut.
            EntryFacts facts = e.facts;
            facts.compressedSize -= cut;
            const auto r = Decode(facts, e.data.substr(0, facts.compressedSize), 7);
            EXPECT_EQ(r.status, IsStored(e) ? DecodeStatus::kSizeMismatch : DecodeStatus::kCorrupt)
                << archive << " cut " << cut << ": " << r.message;
            // The bytes stop before the declared number.
            const auto s = Decode(e.facts, e.data.substr(0, e.data.size() - cut), 7);
            EXPECT_EQ(s.status, DecodeStatus::kCorrupt);
            EXPECT_NE(s.message.find("ends after"), std::string::npos) << s.message;
        }
    }
}

TEST(Limits, DeclaredSizesThatLie) {
    const std::string sample = test::Sample();
    for (const auto& [archive, entry] : kCases) {
        const ToolEntry& e = Find(archive, entry);
        EntryFacts facts = e.facts;
        facts.uncompressedSize = sample.size() - 1;
        const auto r = Decode(facts, e.data, 65536);
        EXPECT_EQ(r.status,
                  EndsAtDeclaredSize(e) ? DecodeStatus::kCorrupt : DecodeStatus::kTooLarge)
            << archive << ": " << r.message;
        EXPECT_LE(r.out.size(), facts.uncompressedSize);
        EXPECT_TRUE(sample.compare(0, r.out.size(), r.out) == 0);
        facts.uncompressedSize = sample.size() + 1;
        const auto s = Decode(facts, e.data, 65536);
        EXPECT_EQ(s.status,
                  EndsAtDeclaredSize(e) ? DecodeStatus::kCorrupt : DecodeStatus::kSizeMismatch)
            << archive << ": " << s.message;
    }
    // 16 MiB of zeros declared as 10 bytes: nothing past byte 10 reaches the sink.
    for (const auto& [archive, entry] : {std::pair{"py-DEFLATED", "zeros"},
                                         {"py-BZIP2", "zeros"},
                                         {"py-LZMA", "zeros"},
                                         {"zstd-xz", "zeros.zst"},
                                         {"zstd-xz", "zeros.xz"}}) {
        EntryFacts facts = Find(archive, entry).facts;
        EXPECT_EQ(facts.uncompressedSize, 16u << 20);
        facts.uncompressedSize = 10;
        const auto r = Decode(facts, Find(archive, entry).data);
        EXPECT_EQ(r.status, DecodeStatus::kTooLarge);
        EXPECT_LE(r.out.size(), 10u);
        EXPECT_EQ(r.message, "the entry decodes to more than the 10 bytes its directory declares");
    }
}

TEST(Limits, BytesAfterTheStreamAreJunk) {
    for (const auto& [archive, entry] : kCases) {
        const ToolEntry& e = Find(archive, entry);
        if (IsStored(e)) continue;  // stored data has no end of its own
        EntryFacts facts = e.facts;
        facts.compressedSize += 4;
        for (size_t piece : {1, 0}) {
            const auto r = Decode(facts, e.data + "JUNK", piece);
            EXPECT_EQ(r.status, DecodeStatus::kCorrupt) << archive;
            if (facts.method != kMethodZstd) {  // zstd reads on and finds no frame there
                EXPECT_NE(r.message.find("bytes follow the end"), std::string::npos)
                    << archive << ": " << r.message;
            }
        }
    }
}

TEST(Limits, InputPastTheStoredSizeAndARefusingSink) {
    const ToolEntry& e = Find("7z-deflate", "sample.bin");
    const auto* data = reinterpret_cast<const uint8_t*>(e.data.data());
    DecodeStatus why;
    std::string message;
    int calls = 0;
    auto d = EntryDecoder::Create(
        e.facts, "", [&](const uint8_t*, size_t) { return ++calls > 0; }, why, message);
    EXPECT_EQ(d->Feed(data, e.data.size()), DecodeStatus::kOk);
    EXPECT_EQ(d->Feed(data, 1), DecodeStatus::kTooLarge);
    EXPECT_EQ(d->Finish(), DecodeStatus::kTooLarge);  // a failure stays

    calls = 0;
    d = EntryDecoder::Create(
        e.facts, "", [&](const uint8_t*, size_t) { return ++calls < 2; }, why, message);
    EXPECT_EQ(d->Feed(data, e.data.size()), DecodeStatus::kOutputFailed);
    EXPECT_EQ(d->Feed(data, 0), DecodeStatus::kOutputFailed);
    EXPECT_EQ(calls, 2);
}

// A zstd frame from a pipe keeps its 512 MiB window, over the limit: named with its size however
// the header arrives, also as the second frame of a stream.
TEST(Limits, AZstdWindowOverTheLimitIsNamedWithItsSize) {
    const ToolEntry& wide = Find("zstd-xz", "wide.zst");
    const std::string wideSays = "the zstd window of 536870912 bytes is over the 256 MiB allowed";
    for (size_t piece : {size_t{0}, size_t{1}, size_t{5}}) {
        const auto r = Decode(wide.facts, wide.data, piece);
        EXPECT_EQ(r.status, DecodeStatus::kTooLarge) << piece;
        EXPECT_EQ(r.message, wideSays) << piece;
    }
    EntryFacts second = wide.facts;
    const std::string both = Find("zstd-xz", "empty.zst").data + wide.data;
    second.compressedSize = both.size();
    EXPECT_EQ(Decode(second, both, 1).message, wideSays);
    // A header asking for 2 GiB (window descriptor 0xA8: 2^(10 + 21)) before any block.
    EntryFacts huge = wide.facts;
    const std::string header("\x28\xB5\x2F\xFD\x00\xA8\x01\x00\x00", 9);
    huge.compressedSize = header.size();
    EXPECT_EQ(Decode(huge, header).message,
              "the zstd window of 2147483648 bytes is over the 256 MiB allowed");
}

TEST(Limits, HeadersThatContradictThemselves) {
    const auto status = [](const EntryFacts& f) { return Decode(f, "", 0, "pw").status; };
    EntryFacts facts;
    facts.flags = 1;
    facts.compressedSize = 11;  // less than the 12-byte header
    EXPECT_EQ(status(facts), DecodeStatus::kCorrupt);
    facts.flags = 0x41;
    EXPECT_EQ(status(facts), DecodeStatus::kUnsupportedMethod);  // strong encryption
    facts.flags = 1;
    facts.method = kMethodAes;
    EXPECT_EQ(status(facts), DecodeStatus::kCorrupt);  // no AES extra field
    facts.aesVersion = 2;
    facts.aesStrength = 4;
    EXPECT_EQ(status(facts), DecodeStatus::kUnsupportedMethod);
    facts.aesStrength = 3;
    facts.aesMethod = 9;
    EXPECT_EQ(Decode(facts, "").message, "compression method 9 is not supported");
    facts.aesMethod = kMethodDeflate;
    facts.compressedSize = 16 + 2 + 10 - 1;  // salt, verifier, code
    EXPECT_EQ(status(facts), DecodeStatus::kCorrupt);
    // No bytes at all are an empty entry only when nothing is declared.
    EntryFacts none;
    none.method = kMethodBzip2;
    EXPECT_EQ(status(none), DecodeStatus::kOk);
    none.uncompressedSize = 1;
    EXPECT_EQ(status(none), DecodeStatus::kCorrupt);

    // The LZMA header: its properties' size, lc+lp past what the library takes, and a
    // dictionary over the limit that the declared size cannot bring down.
    const ToolEntry& e = Find("7z-lzma", "sample.bin");
    const auto patched = [&](size_t at, const std::string& bytes, uint64_t declared) {
        std::string data = e.data;
        data.replace(at, bytes.size(), bytes);
        EntryFacts f = e.facts;
        f.uncompressedSize = declared;
        return Decode(f, data, 3).status;
    };
    const uint64_t size = e.facts.uncompressedSize;
    EXPECT_EQ(patched(2, std::string("\x04\x00", 2), size), DecodeStatus::kCorrupt);
    EXPECT_EQ(patched(4, "\xE1", size), DecodeStatus::kCorrupt);            // 225: no lc/lp/pb
    EXPECT_EQ(patched(4, "\x08", size), DecodeStatus::kUnsupportedMethod);  // lc=8
    EXPECT_EQ(patched(5, "\xFF\xFF\xFF\xFF", size), DecodeStatus::kOk);
    EXPECT_EQ(patched(5, "\xFF\xFF\xFF\xFF", uint64_t(2) << 30), DecodeStatus::kTooLarge);
    // The AES extra field as a directory record carries it, and cut short.
    CZipEntryHeader h;
    h.SetExtraField(
        std::string("\x01\x99\x07\x00\x01\x00"
                    "AE\x02\x0C\x00",
                    11));
    std::string message;
    ASSERT_TRUE(FactsFromHeader(h, facts, message));
    EXPECT_EQ(facts.aesVersion, 1);
    EXPECT_EQ(facts.aesStrength, 2);
    EXPECT_EQ(facts.aesMethod, kMethodBzip2);
    h.SetExtraField(
        std::string("\x01\x99\x03\x00\x01\x00"
                    "A",
                    7));
    EXPECT_FALSE(FactsFromHeader(h, facts, message));
    EXPECT_EQ(message, "the AES extra field has 3 bytes, not 7");
}

}  // namespace
}  // namespace fennic::decompress
