// The record layouts: end records with their ZIP64 forms read from crafted bytes, the 64-bit
// extra field, and the records a saved one-entry archive is given.

#include <gtest/gtest.h>

#include <cstring>

#include "zip/byte_reader.h"
#include "zip/zip_entry_header.h"
#include "zip/zip_exception.h"
#include "zip/zip_records.h"

namespace fennic {
namespace {

ArchiveReadAt Over(const std::vector<uint8_t>& bytes) {
    return [&bytes](uint64_t offset, void* buffer, size_t size) {
        if (offset > bytes.size() || bytes.size() - offset < size) return false;
        std::memcpy(buffer, bytes.data() + offset, size);
        return true;
    };
}

// `front` bytes, then the end of an archive whose directory of `dirSize` bytes is stored at
// `dirOffset`, written by the same code that writes saved archives.
std::vector<uint8_t> ArchiveEnd(size_t front, uint64_t entries, uint64_t dirSize,
                                uint64_t dirOffset, const std::string& comment = "") {
    std::vector<uint8_t> bytes(front, 0);
    AppendEndRecords(bytes, 0, 0, entries, dirSize, dirOffset, comment);
    return bytes;
}

TEST(EndRecords, SmallValuesNeedNoZip64AndLargeOnesAreFollowedThroughTheLocator) {
    auto small = ArchiveEnd(100, 3, 100, 0, "hello");
    ASSERT_EQ(small.size(), 100u + 22 + 5);
    EndRecord end;
    ASSERT_EQ(ReadEndRecords(100, small.size(), Over(small), end), EndRead::kOk);
    EXPECT_FALSE(end.zip64);
    EXPECT_EQ(end.totalEntries, 3u);
    EXPECT_EQ(end.commentLength, 5u);
    EXPECT_EQ(end.ExpectedDirStart(), 0u);

    // 70,000 entries do not fit 16 bits: the ZIP64 end record and locator come first.
    auto big = ArchiveEnd(4000, 70000, 4000, 0);
    ASSERT_EQ(big.size(), 4000u + 56 + 20 + 22);
    EXPECT_EQ(FindEndRecordSignature(big.data(), big.size()), big.size() - 22);
    ASSERT_EQ(ReadEndRecords(big.size() - 22, big.size(), Over(big), end), EndRead::kOk);
    EXPECT_TRUE(end.zip64);
    EXPECT_EQ(end.totalEntries, 70000u);
    EXPECT_EQ(end.zip64Position, 4000u);
    EXPECT_EQ(end.ExpectedDirStart(), 0u);
}

TEST(EndRecords, OffsetsPastFourGiBAndAShiftedArchive) {
    // The directory's 64-bit offset as stored; the bytes in front of it are not all here, so
    // only the end's own bytes are readable.
    const uint64_t offset = 5ull << 30;
    auto tail = ArchiveEnd(0, 1, 60, offset);
    std::vector<uint8_t> file = tail;
    file.insert(file.begin(), 64, 0);
    const uint64_t base = offset + 60 - 64;  // where `file` sits in the archive
    ArchiveReadAt read = [&](uint64_t at, void* buffer, size_t size) {
        if (at < base || at - base > file.size() || file.size() - (at - base) < size) return false;
        std::memcpy(buffer, file.data() + (at - base), size);
        return true;
    };
    EndRecord end;
    ASSERT_EQ(ReadEndRecords(base + file.size() - 22, base + file.size(), read, end), EndRead::kOk);
    EXPECT_TRUE(end.zip64);
    EXPECT_EQ(end.centralDirOffset, offset);
    EXPECT_EQ(end.ExpectedDirStart(), offset);

    // A stub of 1,000 bytes in front of an archive whose offsets were not adjusted: the
    // locator misses, the record right in front of it is taken, and the shift shows.
    auto shifted = ArchiveEnd(0, 70000, 4000, 0);
    shifted.insert(shifted.begin(), 1000 + 4000, 0);
    ASSERT_EQ(ReadEndRecords(shifted.size() - 22, shifted.size(), Over(shifted), end),
              EndRead::kOk);
    EXPECT_EQ(end.ExpectedDirStart() - end.centralDirOffset, 1000u);
}

TEST(EndRecords, DamagedRecordsAreRefusedNotTrusted) {
    EndRecord end;
    auto bytes = ArchiveEnd(4000, 70000, 4000, 0);
    const size_t at = bytes.size() - 22;
    // Cut short, or a position that leaves no room.
    EXPECT_EQ(ReadEndRecords(at, bytes.size() - 1, Over(bytes), end), EndRead::kBad);
    EXPECT_EQ(ReadEndRecords(bytes.size(), bytes.size(), Over(bytes), end), EndRead::kBad);
    // A locator whose ZIP64 record is gone.
    auto broken = bytes;
    broken[4000] = 'X';
    EXPECT_EQ(ReadEndRecords(at, broken.size(), Over(broken), end), EndRead::kZip64Broken);
    // A ZIP64 record whose own size claims more than lies before the locator.
    auto claims = bytes;
    claims[4000 + 4] = 0xFF;
    EXPECT_EQ(ReadEndRecords(at, claims.size(), Over(claims), end), EndRead::kZip64Broken);
    // A signature at the very end is found, one cut by the end is not.
    const uint8_t sig[] = {'P', 'K', 5, 6};
    EXPECT_EQ(FindEndRecordSignature(sig, 4), 0u);
    EXPECT_EQ(FindEndRecordSignature(sig, 3), std::string::npos);
    EXPECT_EQ(FindEndRecordSignature(nullptr, 0), std::string::npos);
}

CZipEntryHeader Header(uint64_t compressed, uint64_t uncompressed, const std::string& extra) {
    CZipEntryHeader h;
    h.versionMadeBy = 0x031E;
    h.versionNeeded = 20;
    h.flags = 0x0808;
    h.method = 8;
    h.modTime = 0x6000;
    h.modDate = 0x3021;
    h.crc32 = 0x12345678;
    h.compressedSize = static_cast<uint32_t>(compressed);
    h.uncompressedSize = static_cast<uint32_t>(uncompressed);
    h.internalAttributes = 1;
    h.externalAttributes = 0x81A40000;
    h.localHeaderOffset = 98765;
    h.SetRawFileName("docs/\xC3\xA9");
    h.ConvertFileName();  // the name for display differs; the record keeps the stored one
    h.SetExtraField(extra);
    h.SetComment("hi");
    return h;
}

TEST(CentralRecordWriter, CopiesEveryFieldWithTheNewOffsetAndTheStoredName) {
    const CZipEntryHeader h = Header(111, 222, std::string("\x0a\x00\x00\x00", 4));
    std::vector<uint8_t> rec;
    AppendCentralRecord(rec, h, 0);
    ASSERT_EQ(rec.size(), 46u + 7 + 4 + 2);
    CByteReader r(rec);
    EXPECT_EQ(r.U32(), 0x02014b50u);
    for (uint16_t w : {0x031E, 20, 0x0808, 8, 0x6000, 0x3021}) EXPECT_EQ(r.U16(), w);
    for (uint32_t w : {0x12345678u, 111u, 222u}) EXPECT_EQ(r.U32(), w);
    for (uint16_t w : {7, 4, 2, 0, 1}) EXPECT_EQ(r.U16(), w);
    EXPECT_EQ(r.U32(), 0x81A40000u);
    EXPECT_EQ(r.U32(), 0u) << "the saved entry starts the file";
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(std::string(rec.begin() + 46, rec.begin() + 53), "docs/\xC3\xA9");
    EXPECT_EQ(std::string(rec.begin() + 57, rec.end()), "hi");
}

TEST(CentralRecordWriter, SizesPastFourGiBGoToAZip64BlockThatReadsBack) {
    // The source's own ZIP64 block (with an offset the saved archive no longer has) is
    // replaced; other blocks are kept.
    std::string old("\x01\x00\x18\x00", 4);
    old += std::string(24, '\x07');
    old += std::string("\x55\x54\x01\x00\x09", 5);
    // Read as from an archive, so its values come from its block.
    std::vector<uint8_t> rec;
    CByteWriter raw(rec);
    raw.U32(kCentralHeaderSignature);
    for (int i = 0; i < 6; ++i) raw.U16(20);
    raw.U32(0x12345678);
    raw.U32(0xFFFFFFFF);
    raw.U32(0xFFFFFFFF);
    raw.U16(1);
    raw.U16(static_cast<uint16_t>(old.size()));
    raw.U16(0);
    raw.U16(0);
    raw.U16(0);
    raw.U32(0);
    raw.U32(0xFFFFFFFF);
    raw.Bytes("a", 1);
    raw.Bytes(old);
    CZipEntryHeader source;
    ASSERT_EQ(source.ParseCentral(rec.data(), rec.size(), "t"), rec.size());
    EXPECT_EQ(source.LocalHeaderOffset(), 0x0707070707070707u);
    rec.clear();
    AppendCentralRecord(rec, source, 0);
    CZipEntryHeader back;
    ASSERT_EQ(back.ParseCentral(rec.data(), rec.size(), "t"), rec.size());
    EXPECT_EQ(back.CompressedSize(), 0x0707070707070707u);
    EXPECT_EQ(back.UncompressedSize(), 0x0707070707070707u);
    EXPECT_EQ(back.LocalHeaderOffset(), 0u);
    EXPECT_GE(back.versionNeeded, 45);
    std::string unix;
    EXPECT_TRUE(back.FindExtra(0x5455, unix));
    EXPECT_EQ(unix, "\x09");

    // A ZIP64 block too short for the values its markers promise is a damaged record.
    rec.clear();
    CByteWriter w(rec);
    w.U32(kCentralHeaderSignature);
    rec.resize(46, 0);
    rec[20] = rec[21] = rec[22] = rec[23] = 0xFF;  // compressed size
    rec[24] = rec[25] = rec[26] = rec[27] = 0xFF;  // uncompressed size
    rec[30] = 12;                                  // extra field length
    rec.insert(rec.end(), {1, 0, 8, 0, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_THROW(back.ParseCentral(rec.data(), rec.size(), "t"), CZipException);
}

TEST(EndRecordWriter, HoldsOneEntryAndTheCommentWithZip64OnlyWhenNeeded) {
    std::vector<uint8_t> end;
    AppendEndRecords(end, 3, 2, 1, 59, 4242, "Talvoren Fennic Explorer utility");
    ASSERT_EQ(end.size(), 54u);
    CByteReader r(end);
    EXPECT_EQ(r.U32(), 0x06054b50u);
    for (uint16_t w : {3, 2, 1, 1}) EXPECT_EQ(r.U16(), w);
    EXPECT_EQ(r.U32(), 59u);
    EXPECT_EQ(r.U32(), 4242u);
    EXPECT_EQ(r.U16(), 32u);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(std::string(end.begin() + 22, end.end()), "Talvoren Fennic Explorer utility");

    // An entry kept past 4 GiB moves the directory there.
    end.clear();
    AppendEndRecords(end, 0, 0, 1, 59, 5ull << 30, "");
    ASSERT_EQ(end.size(), 56u + 20 + 22);
    CByteReader z(end);
    EXPECT_EQ(z.U32(), kZip64EndRecordSignature);
    z.Seek(48);
    EXPECT_EQ(z.U64(), 5ull << 30);
    EXPECT_EQ(z.U32(), kZip64LocatorSignature);
    z.Skip(4);
    EXPECT_EQ(z.U64(), (5ull << 30) + 59) << "the locator points at the ZIP64 record";
    z.Seek(56 + 20 + 16);
    EXPECT_EQ(z.U32(), 0xFFFFFFFFu);
    EXPECT_TRUE(z.Ok());
}

TEST(ByteReader, NeverReadsPastItsEnd) {
    const uint8_t bytes[] = {1, 2, 3};
    CByteReader r(bytes, 3);
    EXPECT_EQ(r.U16(), 0x0201);
    EXPECT_EQ(r.U16(), 0);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Position(), 2u);
    CByteReader s(bytes, 3);
    s.Seek(4);
    EXPECT_FALSE(s.Ok());
    CByteReader t(bytes, 3);
    t.Skip(SIZE_MAX);
    EXPECT_FALSE(t.Ok());
    EXPECT_EQ(t.Remaining(), 3u);
}

}  // namespace
}  // namespace fennic
