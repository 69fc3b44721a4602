// Saving one entry from the bytes a ranged fetch would bring, for archives made by the real
// tools, checked by the real testers; and the destination kept when the save fails.

#include "remote/entry_archive_file.h"

#include <gtest/gtest.h>

#include "tests/remote/remote_support.h"
#include "zip/byte_reader.h"
#include "zip/zip_engine.h"

namespace fennic::remote {
namespace {

class SaveEntryArchiveTest : public test::ArchivesSuite<SaveEntryArchiveTest> {
public:
    static std::string MakeCommand(const std::string& dir) {
        return test::RemoteArchivesCommand(dir);
    }

protected:
    struct Listed {
        std::vector<CZipEntryHeader> entries;
        std::vector<uint64_t> offsets;
        uint64_t centralDir = 0;
    };
    static Listed List(const std::string& archive) {
        Listed l;
        CZipEngine engine;
        engine.Open(archive);
        for (int i = 0; i < engine.GetEntryCount(); ++i) {
            CZipEntryHeader h;
            EXPECT_TRUE(engine.GetEntryInfo(h, static_cast<size_t>(i)));
            l.offsets.push_back(h.LocalHeaderOffset());
            l.entries.push_back(std::move(h));
        }
        l.centralDir = engine.GetDirectory().GetCentralDirOffset();
        engine.Close();
        return l;
    }
    // What a ranged fetch of span would have brought.
    static std::string Slice(const std::string& archive, ByteSpan span) {
        return test::ReadFile(archive).substr(span.start, span.length);
    }
    // Saves entry i of archive and checks the result with the testers.
    void SaveAndVerify(const std::string& archive, const Listed& l, size_t i) {
        SCOPED_TRACE(archive + " entry " + std::to_string(i));
        auto span = EntryFetchSpan(l.entries[i], l.offsets[i], l.offsets, l.centralDir);
        ASSERT_TRUE(span);
        const std::string fetched = home / "fetched";
        test::WriteFile(fetched, Slice(archive, *span));
        const std::string dest = home / "saved.zip";
        SaveResult r = SaveEntryArchive(fetched, l.entries[i], 0, 0, dest);
        ASSERT_TRUE(r.ok) << r.why;
        EXPECT_EQ(test::VerifySaved(dest, archive), "");
        const size_t central = 46 + l.entries[i].GetRawFileName().size() +
                               l.entries[i].ExtraBytes().size() +
                               l.entries[i].CommentBytes().size();
        EXPECT_EQ(test::ReadFile(dest).size(), r.kept + central + 54);
        EXPECT_EQ(test::ListDir(home.path()).size(), 2u) << "no part file left behind";
    }
};

TEST_F(SaveEntryArchiveTest, EveryEntryOfSmallArchivesFromEachTool) {
    for (const char* name : {"py.zip", "sevenz.zip", "stream.zip", "pipe.zip", "commented.zip"}) {
        const std::string archive = Archive(name);
        Listed l = List(archive);
        ASSERT_FALSE(l.entries.empty()) << name;
        for (size_t i = 0; i < l.entries.size(); ++i) SaveAndVerify(archive, l, i);
    }
}

TEST_F(SaveEntryArchiveTest, InfoZipLocalExtraLongerThanCentralIsKeptWhole) {
    const std::string archive = Archive("zip_many.zip");
    Listed l = List(archive);
    ASSERT_EQ(l.entries.size(), 3030u);  // 3000 files and 30 folders
    const std::string bytes = test::ReadFile(archive);
    int longer = 0;
    for (size_t i : {size_t{0}, size_t{1}, size_t{7}, size_t{1500}, l.entries.size() - 1}) {
        const CZipEntryHeader& e = l.entries[i];
        CByteReader r(bytes.data(), bytes.size());
        r.Seek(e.LocalHeaderOffset() + 28);
        const uint16_t localExtra = r.U16();
        ASSERT_TRUE(r.Ok());
        if (localExtra > e.ExtraBytes().size()) ++longer;
        SaveAndVerify(archive, l, i);
    }
    // The case the central lengths alone would cut short is really there.
    EXPECT_GT(longer, 0);
}

TEST_F(SaveEntryArchiveTest, CentralRecordCarriesTheStoredNameBytes) {
    const std::string archive = Archive("py.zip");
    Listed l = List(archive);
    const std::string want =
        "docs/caf\xC3\xA9 na\xC3\xAFve \xC3\xBC"
        "ber.txt";
    size_t i = 0;
    while (i < l.entries.size() && l.entries[i].GetRawFileName() != want) ++i;
    ASSERT_LT(i, l.entries.size()) << "stored name not found as UTF-8 bytes with '/'";
    SaveAndVerify(archive, l, i);
    const std::string saved = test::ReadFile(home / "saved.zip");
    // Both the local header and the central record hold the same stored bytes.
    EXPECT_EQ(saved.substr(30, want.size()), want);
    EXPECT_NE(saved.find("PK\x01\x02"), std::string::npos);
    EXPECT_EQ(saved.substr(saved.find("PK\x01\x02") + 46, want.size()), want);
}

TEST_F(SaveEntryArchiveTest, BadBytesLeaveTheDestinationAsItWas) {
    const std::string archive = Archive("py.zip");
    Listed l = List(archive);
    auto span = EntryFetchSpan(l.entries[1], l.offsets[1], l.offsets, l.centralDir);
    ASSERT_TRUE(span);
    const std::string good = Slice(archive, *span);
    const std::string dest = home / "keep.zip";
    test::WriteFile(dest, "old content");

    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not a local header", "XX" + good.substr(2)},
        {"cut inside the fixed part", good.substr(0, 20)},
        {"cut inside the data", good.substr(0, good.size() - 5)},
        {"nothing at all", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFile(home / "fetched", c.bytes);
        SaveResult r = SaveEntryArchive(home / "fetched", l.entries[1], 0, 0, dest);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.why.empty());
        EXPECT_EQ(test::ReadFile(dest), "old content");
        EXPECT_EQ(test::ListDir(home.path()).size(), 2u);
    }
}

TEST_F(SaveEntryArchiveTest, DescriptorThatIsNotThereIsRefused) {
    const std::string archive = Archive("stream.zip");
    Listed l = List(archive);
    ASSERT_TRUE(l.entries[0].HasDataDescriptor());
    auto span = EntryFetchSpan(l.entries[0], l.offsets[0], l.offsets, l.centralDir);
    ASSERT_TRUE(span);
    std::string bytes = Slice(archive, *span);
    CZipEntryHeader wrongCrc = l.entries[0];
    wrongCrc.crc32 ^= 1;
    test::WriteFile(home / "fetched", bytes);
    EXPECT_FALSE(SaveEntryArchive(home / "fetched", wrongCrc, 0, 0, home / "x.zip").ok);
    EXPECT_FALSE(test::Exists(home / "x.zip"));
}

TEST_F(SaveEntryArchiveTest, FailedRenameKeepsTheOldFileAndLeavesNoPart) {
    const std::string archive = Archive("py.zip");
    Listed l = List(archive);
    auto span = EntryFetchSpan(l.entries[0], l.offsets[0], l.offsets, l.centralDir);
    ASSERT_TRUE(span);
    test::WriteFile(home / "fetched", Slice(archive, *span));
    // A non-empty folder at the destination cannot be replaced by a file.
    ASSERT_EQ(test::RunCommand("mkdir -p " + test::Quote(home / "dest.zip/inner")).status, 0);
    SaveResult r = SaveEntryArchive(home / "fetched", l.entries[0], 0, 0, home / "dest.zip");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error, 0);
    EXPECT_TRUE(test::Exists(home / "dest.zip/inner"));
    EXPECT_EQ(test::ListDir(home.path()).size(), 2u);
    // A destination folder that does not exist: nothing can be created there.
    r = SaveEntryArchive(home / "fetched", l.entries[0], 0, 0, home / "missing/dest.zip");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ENOENT);
}

}  // namespace
}  // namespace fennic::remote
