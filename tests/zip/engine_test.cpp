// The archive object's states, the exception mapping, the file layer and the buffer.

#include "zip/zip_engine.h"
#include "zip/zip_file.h"
#include "zip_test_util.h"

namespace fennic {
namespace {

using test::BuildArchive;
using test::Entry;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(ZipExceptionTest, InternalCodesMapToCauses) {
    const std::pair<int, int> table[] = {
        {1, 2},     {2, 3},     {-1, 4},    {-2, 5},    {-3, 6},    {-4, 7},
        {-5, 8},    {-6, 9},    {-101, 10}, {-102, 11}, {-103, 12}, {-104, 13},
        {-105, 14}, {-106, 15}, {-107, 16}, {-108, 17}, {-109, 18}, {0, 1},
        {-100, 1},  {-110, 19}, {-111, 1},  {3, 1},
    };
    for (auto [code, cause] : table) EXPECT_EQ(CZipException::CauseFromCode(code), cause) << code;
    try {
        CZipException::Throw(ZipCodeDirNotFound, "/x.zip");
        FAIL();
    } catch (const CException& e) {
        const auto* z = dynamic_cast<const CZipException*>(&e);
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->m_iCause, ZipErrDirNotFound);
        EXPECT_EQ(z->m_szFileName, "/x.zip");
    }
    EXPECT_NO_THROW(CZipException::CheckZlib(0, ""));
    EXPECT_NO_THROW(CZipException::CheckZlib(2, ""));
    EXPECT_THROW(CZipException::CheckZlib(-3, ""), CZipException);
    EXPECT_THROW(CZipException::CheckZlib(1, ""), CZipException);
}

TEST(ZipBufferTest, AllocateCopyAndRelease) {
    CZipBuffer a;
    EXPECT_EQ(a.GetBuffer(), nullptr);
    EXPECT_EQ(a.Allocate(0), nullptr);
    char* p = a.Allocate(4, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(a.ToString(), std::string(4, '\0'));
    p[1] = 'x';
    EXPECT_EQ(a.Allocate(4), p);  // same size keeps the memory and the bytes
    EXPECT_EQ(a.ToString()[1], 'x');
    a.Allocate(4, true);
    EXPECT_EQ(a.ToString(), std::string(4, '\0'));
    a.Assign(std::string("a\0b", 3));
    CZipBuffer b = a;
    EXPECT_NE(b.GetBuffer(), a.GetBuffer());
    EXPECT_EQ(b.ToString(), std::string("a\0b", 3));
    b = b;
    EXPECT_EQ(b.GetSize(), 3u);
    CZipBuffer empty;
    b = empty;
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.GetBuffer(), nullptr);
}

TEST(ZipFileTest, MissingFileAndDenyWrite) {
    TempDir dir;
    CFile f;
    CFileException error(0, 0, "");
    EXPECT_FALSE(f.Open(dir / "missing", CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, 2);
    EXPECT_EQ(error.m_strFileName, dir / "missing");

    WriteFile(dir / "f", "data");
    CFile writer;
    ASSERT_TRUE(writer.Open(dir / "f", CFile::modeReadWrite | CFile::shareDenyWrite));
    CFile other;
    EXPECT_FALSE(other.Open(dir / "f", CFile::modeRead | CFile::shareDenyWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    EXPECT_TRUE(other.Open(dir / "f", CFile::modeRead));  // without sharing rules
    writer.Close();
    CFile reader1, reader2;
    EXPECT_TRUE(reader1.Open(dir / "f", CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_TRUE(reader2.Open(dir / "f", CFile::modeRead | CFile::shareDenyWrite));
    char buf[8];
    EXPECT_EQ(reader1.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(reader1.GetLength(), 4u);
    EXPECT_THROW(reader1.Seek(-1, CFile::begin), CFileException);
}

class EngineTest : public ::testing::Test {
protected:
    TempDir m_dir;
    CZipEngine m_engine;
};

TEST_F(EngineTest, ClosedEngineAnswersFalse) {
    CZipEntryHeader h;
    h.crc32 = 77;
    EXPECT_TRUE(m_engine.IsClosed());
    EXPECT_TRUE(m_engine.IsClosed(false));
    EXPECT_EQ(m_engine.GetEntryCount(), 0);
    EXPECT_FALSE(m_engine.GetEntryInfo(h, 0));
    EXPECT_FALSE(m_engine.IsEntryDirectory(0));
    EXPECT_EQ(h.crc32, 77u);
    EXPECT_NO_THROW(m_engine.Close());
    EXPECT_NO_THROW(m_engine.Close(true));
}

TEST_F(EngineTest, NewRecordDefaults) {
    CZipEntryHeader h;
    EXPECT_EQ(h.method, 8);
    EXPECT_EQ(h.externalAttributes, 0x20u);
    EXPECT_EQ(h.modTime, 0);
    EXPECT_EQ(h.internalAttributes, 0);
    EXPECT_TRUE(h.RawName().empty() && h.CommentBytes().empty() && h.ExtraBytes().empty());
}

TEST_F(EngineTest, OpenWhileOpenDoesNothing) {
    WriteFile(m_dir / "a.zip", BuildArchive({Entry{"one"}}));
    WriteFile(m_dir / "b.zip", BuildArchive({Entry{"x"}, Entry{"y"}}));
    m_engine.Open(m_dir / "a.zip");
    m_engine.Open(m_dir / "b.zip");
    EXPECT_EQ(m_engine.GetEntryCount(), 1);
    EXPECT_EQ(m_engine.GetArchivePath(), m_dir / "a.zip");
    CZipEntryHeader h;
    EXPECT_FALSE(m_engine.GetEntryInfo(h, 1));
    m_engine.Close();
    EXPECT_EQ(m_engine.GetEntryCount(), 0);
    EXPECT_FALSE(m_engine.GetEntryInfo(h, 0));
    m_engine.Open(m_dir / "b.zip");
    EXPECT_EQ(m_engine.GetEntryCount(), 2);
}

TEST_F(EngineTest, EntryInfoIsADeepCopy) {
    Entry d{"folder"};
    d.external = 0x10;
    Entry u{"unix/"};
    u.external = 0x41ED0000;  // a mode in the high bits only, as makers on Unix write
    WriteFile(m_dir / "a.zip", BuildArchive({d, u}));
    m_engine.Open(m_dir / "a.zip");
    EXPECT_TRUE(m_engine.IsEntryDirectory(0));
    EXPECT_TRUE(m_engine.IsEntryDirectory(1));
    EXPECT_FALSE(m_engine.IsEntryDirectory(2));
    CZipEntryHeader h;
    ASSERT_TRUE(m_engine.GetEntryInfo(h, 0));
    h.SetRawFileName("Folder/");  // the copy is the caller's: the engine's stays
    CZipEntryHeader again;
    ASSERT_TRUE(m_engine.GetEntryInfo(again, 0));
    EXPECT_EQ(again.GetFileName(), "folder");
    // The engine's headers point into its directory's bytes; a copy outlives them.
    CZipEntryHeader moved = std::move(again);
    m_engine.Close();
    m_engine.Open(m_dir / "a.zip");  // the old bytes are gone, new ones in their place
    m_engine.Close();
    EXPECT_EQ(moved.GetFileName(), "folder");
    EXPECT_EQ(moved.GetRawFileName(), "folder");
    EXPECT_EQ(h.GetFileName(), "Folder\\");
}

TEST_F(EngineTest, FailedEarlyNeedsTheAfterErrorFlag) {
    const std::string path = m_dir / "junk.zip";
    WriteFile(path, std::string(1000, 'j'));
    try {
        m_engine.Open(path);
        FAIL();
    } catch (const CZipException& e) {
        EXPECT_EQ(e.m_iCause, ZipErrDirNotFound);
        EXPECT_EQ(e.m_szFileName, path);
    }
    EXPECT_TRUE(m_engine.IsClosed());
    EXPECT_FALSE(m_engine.IsClosed(false));  // the file is still open
    m_engine.Close();
    EXPECT_FALSE(m_engine.IsClosed(false));
    // It still holds the write lock: a second writer is refused.
    CZipEngine other;
    EXPECT_THROW(other.Open(path), CFileException);
    m_engine.Close(true);
    EXPECT_TRUE(m_engine.IsClosed(false));
    // Released: the same file can now be opened, here after it became an archive.
    WriteFile(path, BuildArchive({Entry{"ok"}}));
    m_engine.Open(path);
    EXPECT_EQ(m_engine.GetEntryCount(), 1);
}

TEST_F(EngineTest, FailedLateClosesEitherWayAndWritesNothing) {
    for (bool afterError : {false, true}) {
        Entry bad{"bad"};
        bad.signature = 0x12345678;
        const std::string path = m_dir / "bad.zip";
        const std::string bytes = BuildArchive({Entry{"good"}, bad}, "comment");
        WriteFile(path, bytes);
        EXPECT_THROW(m_engine.Open(path), CZipException);
        EXPECT_FALSE(m_engine.IsClosed());
        m_engine.Close(afterError);
        EXPECT_TRUE(m_engine.IsClosed());
        EXPECT_TRUE(m_engine.IsClosed(false));
        EXPECT_EQ(m_engine.GetEntryCount(), 0);
        EXPECT_EQ(ReadFile(path), bytes);
    }
}

TEST_F(EngineTest, MissingFileRaisesTheFileException) {
    try {
        m_engine.Open(m_dir / "none.zip");
        FAIL();
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(e.m_lOsError, 2);
    }
    EXPECT_TRUE(m_engine.IsClosed(false));
}

TEST_F(EngineTest, OpenForWritingLeavesTheArchiveUnchanged) {
    const std::string path = m_dir / "a.zip";
    const std::string bytes = BuildArchive({Entry{"a"}, Entry{"b"}}, "c");
    WriteFile(path, bytes);
    m_engine.Open(path, ZipOpenExisting);
    m_engine.Close();
    EXPECT_EQ(ReadFile(path), bytes);
}

}  // namespace
}  // namespace fennic
