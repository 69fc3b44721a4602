// Finding the end record and reading the central directory.

#include "zip/zip_engine.h"
#include "zip_test_util.h"

namespace fennic {
namespace {

using test::BuildArchive;
using test::End;
using test::EndRecord;
using test::Entry;
using test::TempDir;
using test::WriteFile;

constexpr int kFileError = -1;

// 0 when the open succeeds, the cause of a CZipException, or kFileError.
int OpenCause(CZipEngine& engine, const std::string& path) {
    try {
        engine.Open(path, ZipOpenReadOnly);
        return 0;
    } catch (const CZipException& e) {
        return e.m_iCause;
    } catch (const CFileException&) {
        return kFileError;
    }
}

class DirectoryTest : public ::testing::Test {
protected:
    int OpenBytes(const std::string& bytes) {
        WriteFile(m_path, bytes);
        return OpenCause(m_engine, m_path);
    }
    TempDir m_dir;
    std::string m_path = m_dir / "a.zip";
    CZipEngine m_engine;
};

TEST_F(DirectoryTest, TooShortOrNoSignatureIsDirNotFound) {
    EXPECT_EQ(OpenBytes(""), ZipErrDirNotFound);
    m_engine.Close(true);
    EXPECT_EQ(OpenBytes("PK\x05"), ZipErrDirNotFound);
    m_engine.Close(true);
    EXPECT_EQ(OpenBytes(std::string(100000, 'x')), ZipErrDirNotFound);
}

TEST_F(DirectoryTest, EmptyArchiveOpensWithNoEntries) {
    ASSERT_EQ(OpenBytes(EndRecord(End{})), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 0);
    EXPECT_FALSE(m_engine.IsClosed());
    EXPECT_EQ(m_engine.GetDirectory().GetEndRecordPosition(), 0u);
}

TEST_F(DirectoryTest, ReadsEntriesAndEndRecordValues) {
    Entry a{"dir/sub/file.txt"};
    a.extra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
    a.comment = "first";
    a.crc = 0xABCD;
    a.compressed = 7;
    a.uncompressed = 9;
    a.localOffset = 1234;
    Entry b{"back\\slash"};
    b.external = 0x10;
    ASSERT_EQ(OpenBytes(BuildArchive({a, b}, "archive comment", 100)), 0);
    ASSERT_EQ(m_engine.GetEntryCount(), 2);
    CZipEntryHeader h;
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 0));
    EXPECT_EQ(h.GetFileName(), "dir\\sub\\file.txt");
    EXPECT_EQ(h.GetRawFileName(), "dir/sub/file.txt");
    EXPECT_EQ(std::string(h.ExtraBytes()), a.extra);
    EXPECT_EQ(h.GetComment(), "first");
    EXPECT_EQ(h.crc32, 0xABCDu);
    EXPECT_EQ(h.localHeaderOffset, 1234u);
    EXPECT_EQ(h.GetCentralSize(), 46u + 16 + 9 + 5);
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 1));
    EXPECT_EQ(h.GetFileName(), "back\\slash");
    EXPECT_TRUE(h.ExtraBytes().empty());
    EXPECT_TRUE(h.CommentBytes().empty());
    const CZipDirectory& d = m_engine.GetDirectory();
    EXPECT_EQ(d.GetEndComment().ToString(), "archive comment");
    EXPECT_EQ(d.GetTotalEntries(), 2);
    EXPECT_EQ(d.GetCentralDirOffset(), 100u);
    EXPECT_EQ(d.GetBytesBeforeArchive(), 0u);
    EXPECT_TRUE(d.IsOnDisk());
}

TEST_F(DirectoryTest, LongestCommentIsFoundInTheThirdChunk) {
    const std::string bytes = BuildArchive({Entry{"x"}}, std::string(65535, 'c'));
    ASSERT_EQ(OpenBytes(bytes), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 1);
    EXPECT_EQ(m_engine.GetDirectory().GetEndRecordPosition(), bytes.size() - 65557);
}

TEST_F(DirectoryTest, EndRecordBeyondTheReachIsNotFound) {
    // 65536 bytes after the record: its start lies 65558 bytes before the end.
    EXPECT_EQ(OpenBytes(BuildArchive({Entry{"x"}}) + std::string(65536, 'z')), ZipErrDirNotFound);
    m_engine.Close(true);
    EXPECT_EQ(OpenBytes(BuildArchive({Entry{"x"}}) + std::string(65535, 'z')), 0);
}

TEST_F(DirectoryTest, SignatureStraddlingTheChunkBorderIsFound) {
    // The record's first byte 32769 bytes before the end: two bytes in each chunk.
    std::string bytes = BuildArchive({Entry{"x"}}, std::string(32769 - 22, 'c'));
    ASSERT_EQ(OpenBytes(bytes), 0);
    EXPECT_EQ(m_engine.GetDirectory().GetEndRecordPosition(), bytes.size() - 32769);
    m_engine.Close();
    for (size_t back : {32768u, 32770u, 32771u, 32772u}) {
        bytes = BuildArchive({Entry{"x"}}, std::string(back - 22, 'c'));
        ASSERT_EQ(OpenBytes(bytes), 0) << back;
        EXPECT_EQ(m_engine.GetDirectory().GetEndRecordPosition(), bytes.size() - back);
        m_engine.Close();
    }
}

TEST_F(DirectoryTest, SignatureInsideTheCommentWins) {
    // The later occurrence is read as the record: an empty one here.
    const std::string inner = EndRecord(End{});
    ASSERT_EQ(OpenBytes(BuildArchive({Entry{"x"}}, "abc" + inner)), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 0);
}

TEST_F(DirectoryTest, SignatureInTheLast21BytesIsBadArchive) {
    EXPECT_EQ(OpenBytes(std::string(50, 'q') + "PK\x05\x06" + std::string(17, '\0')),
              ZipErrBadArchive);
    m_engine.Close(true);
    EXPECT_EQ(OpenBytes("PK\x05\x06"), ZipErrBadArchive);
}

TEST_F(DirectoryTest, ShortCommentIsBadArchive) {
    End end;
    end.comment = "short";
    end.commentLength = 6;
    EXPECT_EQ(OpenBytes(EndRecord(end)), ZipErrBadArchive);
}

TEST_F(DirectoryTest, StubInFrontIsMeasured) {
    const std::string archive = BuildArchive({Entry{"a"}, Entry{"b"}});
    ASSERT_EQ(OpenBytes(std::string(10000, 'S') + archive), 0);
    EXPECT_EQ(m_engine.GetDirectory().GetBytesBeforeArchive(), 10000u);
    EXPECT_EQ(m_engine.GetEntryCount(), 2);
}

TEST_F(DirectoryTest, TailFileWithLargeOffsetReadsFromItsFirstByte) {
    std::string cd;
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; cd.size() < 2000; ++i) {
        Entry e{"entry" + std::to_string(i)};
        e.localOffset = 1000 * i;
        offsets.push_back(e.localOffset);
        cd += test::CentralHeader(e);
    }
    End end;
    end.onDisk = end.total = uint16_t(offsets.size());
    end.cdSize = uint32_t(cd.size());
    end.cdOffset = 5000000;
    ASSERT_EQ(OpenBytes(cd + EndRecord(end)), 0);
    EXPECT_EQ(m_engine.GetDirectory().GetBytesBeforeArchive(), uint64_t(0) - 5000000u);
    ASSERT_EQ(m_engine.GetEntryCount(), int(offsets.size()));
    for (size_t i = 0; i < offsets.size(); ++i) {
        CZipEntryHeader h;
        ASSERT_TRUE(m_engine.GetEntryInfo(h, uint16_t(i)));
        EXPECT_EQ(h.localHeaderOffset, offsets[i]);
        EXPECT_EQ(h.GetFileName(), "entry" + std::to_string(i));
    }
}

TEST_F(DirectoryTest, OffsetsAbove2GiBWork) {
    // A tail file of an archive larger than 2 GiB: the offset is read as unsigned.
    const std::string cd = test::CentralHeader(Entry{"big"});
    End end;
    end.onDisk = end.total = 1;
    end.cdSize = uint32_t(cd.size());
    end.cdOffset = 0xF0000000u;
    ASSERT_EQ(OpenBytes(cd + EndRecord(end)), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 1);
}

TEST_F(DirectoryTest, SizeAndCountDisagreeingIsBadArchive) {
    End end;
    end.total = 3;
    EXPECT_EQ(OpenBytes(EndRecord(end)), ZipErrBadArchive);
    m_engine.Close(true);
    end.total = 0;
    end.cdSize = 46;
    EXPECT_EQ(OpenBytes(EndRecord(end)), ZipErrBadArchive);
}

TEST_F(DirectoryTest, EntriesOnDiskIsIgnored) {
    std::string cd = test::CentralHeader(Entry{"a"}) + test::CentralHeader(Entry{"b"});
    End end;
    end.onDisk = 7;
    end.total = 2;
    end.cdSize = uint32_t(cd.size());
    ASSERT_EQ(OpenBytes(cd + EndRecord(end)), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 2);
}

TEST_F(DirectoryTest, UntrustedCountsAndLengthsAreBadArchive) {
    // A count that cannot fit in the bytes left.
    End end;
    end.total = 65535;
    end.cdSize = 46;
    EXPECT_EQ(OpenBytes(EndRecord(end)), ZipErrBadArchive);
    m_engine.Close(true);
    // A directory size that places the directory beyond the end of the file.
    std::string archive = BuildArchive({Entry{"a"}});
    archive[archive.size() - 7] = 0x7F;
    EXPECT_EQ(OpenBytes(archive), ZipErrBadArchive);
    m_engine.Close(true);
    // A name, extra field or comment running past the end of the file.
    for (int field : {28, 30, 32}) {
        archive = BuildArchive({Entry{"a"}});
        archive[16 + field] = char(0xFF);
        archive[16 + field + 1] = char(0xFF);
        EXPECT_EQ(OpenBytes(archive), ZipErrBadArchive) << field;
        m_engine.Close(true);
    }
}

TEST_F(DirectoryTest, RecordsStayInsideTheDirectory) {
    // A comment length reaching into the end record: the file holds the bytes, the directory
    // does not, and the end record must not become an entry's comment.
    std::string archive = BuildArchive({Entry{"a"}, Entry{"b"}});
    const size_t second = 16 + 46 + 1;
    archive[second + 32] = char(10);
    EXPECT_EQ(OpenBytes(archive), ZipErrBadArchive);
    m_engine.Close(true);
    // The same records with the directory's size telling the truth open.
    EXPECT_EQ(OpenBytes(BuildArchive({Entry{"a"}, Entry{"b"}})), 0);
}

TEST_F(DirectoryTest, LargeRecordsAcrossReadWindowsKeepEveryByte) {
    // Records of the largest kind, and small ones between them, over more than a megabyte:
    // the directory is read in windows, and no record may be cut at a window's edge.
    std::vector<Entry> entries;
    for (int i = 0; i < 14; ++i) {
        Entry e{"entry" + std::to_string(i)};
        if (i % 3 != 2) {
            e.name = std::string(0xFFFF - 10, char('a' + i)) + std::to_string(i);
            e.extra = std::string(0xFFFF, '\0');
            e.comment = std::string(0xFFFF - i, char('A' + i));
        }
        entries.push_back(e);
    }
    ASSERT_EQ(OpenBytes(BuildArchive(entries)), 0);
    ASSERT_EQ(m_engine.GetEntryCount(), 14);
    for (int i = 0; i < 14; ++i) {
        const CZipEntryHeader& h = m_engine.GetDirectory().GetHeader(uint16_t(i));
        EXPECT_EQ(h.GetRawFileName(), entries[size_t(i)].name) << i;
        EXPECT_EQ(h.GetComment(), entries[size_t(i)].comment) << i;
        EXPECT_EQ(h.ExtraBytes().size(), entries[size_t(i)].extra.size()) << i;
    }
}

TEST_F(DirectoryTest, WrongHeaderSignatureKeepsOnlyCompleteRecords) {
    Entry bad{"b"};
    bad.signature = 0x02014b51;
    EXPECT_EQ(OpenBytes(BuildArchive({Entry{"a"}, bad, Entry{"c"}})), ZipErrBadArchive);
    // Failed late: the end record was read, the table holds the complete first record only.
    EXPECT_FALSE(m_engine.IsClosed());
    EXPECT_EQ(m_engine.GetEntryCount(), 1);
    m_engine.Close();
    EXPECT_TRUE(m_engine.IsClosed(false));
    EXPECT_EQ(m_engine.GetEntryCount(), 0);
}

TEST_F(DirectoryTest, ZeroLengthNameIsEmpty) {
    ASSERT_EQ(OpenBytes(BuildArchive({Entry{""}})), 0);
    CZipEntryHeader h;
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 0));
    EXPECT_TRUE(h.RawName().empty());
    EXPECT_EQ(h.GetFileName(), "");
}

TEST_F(DirectoryTest, NamesConvertedUnlessUtf8) {
    Entry oem{
        "\x81"
        "ber/x"};
    Entry utf8{
        "\xC3\xBC"
        "ber/x"};
    utf8.flags = 0x0800;
    ASSERT_EQ(OpenBytes(BuildArchive({oem, utf8})), 0);
    CZipEntryHeader h;
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 0));
    EXPECT_EQ(h.GetFileName(),
              "\xFC"
              "ber\\x");
    EXPECT_EQ(h.GetRawFileName(),
              "\x81"
              "ber/x");
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 1));
    EXPECT_EQ(h.GetFileName(),
              "\xC3\xBC"
              "ber\\x");
    EXPECT_EQ(h.GetRawFileName(),
              "\xC3\xBC"
              "ber/x");
}

}  // namespace
}  // namespace fennic
