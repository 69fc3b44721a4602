// The byte logic of the one-entry archive: fetch spans, local header and descriptor checks,
// and the records appended after the entry.

#include "remote/entry_archive.h"

#include <gtest/gtest.h>

#include "remote/le_bytes.h"

namespace fennic::remote {
namespace {

EntryRecord Entry(uint32_t offset, uint32_t compressed) {
    EntryRecord e;
    e.localHeaderOffset = offset;
    e.compressedSize = compressed;
    return e;
}

TEST(EntryFetchSpan, RunsToTheNextLocalHeaderWhateverTheTableOrder) {
    const std::vector<uint32_t> offsets = {5000, 0, 1000, 300, 1000};
    auto span = EntryFetchSpan(Entry(300, 100), offsets, 9000);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 300u);
    EXPECT_EQ(span->length, 700u);
    // An entry that shares its offset with another still ends at the next greater one.
    span = EntryFetchSpan(Entry(1000, 100), offsets, 9000);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 4000u);
}

TEST(EntryFetchSpan, LastEntryRunsToTheCentralDirectory) {
    auto span = EntryFetchSpan(Entry(5000, 10), {0, 5000}, 5100);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 5000u);
    EXPECT_EQ(span->length, 100u);
}

TEST(EntryFetchSpan, NeverMoreThanTheLongestLocalEntry) {
    // A lone entry in front of a huge gap: header, maximal name and extra, data, descriptor.
    auto span = EntryFetchSpan(Entry(0, 1000), {0}, 0xF0000000u);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 30u + 65535 + 65535 + 1000 + 16);
    // Near the 4 GiB limit the sum does not wrap.
    span = EntryFetchSpan(Entry(10, 0xFFFFFF00u), {10}, 0xFFFFFFF0u);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->length, 0xFFFFFFF0u - 10);
}

TEST(EntryFetchSpan, RefusesAnEntryAtOrBehindTheCentralDirectory) {
    EXPECT_FALSE(EntryFetchSpan(Entry(100, 1), {100}, 100));
    EXPECT_FALSE(EntryFetchSpan(Entry(200, 1), {200}, 100));
}

std::vector<uint8_t> LocalHeader(uint16_t nameLen, uint16_t extraLen, uint32_t sig = 0x04034b50) {
    std::vector<uint8_t> v;
    LeWriter w(v);
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
    LeWriter w(v);
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
    LeWriter w(v);
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
    EntryRecord e;
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

TEST(BuildCentralRecord, CopiesEveryFieldWithOffsetZeroAndTheStoredName) {
    EntryRecord e;
    e.versionMadeBy = 0x031E;
    e.versionNeeded = 20;
    e.flags = 0x0808;
    e.method = 8;
    e.modTime = 0x6000;
    e.modDate = 0x3021;
    e.crc32 = 0x12345678;
    e.compressedSize = 111;
    e.uncompressedSize = 222;
    e.diskStart = 0;
    e.internalAttributes = 1;
    e.externalAttributes = 0x81A40000;
    e.localHeaderOffset = 98765;
    e.storedName = {'d', 'o', 'c', 's', '/', 0xC3, 0xA9};
    e.extraField = {1, 2, 3, 4};
    e.comment = {'h', 'i'};
    auto rec = BuildCentralRecord(e);
    ASSERT_EQ(rec.size(), 46u + 7 + 4 + 2);
    LeReader r(rec);
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 0x02014b50u);
    const uint16_t want16[] = {0x031E, 20, 0x0808, 8, 0x6000, 0x3021};
    for (uint16_t w : want16) {
        ASSERT_TRUE(r.U16(u16));
        EXPECT_EQ(u16, w);
    }
    for (uint32_t w : {0x12345678u, 111u, 222u}) {
        ASSERT_TRUE(r.U32(u32));
        EXPECT_EQ(u32, w);
    }
    for (uint16_t w : {7, 4, 2, 0, 1}) {
        ASSERT_TRUE(r.U16(u16));
        EXPECT_EQ(u16, w);
    }
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 0x81A40000u);
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 0u) << "the saved entry starts the file";
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 46, rec.begin() + 53), e.storedName);
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 53, rec.begin() + 57), e.extraField);
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 57, rec.end()), e.comment);
}

TEST(BuildEndRecord, HoldsOneEntryAndTheProgramComment) {
    auto end = BuildEndRecord(0, 0, 59, 4242);
    ASSERT_EQ(end.size(), 54u);
    LeReader r(end);
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 0x06054b50u);
    for (uint16_t w : {0, 0, 1, 1}) {
        ASSERT_TRUE(r.U16(u16));
        EXPECT_EQ(u16, w);
    }
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 59u);
    ASSERT_TRUE(r.U32(u32));
    EXPECT_EQ(u32, 4242u);
    ASSERT_TRUE(r.U16(u16));
    EXPECT_EQ(u16, 32u);
    EXPECT_EQ(std::string(end.begin() + 22, end.end()), "Talvoren Fennic Explorer utility");
    // The disk numbers come from the listed archive.
    end = BuildEndRecord(3, 2, 1, 1);
    EXPECT_EQ(end[4], 3);
    EXPECT_EQ(end[6], 2);
}

TEST(ProposeZipName, CutsAtTheFirstDot) {
    EXPECT_EQ(ProposeZipName("readme.txt"), "readme.zip");
    EXPECT_EQ(ProposeZipName("docs.old\\readme.txt"), "docs.zip");
    EXPECT_EQ(ProposeZipName("(*) a.txt"), "(*) a.zip");
    EXPECT_EQ(ProposeZipName("docs\\"), ".zip");
    EXPECT_EQ(ProposeZipName(""), ".zip");
    EXPECT_EQ(ProposeZipName("noext"), ".zip");  // no dot: the extension alone
}

TEST(LeReader, NeverReadsPastItsEnd) {
    const uint8_t bytes[] = {1, 2, 3};
    LeReader r(bytes, 3);
    uint32_t u32 = 7;
    uint16_t u16 = 0;
    EXPECT_FALSE(r.U32(u32));
    EXPECT_EQ(u32, 7u);
    EXPECT_EQ(r.Position(), 0u);
    EXPECT_TRUE(r.U16(u16));
    EXPECT_EQ(u16, 0x0201);
    EXPECT_FALSE(r.U16(u16));
    EXPECT_FALSE(r.Skip(2));
    EXPECT_TRUE(r.Skip(1));
    EXPECT_FALSE(r.Seek(4));
    EXPECT_FALSE(r.U16At(2, u16));
}

}  // namespace
}  // namespace fennic::remote
