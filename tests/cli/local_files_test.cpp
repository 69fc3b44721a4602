// What the command line does to local files: `fennic fetch` touches FILE only after a transfer
// that succeeded and writes devices, FIFOs and standard output in place; the private temporary
// folder is never replaced by the shared one and goes away on SIGTERM and SIGHUP too.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"
#include "tests/fs/fs_test_support.h"

namespace fennic::test {
namespace {

// fennic in `work`, with a temporary folder of its own there.
class CliFilesTest : public ::testing::Test {
protected:
    CliFilesTest() : body(PatternBytes(150000, 5)) {
        root.Write("a.bin", body);
        ::mkdir(tmp().c_str(), 0700);
    }

    std::string tmp() const { return work / "tmp"; }

    pid_t Start(const std::vector<std::string>& args, Environment env = {}) {
        env.emplace("TMPDIR", tmp());
        return StartFennic(work, args, env);
    }
    Finished Wait(pid_t pid) { return WaitFennic(work, pid); }
    Finished Run(const std::vector<std::string>& args, const Environment& env = {}) {
        return Wait(Start(args, env));
    }
    // Every run removes its private temporary folder.
    void ExpectNoTempLeft() {
        EXPECT_EQ(::rmdir(tmp().c_str()), 0) << "something left in TMPDIR";
        ::mkdir(tmp().c_str(), 0700);
    }

    TempDir work, root;
    std::string body;
};

TEST_F(CliFilesTest, FailedFetchLeavesTheOldFileByteForByte) {
    NginxServer nginx(root.path());
    const std::string old = PatternBytes(3000, 8);
    const std::string file = work.Write("out/keep.bin", old);

    // The server answers 404; whatever the exit status, the old file stays.
    Finished f = Run({"fetch", "--range", "0", "9", nginx.Url("/missing.bin"), file});
    EXPECT_TRUE(ReadFile(file) == old) << f.err;
    // Nobody listens: the transfer fails at connect.
    const std::string closed = "http://127.0.0.1:" + std::to_string(FreePort()) + "/a.bin";
    f = Run({"fetch", closed, file});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("could not be made"), std::string::npos) << "no cause: " << f.err;
    EXPECT_TRUE(ReadFile(file) == old) << f.err;
    f = Run({"fetch", "--range", "0", "9", closed, file});
    EXPECT_EQ(f.status, 1);
    EXPECT_TRUE(ReadFile(file) == old) << f.err;
    EXPECT_EQ(ReadFile(work.path() + "/out/keep.bin").size(), old.size());
    ExpectNoTempLeft();

    // A fetch that works replaces it, keeping its permission bits.
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    f = Run({"fetch", nginx.Url("/a.bin"), file});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_TRUE(ReadFile(file) == body);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ListDir(work.path() + "/out"), std::vector<std::string>{"keep.bin"});
    ExpectNoTempLeft();
}

TEST_F(CliFilesTest, FetchWritesDevicesFifosAndStandardOutputInPlace) {
    NginxServer nginx(root.path());

    Finished f = Run({"fetch", nginx.Url("/a.bin"), "-"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_TRUE(f.out == body) << "stdout holds the bytes only";
    EXPECT_NE(f.err.find("150000\n"), std::string::npos) << "the size goes to stderr: " << f.err;
    EXPECT_NE(::access((work.path() + "/-").c_str(), F_OK), 0) << "no file named '-'";

    const std::string fifo = work.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FifoReader reader(fifo);
    f = Run({"fetch", "--range", "100", "50099", nginx.Url("/a.bin"), fifo});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_TRUE(reader.Finish() == body.substr(100, 50000));
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    const std::string node = work.path() + "/null";
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        f = Run({"fetch", nginx.Url("/a.bin"), node});
        EXPECT_EQ(f.status, 0) << f.err;
        ASSERT_EQ(::lstat(node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(st.st_rdev, makedev(1, 3));
        // A failed fetch leaves the node alone too.
        f = Run({"fetch", nginx.Url("/missing.bin"), node});
        ASSERT_EQ(::lstat(node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    } else {
        ADD_FAILURE() << "tests run as root here, yet mknod failed: " << std::strerror(errno);
    }
    ExpectNoTempLeft();
}

TEST_F(CliFilesTest, FetchFollowsLinksAndRefusesFolders) {
    NginxServer nginx(root.path());
    const std::string target = work.Write("real.bin", "old");
    const std::string link = work.path() + "/link.bin";
    ASSERT_EQ(::symlink("real.bin", link.c_str()), 0);
    Finished f = Run({"fetch", nginx.Url("/a.bin"), link});
    EXPECT_EQ(f.status, 0) << f.err;
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(ReadFile(target) == body);

    const std::string folder = work.path() + "/folder";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    f = Run({"fetch", nginx.Url("/a.bin"), folder});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find(folder + " is a directory"), std::string::npos) << f.err;
    EXPECT_EQ(::rmdir(folder.c_str()), 0) << "the folder was left empty";
    ExpectNoTempLeft();
}

TEST_F(CliFilesTest, NoPrivateTemporaryFolderMeansNoFetchAndNoSharedFallback) {
    NginxServer nginx(root.path());
    const std::string file = work.Write("keep.bin", "old");
    // A folder where nobody, root included, can make anything.
    Finished f = Run({"fetch", nginx.Url("/a.bin"), file}, {{"TMPDIR", "/proc"}});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("cannot create a private temporary folder under /proc: "),
              std::string::npos)
        << f.err;
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_TRUE(nginx.AccessLog().empty()) << "nothing was fetched";

    // The window's road keeps its tail in the folder; the direct road needs none to list.
    f = Run({"list", "--classic", nginx.Url("/a.bin")}, {{"TMPDIR", "/proc"}});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("cannot create a private temporary folder under /proc"), std::string::npos)
        << f.err;
    f = Run({"list", nginx.Url("/a.bin")}, {{"TMPDIR", "/proc"}});
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("not a ZIP archive"), std::string::npos) << f.err;
}

// A server that takes the request and holds the reply until the test ends.
class HeldServerTest : public CliFilesTest {
protected:
    HeldServerTest() : server([this](const RawHttpRequest&, HttpPeer& peer) { peer.Wait(gate); }) {}
    ~HeldServerTest() override { gate.Open(); }

    // Runs `fennic list` on a road, sends sig once its request waits at the server, and
    // returns how it ended.
    Finished ListAndSignal(int sig, bool classic) {
        const size_t before = server.Requests().size();
        const pid_t pid = classic ? Start({"list", "--classic", server.Url("/a.zip")})
                                  : Start({"list", server.Url("/a.zip")});
        const bool waiting = WaitUntil([&] { return server.Requests().size() > before; });
        EXPECT_TRUE(waiting) << "the request never arrived";
        const std::vector<std::string> made = ListDir(tmp());
        // The window's road keeps its files in a private folder; the direct road lists
        // from memory.
        EXPECT_EQ(made.size(), classic ? 1u : 0u);
        if (classic) {
            EXPECT_EQ(made.empty() ? "" : made[0].substr(0, 7), "fennic-") << "its private folder";
        }
        ::kill(pid, sig);
        return Wait(pid);
    }

    Gate gate;
    ScriptHttpServer server;
};

TEST_F(HeldServerTest, TermAndHangupRemoveThePrivateFolderAndExitWithTheSignal) {
    for (const bool classic : {true, false}) {
        for (const auto& [sig, status] :
             {std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}, std::pair{SIGINT, 130}}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + (classic ? " --classic" : ""));
            // The held answer is released only after the run is over: nothing but the
            // signal could have ended it.
            const Finished f = ListAndSignal(sig, classic);
            EXPECT_EQ(f.status, status) << f.err;
            EXPECT_EQ(f.err.find("cancelled"), std::string::npos) << "the user ended it: " << f.err;
            ExpectNoTempLeft();
        }
    }
}

// Serves an archive whose first entry lies beyond any tail request, and holds the request
// for that entry's bytes.
class HeldEntryTest : public CliFilesTest {
protected:
    HeldEntryTest()
        : server([this](const RawHttpRequest& req, HttpPeer& peer) {
              if (req.Header("range").compare(0, 8, "bytes=0-") == 0) {
                  peer.Wait(gate);
                  return;
              }
              ServeBody(req, peer, archive);
          }) {
        const std::string script =
            "import zipfile,sys\n"
            "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
            "    z.writestr('big.bin', bytes(range(256)) * 1200)\n"
            "    z.writestr('small.txt', b'small')\n";
        const std::string made = work.path() + "/held.zip";
        EXPECT_EQ(std::system(("/usr/bin/python3 -c \"" + script + "\" " + made).c_str()), 0);
        archive = ReadFile(made);
        ::unlink(made.c_str());
    }
    ~HeldEntryTest() override { gate.Open(); }

    std::string archive;
    Gate gate;
    ScriptHttpServer server;
};

TEST_F(HeldEntryTest, CtrlCDuringAnExtractionEndsItAtOnceAndKeepsTheOldFile) {
    const std::string out = work.Write("saved/big.zip", "the old file");
    for (const bool classic : {true, false}) {
        SCOPED_TRACE(classic ? "--classic" : "direct");
        std::vector<std::string> args = {"extract", server.Url("/held.zip"), "big.bin", "-o", out};
        if (classic) args.insert(args.begin() + 1, "--classic");
        const size_t before = server.Requests().size();
        const pid_t pid = Start(args);
        const bool held = WaitUntil([&] {
            const auto requests = server.Requests();
            for (size_t i = before; i < requests.size(); ++i) {
                if (requests[i].Header("range").compare(0, 8, "bytes=0-") == 0) return true;
            }
            return false;
        });
        EXPECT_TRUE(held) << "the entry's request never arrived";
        // The entry's bytes never come while the run lasts: the signal alone ends it.
        ::kill(pid, SIGINT);
        const Finished f = Wait(pid);
        EXPECT_EQ(f.status, 130) << f.err;
        EXPECT_EQ(ReadFile(out), "the old file");
        EXPECT_EQ(ListDir(work.path() + "/saved"), std::vector<std::string>{"big.zip"});
        ExpectNoTempLeft();
    }
}

}  // namespace
}  // namespace fennic::test
