// Multi-disk archives: split volumes, removable drives, and the at-once rule.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "zip/zip_engine.h"
#include "zip_test_util.h"

namespace fennic {
namespace {

using test::CentralHeader;
using test::End;
using test::EndRecord;
using test::Entry;
using test::TempDir;
using test::WriteFile;

class VolumeTest : public ::testing::Test {
protected:
    // base.000 holds data only; base.001 data and the start of the directory; base.zip the
    // rest of the directory (from `split` on) and the end record naming disk 2.
    void MakeSplit(size_t headersOn001, bool straddle = false) {
        std::vector<std::string> headers;
        for (int i = 0; i < 3; ++i) {
            Entry e{"v" + std::to_string(i) + ".txt"};
            e.diskStart = uint16_t(i);
            headers.push_back(CentralHeader(e));
        }
        std::string on001 = std::string(300, 'D');
        std::string onZip;
        for (size_t i = 0; i < headers.size(); ++i)
            (i < headersOn001 ? on001 : onZip) += headers[i];
        if (straddle) {
            // Move 20 bytes of the next header's fixed part to the end of base.001.
            on001 += onZip.substr(0, 20);
            onZip.erase(0, 20);
        }
        End end;
        end.disk = 2;
        end.cdDisk = 1;
        end.onDisk = uint16_t(headers.size() - headersOn001);
        end.total = uint16_t(headers.size());
        end.cdSize = uint32_t(headers[0].size() * 3);
        end.cdOffset = 300;
        WriteFile(m_dir / "base.000", std::string(500, 'Z'));
        WriteFile(m_dir / "base.001", on001);
        WriteFile(m_dir / "base.zip", onZip + EndRecord(end));
    }
    int Open(int spanOption, bool removable) {
        m_engine.GetVolume().SetRemovableProbe(
            [removable](const std::string&) { return removable; });
        try {
            m_engine.Open(m_dir / "base.zip", ZipOpenReadOnly, spanOption);
            return 0;
        } catch (const CZipException& e) {
            return e.m_iCause;
        } catch (const CFileException&) {
            return -1;
        }
    }
    TempDir m_dir;
    CZipEngine m_engine;
};

TEST_F(VolumeTest, SplitArchiveReadsAcrossVolumes) {
    MakeSplit(2);
    ASSERT_EQ(Open(0, false), 0);
    EXPECT_EQ(m_engine.GetVolume().GetSpanMode(), SpanSplit);
    EXPECT_EQ(m_engine.GetDirectory().GetDiskNumber(), 2);
    EXPECT_EQ(m_engine.GetDirectory().GetCentralDirDisk(), 1);
    EXPECT_EQ(m_engine.GetDirectory().GetBytesBeforeArchive(), 0u);
    ASSERT_EQ(m_engine.GetEntryCount(), 3);
    for (uint16_t i = 0; i < 3; ++i) {
        CZipEntryHeader h;
        ASSERT_TRUE(m_engine.GetEntryInfo(h, i));
        EXPECT_EQ(h.GetFileName(), "v" + std::to_string(i) + ".txt");
        EXPECT_EQ(h.diskStart, i);
    }
    // The last header came from the last volume.
    EXPECT_EQ(m_engine.GetVolume().GetFilePath(), m_dir / "base.zip");
    m_engine.Close();
    EXPECT_TRUE(m_engine.IsClosed(false));
}

TEST_F(VolumeTest, NonZeroSpanOptionIsSplitEvenOnRemovableDrive) {
    MakeSplit(3);
    ASSERT_EQ(Open(1, true), 0);
    EXPECT_EQ(m_engine.GetEntryCount(), 3);
    EXPECT_EQ(m_engine.GetVolume().GetFilePath(), m_dir / "base.001");
}

TEST_F(VolumeTest, MissingVolumeIsAFileError) {
    MakeSplit(3);
    ::unlink((m_dir / "base.001").c_str());
    EXPECT_EQ(Open(0, false), -1);
    m_engine.Close(true);
    EXPECT_TRUE(m_engine.IsClosed(false));
}

TEST_F(VolumeTest, RemovableDriveWithoutCallbackIsNoCallback) {
    MakeSplit(3);
    EXPECT_EQ(Open(0, true), ZipErrNoCallback);
}

TEST_F(VolumeTest, CallbackGivingUpAborts) {
    MakeSplit(3);
    struct Seen {
        uint32_t disk = 0;
        int reason = 0;
    } seen;
    m_engine.GetVolume().SetDiskChangeCallback(
        [](uint32_t disk, int reason, void* data) {
            auto* s = static_cast<Seen*>(data);
            s->disk = disk;
            s->reason = reason;
            return false;
        },
        &seen);
    EXPECT_EQ(Open(0, true), ZipErrAborted);
    EXPECT_EQ(seen.disk, 2u);  // 1-based: disk 1 is the second
    EXPECT_EQ(seen.reason, -1);
}

TEST_F(VolumeTest, FixedPartStraddlingVolumesIsBadArchive) {
    MakeSplit(1, true);
    EXPECT_EQ(Open(0, false), ZipErrBadArchive);
}

TEST_F(VolumeTest, DiskZeroIsASingleFileWhateverTheOption) {
    WriteFile(m_dir / "base.zip", test::BuildArchive({Entry{"a"}}));
    ASSERT_EQ(Open(5, true), 0);
    EXPECT_EQ(m_engine.GetVolume().GetSpanMode(), SpanNone);
    EXPECT_EQ(m_engine.GetVolume().GetSpanState(), 0);
}

TEST(SplitVolumeNameTest, NamesFollowTheDiskNumber) {
    TempDir dir;
    WriteFile(dir / "set.zip", "x");
    CZipVolume volume;
    volume.SetRemovableProbe([](const std::string&) { return false; });
    volume.Open(dir / "set.zip", ZipOpenReadOnly, 0);
    volume.SetCurrentDisk(7);
    EXPECT_EQ(volume.GetSplitVolumeName(false, "/data/set.zip"), "/data/set.007");
    EXPECT_EQ(volume.GetSplitVolumeName(true, "/data/set.zip"), "/data/set.zip");
    EXPECT_EQ(volume.GetSplitVolumeName(false, "/da.ta/set"), "/da.ta/set.007");
    EXPECT_EQ(volume.GetLastDisk(), 7u);
    volume.Close(true);
    EXPECT_EQ(volume.GetCurrentDisk(), -1);
}

TEST(RemovableProbeTest, AnswersFromSysfs) {
    EXPECT_FALSE(CZipVolume::IsOnRemovableDrive("/nonexistent/file"));
    // A file on a tmpfs or overlay has no block device, hence is not removable.
    TempDir dir;
    WriteFile(dir / "f", "x");
    struct stat st;
    ASSERT_EQ(::stat((dir / "f").c_str(), &st), 0);
    const std::string flag = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                             std::to_string(minor(st.st_dev));
    if (::access(flag.c_str(), F_OK) != 0) {
        EXPECT_FALSE(CZipVolume::IsOnRemovableDrive(dir / "f"));
    }
}

}  // namespace
}  // namespace fennic
