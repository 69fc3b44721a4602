// The destination against a real scratch folder: DIR lies inside a parent that the tests list
// afterwards, so anything written outside DIR shows.

#include "extract/destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fixtures/fixtures.h"
#include "zip/zip_entry_header.h"

namespace fennic::extract {
namespace {

namespace stdfs = std::filesystem;
using test::ReadFile;

constexpr time_t kTime = 1000000000;  // 2001-09-09

EntryTarget Entry(const std::string& name, uint32_t unixMode = 0100644, bool dir = false) {
    EntryTarget e;
    e.storedName = name;
    e.hostSystem = kHostUnix;
    e.externalAttributes = unixMode << 16;
    e.isDirectory = dir;
    e.modTime = kTime;
    return e;
}

// Every path below root, sorted: "d/" for folders, "l -> target" for links.
std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = stdfs::recursive_directory_iterator(root, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink())
            rel += " -> " + stdfs::read_symlink(it->path()).string();
        else if (it->is_directory())
            rel += "/";
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class DestinationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldMask = ::umask(022);
        m_outside = m_scratch.path() + "/outside";
        stdfs::create_directory(m_outside);
        m_dir = m_scratch.path() + "/dest";
    }
    void TearDown() override {
        // Nothing escaped: the scratch folder holds only DIR and the empty "outside".
        for (const std::string& p : Tree(m_scratch.path()))
            EXPECT_TRUE(p == "outside/" || p.rfind("dest", 0) == 0) << p;
        ::umask(m_oldMask);
    }
    std::unique_ptr<Destination> Open(Existing existing = Existing::kNever,
                                      Destination::AskFunction ask = nullptr) {
        std::string error;
        auto d = Destination::Open(m_dir, existing, std::move(ask), error);
        EXPECT_TRUE(d) << error;
        return d;
    }
    // Writes and commits a whole file; the reason when it was not.
    static std::string Put(Destination& d, const EntryTarget& e, const std::string& content) {
        std::string why;
        auto w = d.BeginFile(e, why);
        if (w && w->Write(reinterpret_cast<const uint8_t*>(content.data()), content.size(), why))
            w->Commit(why);
        return why;
    }

    test::TempDir m_scratch;
    std::string m_outside, m_dir;
    mode_t m_oldMask = 0;
};

TEST_F(DestinationTest, ZipSlipNamesWriteNothing) {
    auto d = Open(Existing::kOverwrite);
    EntryTarget dos = Entry("..\\..\\evil");
    dos.hostSystem = kHostMsDos;
    for (const EntryTarget& e : {Entry("../evil"), Entry("/abs"), Entry("C:\\x"), dos,
                                 Entry("a/../../b"), Entry("a/../../b", 040755, true)}) {
        std::string why;
        EXPECT_EQ(d->SafePath(e, why), "");
        EXPECT_NE(Put(*d, e, "x").find("refused"), std::string::npos) << e.storedName;
        EXPECT_FALSE(d->MakeDirectory(e, why));
        EXPECT_FALSE(d->MakeSymlink(e, "t", why));
    }
    EXPECT_EQ(Tree(m_dir), std::vector<std::string>{});
}

TEST_F(DestinationTest, LinksAreMadeOnlyInsideAndNeverWalkedThrough) {
    auto d = Open(Existing::kOverwrite);
    std::string why;
    // Pointing outside: not made, and a file "link/x" then lands in a real folder.
    EXPECT_FALSE(d->MakeSymlink(Entry("link", 0120777), m_outside, why));
    EXPECT_NE(why.find("absolute"), std::string::npos) << why;
    EXPECT_FALSE(d->MakeSymlink(Entry("link", 0120777), "..", why));
    EXPECT_NE(why.find("leads out"), std::string::npos) << why;
    EXPECT_EQ(Put(*d, Entry("link/x"), "inside"), "");
    EXPECT_EQ(ReadFile(m_dir + "/link/x"), "inside");

    // Inside: made; ".." after a name is not, as "d/up" makes it climb out.
    EXPECT_TRUE(d->MakeSymlink(Entry("d/up", 0120777), "..", why)) << why;
    EXPECT_TRUE(d->MakeSymlink(Entry("s/l", 0120777), "../d", why)) << why;
    EXPECT_FALSE(d->MakeSymlink(Entry("x", 0120777), "d/up/..", why));
    // A link made by an entry is not a way for later entries either.
    EXPECT_NE(Put(*d, Entry("d/up/evil"), "x").find("d/up is a symbolic link"), std::string::npos);
    EXPECT_FALSE(d->MakeDirectory(Entry("s/l/sub", 040755, true), why));
    EXPECT_EQ(Tree(m_dir), (std::vector<std::string>{"d/", "d/up -> ..", "link/", "link/x", "s/",
                                                     "s/l -> ../d"}));
    EXPECT_EQ(Stat(m_dir + "/d/up").st_mtime, kTime);

    // A link already in DIR pointing outside: nothing goes through it; replacing the name
    // replaces the link itself.
    ASSERT_EQ(::symlink(m_outside.c_str(), (m_dir + "/pre").c_str()), 0);
    EXPECT_NE(Put(*d, Entry("pre/x"), "x").find("pre is a symbolic link"), std::string::npos);
    EXPECT_FALSE(d->MakeDirectory(Entry("pre/sub", 040755, true), why));
    EXPECT_EQ(Put(*d, Entry("pre"), "file now"), "");
    EXPECT_EQ(ReadFile(m_dir + "/pre"), "file now");
    EXPECT_TRUE(S_ISREG(Stat(m_dir + "/pre").st_mode));
}

TEST_F(DestinationTest, AFolderSwappedForALinkMidWriteDoesNotRedirectTheFile) {
    auto d = Open();
    std::string why;
    auto w = d->BeginFile(Entry("a/b/f"), why);
    ASSERT_TRUE(w) << why;
    stdfs::rename(m_dir + "/a/b", m_dir + "/a/moved");
    ASSERT_EQ(::symlink(m_outside.c_str(), (m_dir + "/a/b").c_str()), 0);
    ASSERT_TRUE(w->Write(reinterpret_cast<const uint8_t*>("data"), 4, why));
    ASSERT_TRUE(w->Commit(why)) << why;
    EXPECT_EQ(ReadFile(m_dir + "/a/moved/f"), "data");
}

TEST_F(DestinationTest, FilesAndFoldersDoNotTakeEachOthersPlace) {
    auto d = Open(Existing::kOverwrite);
    std::string why;
    ASSERT_EQ(Put(*d, Entry("file"), "f"), "");
    EXPECT_NE(Put(*d, Entry("file/x"), "x").find("file is not a folder"), std::string::npos);
    EXPECT_FALSE(d->MakeDirectory(Entry("file", 040755, true), why));
    EXPECT_NE(why.find("a file"), std::string::npos) << why;
    ASSERT_TRUE(d->MakeDirectory(Entry("dir", 040755, true), why)) << why;
    EXPECT_NE(Put(*d, Entry("dir"), "x").find("a folder"), std::string::npos);
    EXPECT_FALSE(d->MakeSymlink(Entry("dir", 0120777), "file", why));
    EXPECT_TRUE(d->MakeSymlink(Entry("file", 0120777), "dir", why)) << "replaces the file";
    EXPECT_EQ(Tree(m_dir), (std::vector<std::string>{"dir/", "file -> dir"}));
}

TEST_F(DestinationTest, PermissionBitsAndTimes) {
    auto d = Open();
    std::string why;
    EXPECT_EQ(Put(*d, Entry("suid", 0106755), "x"), "");
    EXPECT_EQ(Put(*d, Entry("open", 0100666), "x"), "");  // the umask still applies
    EntryTarget dos = Entry("dos.txt");
    dos.hostSystem = kHostMsDos;
    dos.externalAttributes = kAttrArchive;
    EXPECT_EQ(Put(*d, dos, "x"), "");
    EXPECT_EQ(Stat(m_dir + "/suid").st_mode & 07777, 0755u);
    EXPECT_EQ(Stat(m_dir + "/open").st_mode & 07777, 0644u);
    EXPECT_EQ(Stat(m_dir + "/dos.txt").st_mode & 07777, 0644u);
    EXPECT_EQ(Stat(m_dir + "/suid").st_mtime, kTime);

    // A read-only folder still gets its files; its bits and time come last.
    EntryTarget ro = Entry("ro", 040555, true);
    ro.modTime = kTime + 3600;
    ASSERT_TRUE(d->MakeDirectory(ro, why)) << why;
    EXPECT_EQ(Put(*d, Entry("ro/inner/f"), "x"), "");
    // A folder whose entry says 0644 would shut its owner out: the owner keeps rwx.
    ASSERT_TRUE(d->MakeDirectory(Entry("shut", 040644, true), why)) << why;
    EXPECT_EQ(Put(*d, Entry("shut/f"), "x"), "");
    stdfs::create_directory(m_dir + "/mine");
    ::chmod((m_dir + "/mine").c_str(), 0700);
    ASSERT_TRUE(d->MakeDirectory(Entry("mine", 040777, true), why)) << why;
    ASSERT_TRUE(d->Finish(why)) << why;
    EXPECT_EQ(Stat(m_dir + "/ro").st_mode & 07777, 0755u);
    EXPECT_EQ(Stat(m_dir + "/shut").st_mode & 07777, 0744u);
    EXPECT_EQ(ReadFile(m_dir + "/shut/f"), "x");
    EXPECT_EQ(Stat(m_dir + "/ro").st_mtime, kTime + 3600);
    EXPECT_EQ(Stat(m_dir + "/mine").st_mode & 07777, 0700u)
        << "a folder already there keeps its bits";
    EXPECT_EQ(Stat(m_dir + "/mine").st_mtime, kTime);
}

TEST_F(DestinationTest, ExistingFilesFollowThePolicy) {
    stdfs::create_directories(m_dir);
    const auto seed = [&] {
        for (const char* n : {"a", "b", "c", "d"}) std::ofstream(m_dir + "/" + n) << "old";
    };
    seed();
    for (Existing policy : {Existing::kNever, Existing::kAsk}) {  // no one to ask: skip
        auto d = Open(policy);
        std::string why;
        bool skipped = false;
        EXPECT_FALSE(d->BeginFile(Entry("a"), why, &skipped));
        EXPECT_TRUE(skipped);
        EXPECT_EQ(why, "a: skipped: exists");
    }
    EXPECT_EQ(Put(*Open(Existing::kOverwrite), Entry("a"), "new a"), "");
    EXPECT_EQ(ReadFile(m_dir + "/a"), "new a");

    seed();
    std::vector<std::string> asked;
    std::vector<int> answers = {kAnswerNo, kAnswerYes, kAnswerAll};
    const auto ask = [&](const std::string& shown) {
        asked.push_back(shown);
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : kAnswerNo;
    };
    auto d = Open(Existing::kAsk, ask);
    for (const char* n : {"a", "b", "c", "d"}) Put(*d, Entry(n), std::string("new ") + n);
    EXPECT_EQ(asked, (std::vector<std::string>{m_dir + "/a", m_dir + "/b", m_dir + "/c"}));
    EXPECT_EQ(ReadFile(m_dir + "/a"), "old");
    EXPECT_EQ(ReadFile(m_dir + "/b"), "new b");
    EXPECT_EQ(ReadFile(m_dir + "/d"), "new d") << "'A' answers for the rest";

    // 'N': this one and the rest are skipped, asked once.
    seed();
    answers = {kAnswerNone, kAnswerYes};
    asked.clear();
    d = Open(Existing::kAsk, ask);
    for (const char* n : {"a", "b"}) Put(*d, Entry(n), "new");
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(ReadFile(m_dir + "/b"), "old");
    EXPECT_EQ(Tree(m_dir), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(DestinationTest, AnUncommittedFileLeavesNothingAndTheOldFileWhole) {
    auto d = Open(Existing::kOverwrite);
    std::string why;
    ASSERT_EQ(Put(*d, Entry("kept"), "old"), "");
    for (const char* name : {"kept", "fresh"}) {
        auto w = d->BeginFile(Entry(name), why);
        ASSERT_TRUE(w) << why;
        ASSERT_TRUE(w->Write(reinterpret_cast<const uint8_t*>("part"), 4, why));
        EXPECT_EQ(Tree(m_dir).size(), 2u) << "written beside the name";
    }
    EXPECT_EQ(Tree(m_dir), std::vector<std::string>{"kept"});
    EXPECT_EQ(ReadFile(m_dir + "/kept"), "old");
}

TEST_F(DestinationTest, OpenMakesMissingParentsAndNamesWhatFails) {
    std::string error;
    EXPECT_TRUE(Destination::Open(m_dir + "/p/q", Existing::kNever, nullptr, error)) << error;
    EXPECT_TRUE(stdfs::is_directory(m_dir + "/p/q"));
    const std::string file = m_dir + "/p/file";
    std::ofstream(file) << "x";
    EXPECT_FALSE(Destination::Open(file + "/sub", Existing::kNever, nullptr, error));
    EXPECT_EQ(error, "cannot open " + file + "/sub: Not a directory");
}

}  // namespace
}  // namespace fennic::extract
