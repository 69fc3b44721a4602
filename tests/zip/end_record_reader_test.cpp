// The remote archive's last 22 bytes read as its end record.

#include "remote/classic/end_record_reader.h"

#include "zip_test_util.h"

namespace fennic {
namespace {

using test::End;
using test::EndRecord;
using test::TempDir;
using test::WriteFile;

class EndRecordReaderTest : public ::testing::Test {
protected:
    int32_t ReadBytes(const std::string& bytes) {
        WriteFile(m_dir / "probe", bytes);
        CEndRecordReader reader(m_dir / "probe", m_fe);
        return reader.GetCentralDirOffset();
    }
    TempDir m_dir;
    test::RecordingFrontEnd m_fe;
};

TEST_F(EndRecordReaderTest, OffsetOfAnExactRecord) {
    End end;
    end.cdOffset = 1234;
    end.disk = 9;
    end.total = 4;
    end.cdSize = 77;
    EXPECT_EQ(ReadBytes(EndRecord(end)), 1234);
    CEndRecordReader reader(m_dir / "probe", m_fe);
    EXPECT_TRUE(reader.HasSignature());
    EXPECT_EQ(reader.GetDiskNumber(), 9);
    EXPECT_EQ(reader.GetTotalEntries(), 4);
    EXPECT_EQ(reader.GetCentralDirSize(), 77u);
    // Other fields do not matter.
    std::string bytes = EndRecord(end);
    for (size_t i = 4; i < 16; ++i) bytes[i] = char(0xEE);
    EXPECT_EQ(ReadBytes(bytes), 1234);
    EXPECT_TRUE(m_fe.boxes.empty());
}

TEST_F(EndRecordReaderTest, WrongLengthOrSignatureIsNotFound) {
    End end;
    end.cdOffset = 1234;
    const std::string record = EndRecord(end);
    EXPECT_EQ(ReadBytes(record.substr(0, 21)), -1);
    EXPECT_EQ(ReadBytes(record + "x"), -1);
    EXPECT_EQ(ReadBytes(record + "xy"), -1);
    EXPECT_EQ(ReadBytes(record + std::string(100, 'z')), -1);
    EXPECT_EQ(ReadBytes(""), -1);
    for (size_t i = 0; i < 4; ++i) {
        std::string bad = record;
        bad[i] ^= 0x01;
        EXPECT_EQ(ReadBytes(bad), -1) << i;
    }
    // The record of an archive with a comment is not at the very end.
    end.comment = "hello";
    const std::string withComment = EndRecord(end);
    EXPECT_EQ(ReadBytes(withComment.substr(withComment.size() - 22)), -1);
    EXPECT_TRUE(m_fe.boxes.empty());
}

TEST_F(EndRecordReaderTest, AllBitsSetReadsAsNotFound) {
    End end;
    end.cdOffset = 0xFFFFFFFF;
    EXPECT_EQ(ReadBytes(EndRecord(end)), -1);
    end.cdOffset = 0x80000000;
    EXPECT_EQ(ReadBytes(EndRecord(end)), INT32_MIN);
    CEndRecordReader reader(m_dir / "probe", m_fe);
    EXPECT_EQ(reader.GetRawCentralDirOffset(), 0x80000000u);
}

TEST_F(EndRecordReaderTest, MissingFileShowsTheErrorNumber) {
    CEndRecordReader reader(m_dir / "none", m_fe);
    EXPECT_EQ(reader.GetCentralDirOffset(), -1);
    EXPECT_FALSE(reader.HasSignature());
    ASSERT_EQ(m_fe.boxes.size(), 1u);
    EXPECT_EQ(m_fe.boxes[0].text, "2");
    EXPECT_EQ(m_fe.boxes[0].caption, "");
    EXPECT_EQ(m_fe.boxes[0].style, unsigned(MB_OK));
}

TEST_F(EndRecordReaderTest, DirectoryIsRefusedWithItsErrorNumber) {
    CEndRecordReader reader(m_dir.path(), m_fe);
    EXPECT_EQ(reader.GetCentralDirOffset(), -1);
    ASSERT_EQ(m_fe.boxes.size(), 1u);
    EXPECT_EQ(m_fe.boxes[0].text, std::to_string(EISDIR));
}

}  // namespace
}  // namespace fennic
