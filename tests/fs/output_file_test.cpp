// The output helper against real files, links, FIFOs and device nodes made in a scratch folder.

#include "fs/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "tests/fixtures/fixtures.h"
#include "tests/fs/fs_test_support.h"

namespace fennic::fs {
namespace {

using test::ReadFile;
using test::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

OutputStatus WriteWhole(const std::string& path, const std::string& bytes,
                        const OutputOptions& options = {}) {
    OutputFile out;
    OutputStatus s = out.Open(OutputTarget::Path(path), options);
    if (s.ok()) s = out.Write(bytes.data(), bytes.size());
    if (s.ok()) s = out.Commit();
    return s;
}

TEST(OutputFileTest, RegularFilesAreReplacedWholeWithTheirPermissionBits) {
    TempDir dir;
    const std::string path = dir.Write("out.zip", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    OutputFile out;
    ASSERT_TRUE(out.Open(OutputTarget::Path(path)).ok());
    EXPECT_TRUE(out.ReplacesTarget());
    ASSERT_TRUE(out.Write("new bytes", 9).ok());
    EXPECT_EQ(ReadFile(path), "old") << "the old file stays until the commit";
    ASSERT_EQ(test::ListDir(dir.path()).size(), 2u) << "the new file lies beside it";
    ASSERT_TRUE(out.Commit().ok());
    EXPECT_EQ(ReadFile(path), "new bytes");
    EXPECT_EQ(ModeOf(path) & 07777, 0640u);
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"out.zip"});

    // A file that must stay private gets its own bits whatever the old ones were.
    ASSERT_TRUE(WriteWhole(path, "secret", {0600, false}).ok());
    EXPECT_EQ(ModeOf(path) & 07777, 0600u);

    // A missing file is made, with the umask applied to a new file's bits.
    const mode_t old = ::umask(027);
    const OutputStatus made = WriteWhole(dir.path() + "/fresh.zip", "x");
    ::umask(old);
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(ModeOf(dir.path() + "/fresh.zip") & 07777, 0640u);
}

TEST(OutputFileTest, SymlinkStaysALinkAndItsFinalTargetGetsTheContent) {
    TempDir dir;
    const std::string real = dir.Write("data/real.zip", "old");
    dir.Write("links/keep", "");
    // Two hops, the first relative to its own folder.
    ASSERT_EQ(::symlink("../data/real.zip", (dir.path() + "/links/hop").c_str()), 0);
    ASSERT_EQ(::symlink("hop", (dir.path() + "/links/out.zip").c_str()), 0);

    ASSERT_TRUE(WriteWhole(dir.path() + "/links/out.zip", "new content").ok());
    EXPECT_TRUE(S_ISLNK(ModeOf(dir.path() + "/links/out.zip")));
    EXPECT_TRUE(S_ISLNK(ModeOf(dir.path() + "/links/hop")));
    EXPECT_TRUE(S_ISREG(ModeOf(real)));
    EXPECT_EQ(ReadFile(real), "new content");
    EXPECT_EQ(test::ListDir(dir.path() + "/data"), std::vector<std::string>{"real.zip"});
    EXPECT_EQ(test::ListDir(dir.path() + "/links"),
              (std::vector<std::string>{"hop", "keep", "out.zip"}));

    // A dangling link: its target is made, the link stays.
    ASSERT_EQ(::symlink("made.zip", (dir.path() + "/links/dangling").c_str()), 0);
    ASSERT_TRUE(WriteWhole(dir.path() + "/links/dangling", "abc").ok());
    EXPECT_TRUE(S_ISLNK(ModeOf(dir.path() + "/links/dangling")));
    EXPECT_EQ(ReadFile(dir.path() + "/links/made.zip"), "abc");

    // A loop of links is reported, nothing is made.
    ASSERT_EQ(::symlink("loop2", (dir.path() + "/links/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (dir.path() + "/links/loop2").c_str()), 0);
    const OutputStatus s = WriteWhole(dir.path() + "/links/loop1", "x");
    EXPECT_EQ(s.step, OutputStep::kResolve);
    EXPECT_EQ(s.error, ELOOP);
}

TEST(OutputFileTest, FifoGetsTheBytesAndStaysAFifo) {
    TempDir dir;
    const std::string fifo = dir.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string bytes = test::PatternBytes(300000, 4);  // more than a pipe holds
    test::FifoReader reader(fifo);
    OutputFile out;
    OutputStatus s = out.Open(OutputTarget::Path(fifo));
    EXPECT_FALSE(out.ReplacesTarget());
    if (s.ok()) s = out.Write(bytes.data(), bytes.size());
    if (s.ok()) s = out.Commit();
    out.Abandon();
    ASSERT_TRUE(s.ok()) << DescribeOutputFailure(s, fifo);
    EXPECT_TRUE(reader.Finish() == bytes);
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"pipe"});
}

TEST(OutputFileTest, CharacterDevicesAreWrittenInPlaceAndStayDevices) {
    TempDir dir;
    const std::string node = dir.path() + "/null";
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    ASSERT_TRUE(WriteWhole(node, "into the void").ok());
    struct stat st {};
    ASSERT_EQ(::lstat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"null"});

    // A device that refuses the bytes: the failure is the write's, the device stays.
    if (::access("/dev/full", W_OK) == 0) {
        const OutputStatus full = WriteWhole("/dev/full", "x");
        EXPECT_EQ(full.step, OutputStep::kWrite);
        EXPECT_EQ(full.error, ENOSPC);
        EXPECT_TRUE(S_ISCHR(ModeOf("/dev/full")));
    }
}

TEST(OutputFileTest, DirectoriesAreRefused) {
    TempDir dir;
    dir.Write("folder/inside", "kept");
    const std::string folder = dir.path() + "/folder";
    for (const std::string& path : {folder, folder + "/"}) {
        SCOPED_TRACE(path);
        OutputFile out;
        const OutputStatus s = out.Open(OutputTarget::Path(path));
        EXPECT_EQ(s.step, OutputStep::kKind);
        EXPECT_EQ(s.error, EISDIR);
        EXPECT_EQ(DescribeOutputFailure(s, path), path + " is a directory");
    }
    EXPECT_EQ(test::ListDir(folder), std::vector<std::string>{"inside"});
    EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"folder"});
}

class FailedOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        old = test::PatternBytes(5000, 2);
        path = dir.Write("keep.zip", old);
    }
    void ExpectOldFileAlone() {
        EXPECT_TRUE(ReadFile(path) == old);
        EXPECT_EQ(test::ListDir(dir.path()), std::vector<std::string>{"keep.zip"})
            << "no part file";
    }
    TempDir dir;
    std::string old, path;
};

TEST_F(FailedOutputTest, SourceThatFailsMidwayLeavesTheOldFile) {
    UniqueFd notReadable = Open(dir.path(), O_RDONLY | O_DIRECTORY);  // read(2) gives EISDIR
    ASSERT_TRUE(notReadable);
    {
        OutputFile out;
        ASSERT_TRUE(out.Open(OutputTarget::Path(path)).ok());
        ASSERT_TRUE(out.Write("first half", 10).ok());
        const OutputStatus s = out.CopyFrom(notReadable.Get());
        EXPECT_EQ(s.step, OutputStep::kSource);
        EXPECT_EQ(s.error, EISDIR);
    }  // never committed
    ExpectOldFileAlone();

    const OutputStatus s =
        CopyFileToOutput(dir.path() + "/no-such-source", OutputTarget::Path(path));
    EXPECT_EQ(s.step, OutputStep::kSource);
    EXPECT_EQ(s.error, ENOENT);
    ExpectOldFileAlone();
}

TEST_F(FailedOutputTest, StopBeforeTheRenameLeavesTheOldFile) {
    // Whole and flushed, yet a stop that came meanwhile keeps the old file.
    static bool stopped = true;
    SetCommitGuard([] { return !stopped; });
    const OutputStatus s = WriteWhole(path, "new bytes");
    EXPECT_EQ(s.step, OutputStep::kRename);
    EXPECT_EQ(s.error, ECANCELED);
    ExpectOldFileAlone();
    stopped = false;
    EXPECT_TRUE(WriteWhole(path, "new bytes").ok());
    SetCommitGuard(nullptr);
    EXPECT_EQ(ReadFile(path), "new bytes");
}

TEST_F(FailedOutputTest, WriteRefusedByTheSystemLeavesTheOldFile) {
    // A file size limit makes the kernel refuse the write (EFBIG), as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string bytes = test::PatternBytes(20000, 3);
    const OutputStatus s = WriteWhole(path, bytes);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);
    EXPECT_EQ(s.step, OutputStep::kWrite);
    EXPECT_EQ(s.error, EFBIG);
    ExpectOldFileAlone();
}

TEST_F(FailedOutputTest, MissingFolderIsACreateFailure) {
    const OutputStatus s = WriteWhole(dir.path() + "/none/out.zip", "x");
    EXPECT_EQ(s.step, OutputStep::kCreate);
    EXPECT_EQ(s.error, ENOENT);
    ExpectOldFileAlone();
}

TEST(OutputFileTest, CallersDescriptorIsWrittenAndLeftOpen) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    OutputFile out;
    ASSERT_TRUE(out.Open(OutputTarget::Descriptor(writeEnd.Get(), "stdout")).ok());
    ASSERT_TRUE(out.Write("abc", 3).ok());
    ASSERT_TRUE(out.Commit().ok());
    EXPECT_NE(::fcntl(writeEnd.Get(), F_GETFD), -1) << "still open";
    ASSERT_EQ(writeEnd.Close(), 0);
    char buf[8];
    EXPECT_EQ(ReadFull(readEnd.Get(), buf, sizeof buf), 3);
}

TEST(UniqueFdTest, ClosesOnceAndMovesOwnership) {
    TempDir dir;
    const std::string path = dir.Write("f", "0123456789");
    int raw = -1;
    {
        UniqueFd a = Open(path, O_RDONLY);
        ASSERT_TRUE(a);
        raw = a.Get();
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Get(), raw);
        UniqueFd c;
        c = std::move(b);
        EXPECT_EQ(::fcntl(raw, F_GETFD), FD_CLOEXEC) << "open, and closed on exec";
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);

    UniqueFd d = Open(path, O_RDONLY);
    char buf[4];
    EXPECT_EQ(ReadFullAt(d.Get(), buf, sizeof buf, 6), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(ReadFullAt(d.Get(), buf, sizeof buf, UINT64_MAX), -1);
    EXPECT_EQ(errno, EOVERFLOW);
}

TEST(ReadWholeFileTest, OnlyRegularFilesWithinTheLimit) {
    TempDir dir;
    std::string got;
    EXPECT_EQ(ReadWholeFile(dir.Write("small", "abc"), 3, got), 0);
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(ReadWholeFile(dir.Write("big", "abcd"), 3, got), EFBIG);
    EXPECT_EQ(ReadWholeFile(dir.path() + "/none", 3, got), ENOENT);
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadWholeFile(fifo, 3, got), EINVAL) << "and it did not wait for a writer";
    EXPECT_EQ(got, "abc");
}

}  // namespace
}  // namespace fennic::fs
