// The byte logic of the one-entry archive: fetch spans, local header and descriptor checks,
// and the records appended after the entry.

#include "remote/entry_archive.h"

#include <gtest/gtest.h>

#include "zip/byte_reader.h"

namespace fennic::remote {
namespace {

CZipEntryHeader Entry(uint32_t compressed) {
    CZipEntryHeader e;
    e.compressedSize = compressed;
    return e;
}

TEST(EntryFetchSpan, RunsToTheNextLocalHeaderWhateverTheTableOrder) {
    const std::vector<uint64_t> offsets = {5000, 0, 1000, 300, 1000};
    auto span = EntryFetchSpan(Entry(100), 300, offsets, 9000);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 300u);
    EXPECT_EQ(span->length, 700u);
    // An entry that shares its offset with another still ends at the next greater one.
    span = EntryFetchSpan(Entry(100), 1000, offsets, 9000);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 4000u);
}

TEST(EntryFetchSpan, LastEntryRunsToTheCentralDirectory) {
    auto span = EntryFetchSpan(Entry(10), 5000, {0, 5000}, 5100);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 5000u);
    EXPECT_EQ(span->length, 100u);
}

TEST(EntryFetchSpan, NeverMoreThanTheLongestLocalEntry) {
    // A lone entry in front of a huge gap: header, maximal name and extra, data, descriptor.
    auto span = EntryFetchSpan(Entry(1000), 0, {0}, 0xF0000000u);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 30u + 65535 + 65535 + 1000 + 24);
    // Near the 4 GiB limit the sum does not wrap.
    span = EntryFetchSpan(Entry(0xFFFFFF00u), 10, {10}, 0xFFFFFFF0u);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 0xFFFFFFF0u - 10);
}

TEST(EntryFetchSpan, RefusesAnEntryAtOrBehindTheCentralDirectory) {
    EXPECT_FALSE(EntryFetchSpan(Entry(1), 100, {100}, 100));
    EXPECT_FALSE(EntryFetchSpan(Entry(1), 200, {200}, 100));
}

std::vector<uint8_t> LocalHeader(uint16_t nameLen, uint16_t extraLen, uint32_t sig = 0x04034b50) {
    std::vector<uint8_t> v;
    CByteWriter w(v);
    w.U32(sig);
    for (int i = 0; i < 11; ++i) w.U16(0);  // version .. uncompressed size
    w.U16(nameLen);
    w.U16(extraLen);
    v.resize(v.size() + nameLen + extraLen, 'x');
    return v;
}

TEST(LocalHeaderLength, UsesTheLocalLengthsNotTheCentralOnes) {
    auto h = LocalHeader(5, 28);
    std::string why;
    auto len = LocalHeaderLength(h.data(), h.size(), h.size() + 50, &why);
    ASSERT_TRUE(len) << why;
    EXPECT_EQ(*len, 30u + 5 + 28);
}

TEST(LocalHeaderLength, RefusesWhatDoesNotFitOrIsNotAHeader) {
    std::string why;
    auto bad = LocalHeader(5, 0, 0x02014b50);
    EXPECT_FALSE(LocalHeaderLength(bad.data(), bad.size(), bad.size(), &why));
    EXPECT_NE(why.find("signature"), std::string::npos);

    auto h = LocalHeader(5, 10);
    // The stretch ends inside the fixed part, or inside the name and extra field.
    EXPECT_FALSE(LocalHeaderLength(h.data(), h.size(), 29, &why));
    EXPECT_FALSE(LocalHeaderLength(h.data(), 29, 29, &why));
    EXPECT_FALSE(LocalHeaderLength(h.data(), h.size(), 44, &why));
    EXPECT_TRUE(LocalHeaderLength(h.data(), h.size(), 45, &why));
    EXPECT_FALSE(LocalHeaderLength(h.data(), 0, 0, &why));
}

std::vector<uint8_t> Descriptor(bool withSig, uint32_t crc) {
    std::vector<uint8_t> v;
    CByteWriter w(v);
    if (withSig) w.U32(0x08074b50);
    w.U32(crc);
    w.U32(10);
    w.U32(20);
    return v;
}

// A local header stating flags, method, CRC and both sizes.
std::vector<uint8_t> StatedHeader(uint16_t flags, uint16_t method, uint32_t crc, uint32_t csize,
                                  uint32_t usize) {
    std::vector<uint8_t> v;
    CByteWriter w(v);
    w.U32(0x04034b50);
    w.U16(20);
    w.U16(flags);
    w.U16(method);
    w.U16(0);
    w.U16(0);
    w.U32(crc);
    w.U32(csize);
    w.U32(usize);
    w.U16(1);
    w.U16(0);
    v.push_back('a');
    return v;
}

TEST(LocalHeaderAgrees, ACopiedHeaderMustTellWhatTheCentralRecordTells) {
    CZipEntryHeader e;
    e.method = 8;
    e.crc32 = 0xABCD1234;
    e.compressedSize = 3;
    e.uncompressedSize = 9;
    std::string why;
    EXPECT_TRUE(LocalHeaderAgrees(StatedHeader(0, 8, 0xABCD1234, 3, 9).data(), 31, e, &why));
    // The local header's larger size would make the saved archive contradict itself.
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(0, 8, 0xABCD1234, 5, 9).data(), 31, e, &why));
    EXPECT_NE(why.find("disagree"), std::string::npos);
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(0, 0, 0xABCD1234, 3, 9).data(), 31, e, &why));
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(0, 8, 0, 3, 9).data(), 31, e, &why));
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(0, 8, 0, 0, 0).data(), 31, e, &why));
    // With a descriptor, zeros (and the streaming marker for sizes) stand in for the values.
    e.flags = 0x0008;
    EXPECT_TRUE(LocalHeaderAgrees(StatedHeader(8, 8, 0, 0, 0).data(), 31, e, &why));
    EXPECT_TRUE(
        LocalHeaderAgrees(StatedHeader(8, 8, 0, UINT32_MAX, UINT32_MAX).data(), 31, e, &why));
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(8, 8, 0, 4, 0).data(), 31, e, &why));
    // Too few bytes to tell.
    EXPECT_FALSE(LocalHeaderAgrees(StatedHeader(0, 8, 0xABCD1234, 3, 9).data(), 20, e, &why));
}

TEST(DataDescriptorLength, TellsTheTwoFormsByTheCrc) {
    auto d = Descriptor(true, 0xDEADBEEF);
    EXPECT_EQ(DataDescriptorLength(d.data(), d.size(), 0xDEADBEEF), 16u);
    d = Descriptor(false, 0xDEADBEEF);
    d.resize(16, 'P');  // bytes of the next header follow
    EXPECT_EQ(DataDescriptorLength(d.data(), d.size(), 0xDEADBEEF), 12u);
    // A CRC equal to the signature value, without the signature.
    d = Descriptor(false, 0x08074b50);
    EXPECT_EQ(DataDescriptorLength(d.data(), d.size(), 0x08074b50), 12u);
    // And with it.
    d = Descriptor(true, 0x08074b50);
    EXPECT_EQ(DataDescriptorLength(d.data(), d.size(), 0x08074b50), 16u);
}

TEST(DataDescriptorLength, RefusesAMissingOrCutDescriptor) {
    auto d = Descriptor(true, 1);
    EXPECT_FALSE(DataDescriptorLength(d.data(), d.size(), 2));
    EXPECT_FALSE(DataDescriptorLength(d.data(), 15, 1));
    d = Descriptor(false, 1);
    EXPECT_FALSE(DataDescriptorLength(d.data(), 11, 1));
    EXPECT_FALSE(DataDescriptorLength(nullptr, 0, 1));
}

TEST(EntryFetchSpan, SixtyFourBitEntriesAndDescriptors) {
    CZipEntryHeader big;
    big.compressedSize = 0xFFFFFFFF;
    big.uncompressedSize = 0xFFFFFFFF;
    std::vector<uint8_t> block;
    CByteWriter w(block);
    w.U16(1);
    w.U16(16);
    w.U64(6ull << 30);
    w.U64(5ull << 30);
    std::vector<uint8_t> rec(46, 0);
    rec[0] = 'P', rec[1] = 'K', rec[2] = 1, rec[3] = 2;
    for (int i = 20; i < 28; ++i) rec[i] = 0xFF;
    rec[30] = 20;
    rec.insert(rec.end(), block.begin(), block.end());
    ASSERT_EQ(big.ParseCentral(rec.data(), rec.size(), "t"), rec.size());
    ASSERT_EQ(big.CompressedSize(), 5ull << 30);
    // An entry starting past 4 GiB runs to the directory behind it.
    auto span = EntryFetchSpan(big, 4ull << 30, {4ull << 30}, 10ull << 30);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 4ull << 30);
    EXPECT_EQ(span->length, 30u + 65535 + 65535 + (5ull << 30) + 24);

    // A local header with 64-bit sizes agrees with the central record through its block.
    std::vector<uint8_t> local;
    CByteWriter l(local);
    l.U32(0x04034b50);
    l.U16(45);
    l.U16(0);
    l.U16(big.method = 0);
    l.U16(0);
    l.U16(0);
    l.U32(0);
    l.U32(0xFFFFFFFF);
    l.U32(0xFFFFFFFF);
    l.U16(0);
    l.U16(20);
    l.Bytes(block);
    std::string why;
    EXPECT_TRUE(LocalHeaderHasZip64(local.data(), local.size()));
    EXPECT_TRUE(LocalHeaderAgrees(local.data(), local.size(), big, &why)) << why;
    local[30 + 4] ^= 1;  // the uncompressed size
    EXPECT_FALSE(LocalHeaderAgrees(local.data(), local.size(), big, &why));

    // Its descriptor carries 8-byte sizes: 24 bytes with the signature, 20 without.
    std::vector<uint8_t> d;
    CByteWriter dw(d);
    dw.U32(0x08074b50);
    dw.U32(7);
    dw.U64(5ull << 30);
    dw.U64(6ull << 30);
    EXPECT_EQ(DataDescriptorLength(d.data(), d.size(), 7, true), 24u);
    EXPECT_EQ(DataDescriptorLength(d.data() + 4, d.size() - 4, 7, true), 20u);
    EXPECT_FALSE(DataDescriptorLength(d.data(), 23, 7, true));
}

TEST(ProposeZipName, CutsAtTheFirstDot) {
    EXPECT_EQ(ProposeZipName("readme.txt"), "readme.zip");
    EXPECT_EQ(ProposeZipName("docs.old\\readme.txt"), "docs.zip");
    EXPECT_EQ(ProposeZipName("(*) a.txt"), "(*) a.zip");
    EXPECT_EQ(ProposeZipName("docs\\"), ".zip");
    EXPECT_EQ(ProposeZipName(""), ".zip");
    EXPECT_EQ(ProposeZipName("noext"), ".zip");  // no dot: the extension alone
}

}  // namespace
}  // namespace fennic::remote
