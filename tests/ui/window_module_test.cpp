// The program and its window module as the user runs them: subcommands never load the toolkit,
// the window is found beside the program or in the installed library folder, and a missing or
// foreign module is an error message, not a crash.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fixtures/fixtures.h"
#include "tests/ui/ui_test_support.h"

namespace fennic::test {
namespace {

namespace fsys = std::filesystem;

struct RunResult {
    int status = -1;  // exit status, or -1 when killed by a signal
    std::string out;
    std::string err;
};

class WindowModule : public ProfileTest {
protected:
    // Runs `program` with `args` (already quoted) and `env` in front, in the scratch folder.
    RunResult Start(const std::string& env, const std::string& program,
                    const std::string& args = "") {
        const std::string out = scratch_.path() + "/out.txt";
        const std::string err = scratch_.path() + "/err.txt";
        const std::string cmd =
            env + " '" + program + "' " + args + " >'" + out + "' 2>'" + err + "' </dev/null";
        const int raw = std::system(cmd.c_str());
        RunResult run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }
    // A copy of the program in scratch/DIR, and of the module in scratch/MODULE_DIR if given.
    std::string Layout(const std::string& dir, const std::string& moduleDir,
                       const std::string& moduleFrom = FENNIC_WINDOW_MODULE_FILE) {
        fsys::create_directories(scratch_.path() + "/" + dir);
        const std::string program = scratch_.path() + "/" + dir + "/fennic";
        fsys::copy_file(FENNIC_PROGRAM, program);
        if (!moduleDir.empty()) {
            fsys::create_directories(scratch_.path() + "/" + moduleDir);
            fsys::copy_file(moduleFrom,
                            scratch_.path() + "/" + moduleDir + "/" +
                                fsys::path(FENNIC_WINDOW_MODULE_FILE).filename().string());
        }
        return program;
    }
    static std::string UiArchive(const std::string& name) {
        static TempDir* archives = [] {
            auto* dir = new TempDir;
            const std::string cmd = std::string("/usr/bin/python3 ") + FENNIC_UI_TEST_DIR +
                                    "/make_ui_archives.py " + dir->path();
            EXPECT_EQ(std::system(cmd.c_str()), 0);
            return dir;
        }();
        return archives->path() + "/" + name;
    }

    TempDir scratch_;
};

TEST_F(WindowModule, SubcommandsNeverLoadTheToolkit) {
    // Neither linked in (nor the network library, loaded only when a transfer starts)...
    const RunResult linked = Start("LD_TRACE_LOADED_OBJECTS=1", FENNIC_PROGRAM);
    EXPECT_NE(linked.out.find("libc.so"), std::string::npos) << linked.out;
    EXPECT_EQ(linked.out.find("libcurl"), std::string::npos) << linked.out;
    EXPECT_EQ(linked.out.find("libgtk"), std::string::npos) << linked.out;
    EXPECT_EQ(linked.out.find("libwx_"), std::string::npos) << linked.out;
    // ...nor opened while a listing runs.
    const RunResult listing =
        Start("LD_DEBUG=files", FENNIC_PROGRAM, "list '" + UiArchive("list.zip") + "'");
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("stored.txt"), std::string::npos);
    EXPECT_NE(listing.err.find("libc.so"), std::string::npos);  // LD_DEBUG did report
    EXPECT_EQ(listing.err.find("libcurl"), std::string::npos);
    EXPECT_EQ(listing.err.find("libgtk"), std::string::npos);
    EXPECT_EQ(listing.err.find("libwx_"), std::string::npos);
    EXPECT_EQ(listing.err.find("fennic_window"), std::string::npos);
}

TEST_F(WindowModule, MissingOrForeignModuleIsAnErrorNotACrash) {
    const std::string alone = Layout("alone", "");
    RunResult run = Start("", alone);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the window is not installed"), std::string::npos) << run.err;
    // Subcommands do not need it.
    EXPECT_EQ(Start("", alone, "list '" + UiArchive("list.zip") + "'").status, 0);

    const std::string junk = scratch_.path() + "/junk.so";
    std::ofstream(junk) << "not a library";
    run = Start("", Layout("junk", "junk", junk));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the window is not installed"), std::string::npos) << run.err;

    // A real library without the entry point.
    run = Start("", Layout("foreign", "foreign", "/lib/x86_64-linux-gnu/libz.so.1"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is not the window module"), std::string::npos) << run.err;
}

TEST_F(WindowModule, WindowFromTheBuildTreeAndTheInstalledLayoutTimesAListing) {
    const std::string many = UiArchive("many.zip");
    const std::string hook = "FENNIC_WINDOW_BENCH='" + many + "'";
    for (const std::string& program : {std::string(FENNIC_PROGRAM), Layout("usr/bin", "usr/lib")}) {
        const RunResult run = Start(hook, program);
        EXPECT_EQ(run.status, 0) << program << "\n" << run.err;
        // "<milliseconds> ms <rows> rows"
        char unit[8] = {};
        double ms = -1;
        size_t rows = 0;
        EXPECT_EQ(std::sscanf(run.out.c_str(), "%lf %7s %zu rows", &ms, unit, &rows), 3) << run.out;
        EXPECT_GT(ms, 0);
        EXPECT_EQ(std::string(unit), "ms");
        EXPECT_EQ(rows, 5000u);
    }
    // An archive that does not open: the message goes to stderr and the status says so.
    const RunResult bad =
        Start("FENNIC_WINDOW_BENCH='" + UiArchive("nodir.bin") + "'", FENNIC_PROGRAM);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("Open failed"), std::string::npos) << bad.err;
    EXPECT_NE(bad.out.find(" 0 rows"), std::string::npos) << bad.out;
}

TEST_F(WindowModule, AnAddressGivenToTheProgramIsFetchedByTheWindow) {
    // The program as a launcher starts it: one argument, the display inherited.
    TempDir root;
    std::filesystem::copy_file(UiArchive("many.zip"), root.path() + "/many.zip");
    NginxServer nginx(root.path());
    // The server's port in the settings: no question about the address's own.
    const std::string settings = scratch_.path() + "/config";
    std::filesystem::create_directories(settings + "/FennicExpl");
    std::ofstream(settings + "/FennicExpl/FennicExpl.ini")
        << "[Settings]\nHttpPort=" << nginx.port() << "\n";
    const std::string url = nginx.Url("/many.zip");
    const std::string tmp = scratch_.path() + "/tmp";  // what the killed window leaves
    std::filesystem::create_directories(tmp);
    // Everything the child needs is made before the fork: only exec may follow it.
    std::vector<std::string> envText = {"XDG_CONFIG_HOME=" + settings, "TMPDIR=" + tmp};
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        if (kv.rfind("XDG_CONFIG_HOME=", 0) != 0 && kv.rfind("TMPDIR=", 0) != 0)
            envText.push_back(kv);
    }
    std::vector<char*> envp;
    for (std::string& kv : envText) envp.push_back(kv.data());
    envp.push_back(nullptr);
    std::string program = FENNIC_PROGRAM, argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    // Size, end record and directory: the window's road, started without a click. It then
    // waits at its "downloaded" message, so it is ended here.
    const auto log = nginx.WaitForAccessLog(3, 20000);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].range, "-");
    EXPECT_EQ(log[2].status, 206);
}

}  // namespace
}  // namespace fennic::test
