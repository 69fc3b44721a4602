// What the commands say when their output fails: standard output full or gone, a file that
// cannot grow, a link whose target is longer than a link may be.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/get_support.h"

namespace fennic::test {
namespace {

// A pipe whose reader is gone: a write to it fails with EPIPE where SIGPIPE is ignored.
class ClosedPipe {
public:
    ClosedPipe() {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            ::close(fds[0]);
            m_write = fds[1];
        }
    }
    ~ClosedPipe() {
        if (m_write >= 0) ::close(m_write);
    }
    ClosedPipe(const ClosedPipe&) = delete;
    ClosedPipe& operator=(const ClosedPipe&) = delete;
    int fd() const { return m_write; }

private:
    int m_write = -1;
};

TEST_F(GetTest, EveryFailedWriteToStandardOutputSaysWhyAndExitsOne) {
    NginxServer nginx(Archives().path());
    const std::string local = Quote(Archive("m-7z-Deflate.zip"));
    const std::string url = Quote(nginx.Url("/m-7z-Deflate.zip"));
    // Each command, and what it says on stderr before the failure (the classic road's own
    // notes).
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"cat " + local + " small.txt", ""},   // a piece a buffer would hold until the end
        {"cat " + local + " sample.bin", ""},  // many pieces
        {"cat " + url + " small.txt", ""},
        {"list " + local, ""},
        {"list --table " + local, ""},
        {"list --tsv " + local, ""},
        {"list --json " + local, ""},
        {"list " + url, ""},
        {"list --classic " + local, ""},
        {"list --classic --json " + local, ""},
        {"list --classic " + url, "Files list has been downloaded\n"},
        {"extract " + local + " small.txt -o -", ""},
        {"fetch " + url + " " + Quote(home / "fetched.zip"), ""},
        {"--help", ""},
        {"--version", ""},
        {"list --help", ""},
    };
    const ClosedPipe pipe;
    ASSERT_GE(pipe.fd(), 0);
    for (const auto& [command, before] : commands) {
        SCOPED_TRACE(command);
        const Finished full = RunFennicAfter(home, "", command + " >/dev/full");
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, before + "fennic: cannot write stdout: No space left on device\n");
        // As under a parent that ignores SIGPIPE: the write fails instead of ending the program.
        const Finished gone = RunFennicAfter(home, "trap '' PIPE;", command, pipe.fd());
        EXPECT_EQ(gone.status, 1);
        EXPECT_EQ(gone.err, before + "fennic: cannot write stdout: Broken pipe\n");
    }
}

// A reader that left (`| head`) stops the run as a stop signal would: 128 + SIGPIPE, no word of
// the failed write, and the private temporary folder of the window's road goes with it.
TEST_F(GetTest, AReaderThatLeftEndsTheRunAndTheTemporaryFolderGoes) {
    NginxServer nginx(Archives().path());
    PyFtpServer ftp(Archives().path(), "joe", "pw");
    const std::string ftpUrl =
        "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/m-7z-Deflate.zip";
    const std::string url = Quote(nginx.Url("/m-7z-Deflate.zip"));
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"list --classic " + url, "Files list has been downloaded\n"},
        {"list --classic --json " + Quote(ftpUrl), "Files list has been downloaded\n"},
        {"list " + url, ""},
        {"cat " + Quote(ftpUrl) + " sample.bin", ""},
    };
    const ClosedPipe pipe;
    ASSERT_GE(pipe.fd(), 0);
    const std::string tmp = home / "tmp";
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    for (const auto& [command, before] : commands) {
        SCOPED_TRACE(command);
        const Finished f =
            RunFennicAfter(home, "export TMPDIR=" + Quote(tmp) + ";", command, pipe.fd());
        EXPECT_EQ(f.status, 128 + SIGPIPE);
        EXPECT_EQ(f.err, before);
        EXPECT_EQ(ListDir(tmp), Strings{});
    }
}

TEST_F(GetTest, AFileThatCannotGrowNamesItsEntryOnce) {
    // A file size limit stands in for a full disk: each write past it fails (EFBIG).
    const std::string out = home / "out";
    const Finished r =
        RunFennicAfter(home, "ulimit -f 100; trap '' XFSZ;",
                       "get " + Quote(Archive("m-7z-Deflate.zip")) + " -d " + Quote(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fennic: sample.bin: cannot write " + out + "/sample.bin: File too large\n");
    EXPECT_EQ(ListDir(out), (Strings{"empty", "small.txt"}));
    EXPECT_EQ(ReadFile(out + "/small.txt"), Original("small.txt"));
}

TEST_F(GetTest, ALinkTargetPastTheBoundIsRefusedByNameWithTheBound) {
    const std::string fits = std::string(4094, 'a') + "b";
    const std::string archive = home / "links.zip";
    const CommandResult made = RunCommand(
        "/usr/bin/python3 -c 'import sys, zipfile\n"
        "def link(z, name, target):\n"
        "    i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)); i.create_system = 3\n"
        "    i.external_attr = 0o120777 << 16; i.compress_type = zipfile.ZIP_DEFLATED\n"
        "    z.writestr(i, target)\n"
        "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
        "    link(z, \"fits\", \"a\" * 4094 + \"b\")\n"
        "    link(z, \"over\", \"a\" * 4096)\n"
        "    link(z, \"far\", \"a/\" * 50000)\n"
        "' " +
        Quote(archive));
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string out = home / "out";
    std::string err;
    const CommandResult r = Fennic("get " + Quote(archive) + " -d " + Quote(out), &err);
    EXPECT_EQ(r.status, 1);
    // The connections share the entries, so the two lines come in either order.
    for (const char* name : {"over", "far"}) {
        EXPECT_TRUE(Has(err, std::string("fennic: ") + name +
                                 ": the link's target is too long (more than 4095 bytes)\n"))
            << err;
    }
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_EQ(ListDir(out), Strings{"fits"});
    char target[8192];
    const ssize_t n = ::readlink((out + "/fits").c_str(), target, sizeof target);
    EXPECT_EQ(std::string(target, n > 0 ? static_cast<size_t>(n) : 0), fits);
}

}  // namespace
}  // namespace fennic::test
