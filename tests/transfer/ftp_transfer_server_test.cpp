// CFTPTransferDlg against pyftpdlib and our own FTP server on 127.0.0.1, active mode.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "tests/fixtures/fixtures.h"
#include "tests/transfer/recording_view.h"
#include "transfer/ftp_transfer.h"

namespace fennic {
namespace {

using test::Exists;
using test::ViewEvent;

bool IsDataSetup(const std::string& c) {
    return c.rfind("PORT ", 0) == 0 || c.rfind("EPRT ", 0) == 0;
}

// The commands with the data connection's PORT/EPRT left out, and the position of each
// PORT/EPRT in the remaining list (the index of the command it came before).
std::vector<std::string> WithoutDataSetup(const std::vector<std::string>& commands,
                                          std::vector<size_t>* setupBefore = nullptr) {
    std::vector<std::string> out;
    for (const auto& c : commands) {
        if (IsDataSetup(c)) {
            if (setupBefore) setupBefore->push_back(out.size());
        } else {
            out.push_back(c);
        }
    }
    return out;
}

class FtpTransferTest : public ::testing::Test {
protected:
    void Prepare(CFTPTransferDlg& dlg, uint16_t port, const std::string& remote) {
        dlg.m_strServer = "127.0.0.1";
        dlg.m_nPort = port;
        dlg.m_strRemoteFile = remote;
        dlg.m_strLocalFile = local;
    }
    test::TempDir dir;
    std::string local = dir.path() + "/out.bin";
    test::RecordingView view;
};

class PyFtpTest : public FtpTransferTest {
protected:
    PyFtpTest() : body(test::PatternBytes(3 * 1000 * 1000, 11)) { root.Write("a.zip", body); }
    void Login(CFTPTransferDlg& dlg) {
        Prepare(dlg, ftp.port(), "/a.zip");
        dlg.m_strUser = "ann";
        dlg.m_strPassword = "secret";
    }
    test::TempDir root;
    std::string body;
    test::PyFtpServer ftp{root.path(), "ann", "secret"};
};

TEST_F(PyFtpTest, SizeOnlyOpensNoDataConnection) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_bSizeOnly = true;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), body.size());
    EXPECT_TRUE(Exists(local));
    EXPECT_EQ(test::ReadFile(local), "");
    EXPECT_TRUE(test::WaitUntil(
        [&] { return !ftp.Commands().empty() && ftp.Commands().back() == "QUIT"; }));
    const auto commands = ftp.Commands();
    EXPECT_EQ(commands, (std::vector<std::string>{"USER ann", "PASS secret", "TYPE I",
                                                  "SIZE /a.zip", "QUIT"}));
    EXPECT_EQ(view.Texts(IDC_FILESTATUS), std::vector<std::string>{"/a.zip from 127.0.0.1"});
    const auto status = view.Texts(IDC_STATUS);
    EXPECT_NE(std::find(status.begin(), status.end(), "Connecting to 127.0.0.1"), status.end());
    EXPECT_EQ(status.back(), "Getting file information");
    EXPECT_EQ(view.Values(ViewEvent::kRange), std::vector<int>{100});
}

TEST_F(PyFtpTest, LastTwentyTwoBytesByRestart) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    const uint32_t n = static_cast<uint32_t>(body.size());
    dlg.m_bRangeOnly = true;
    dlg.m_dwRangeStart = n - 22;
    dlg.m_dwRangeEnd = n - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), body.substr(n - 22));
    EXPECT_EQ(dlg.GetRemoteFileSize(), n);  // the whole file's size, from the lookup
    EXPECT_TRUE(view.Captions().empty());   // 22 bytes of 3 MB stay below 1%
    EXPECT_TRUE(view.Boxes().empty());

    std::vector<size_t> setup;
    const auto commands = WithoutDataSetup(ftp.Commands(), &setup);
    const std::string rest = "REST " + std::to_string(n - 22);
    const std::vector<std::string> expected = {
        "USER ann", "PASS secret", "TYPE I", "SIZE /a.zip", rest,  "PWD ", "ABOR",
        "NOOP",     "NOOP",        rest,     "RETR /a.zip", "PWD", "NOOP", "NOOP"};
    ASSERT_GE(commands.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + expected.size()),
              expected);
    // The data connection is set up before the REST that stands directly before RETR.
    EXPECT_EQ(setup, std::vector<size_t>{9});
}

TEST_F(PyFtpTest, MiddleRangeOfOneMegabyte) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    uint32_t tick = 0;
    dlg.SetTickClock([&tick] { return tick += 400; });
    dlg.m_bRangeOnly = true;
    dlg.m_dwRangeStart = 1000000;
    dlg.m_dwRangeEnd = 1999999;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(test::ReadFile(local) == body.substr(1000000, 1000000));
    // Percent against the whole remote file: a third of it at most.
    const auto captions = view.Captions();
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.front(), "1% of /a.zip Completed");
    EXPECT_EQ(captions.back(), "33% of /a.zip Completed");
    auto pos = view.Values(ViewEvent::kPos);
    EXPECT_EQ(pos.size(), captions.size());
    EXPECT_EQ(pos.back(), 33);
    EXPECT_FALSE(view.Texts(IDC_TRANSFER_RATE).empty());
    EXPECT_FALSE(view.Texts(IDC_TIMELEFT).empty());
    const auto commands = WithoutDataSetup(ftp.Commands());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 1000000"), commands.end());
}

TEST_F(PyFtpTest, RangesAroundTheReadBlockAreExact) {
    for (const uint32_t length : {1u, 65535u, 65536u, 65537u, 131073u}) {
        SCOPED_TRACE(length);
        CFTPTransferDlg dlg(view);
        Login(dlg);
        dlg.m_strLocalFile = dir.path() + "/range" + std::to_string(length);
        dlg.m_bRangeOnly = true;
        dlg.m_dwRangeStart = 1000;
        dlg.m_dwRangeEnd = 1000 + length - 1;
        ASSERT_EQ(dlg.DoModal(), IDOK);
        EXPECT_TRUE(test::ReadFile(dlg.m_strLocalFile) == body.substr(1000, length));
    }
}

TEST_F(PyFtpTest, RangeMirroredAtItsOffsetsWithoutRangeOnly) {
    dir.Write("out.bin", std::string(3000, 'o'));
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_bPromptOverwrite = false;
    dlg.m_dwRangeStart = 1000;
    dlg.m_dwRangeEnd = 2499;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    // Cut to the start, then the range at its own offsets; the old tail is gone.
    EXPECT_EQ(test::ReadFile(local), std::string(1000, 'o') + body.substr(1000, 1500));
}

TEST_F(PyFtpTest, WholeFileWithoutRestart) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_dwRangeEnd = static_cast<uint32_t>(body.size()) - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(test::ReadFile(local) == body);
    // The last block, shorter than the wanted rest, ends the transfer before any bookkeeping.
    EXPECT_EQ(view.Captions().back(), "99% of /a.zip Completed");
    std::vector<size_t> setup;
    const auto commands = WithoutDataSetup(ftp.Commands(), &setup);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 5),
              (std::vector<std::string>{"USER ann", "PASS secret", "TYPE I", "SIZE /a.zip",
                                        "RETR /a.zip"}));
    EXPECT_EQ(setup, std::vector<size_t>{4});
    for (const auto& c : commands) EXPECT_NE(c.rfind("REST", 0), 0u) << c;
}

TEST_F(PyFtpTest, MissingRemoteFile) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_strRemoteFile = "/nothing.zip";
    dlg.m_dwRangeEnd = 99;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    const std::string box = view.Boxes()[0];
    const std::string head =
        "An error occurred while attempting to open the specified remote file, Error:\n";
    EXPECT_EQ(box.substr(0, head.size()), head);
    EXPECT_NE(box.find("550"), std::string::npos) << box;
    EXPECT_FALSE(Exists(local));
}

TEST_F(PyFtpTest, WrongPasswordIsAConnectionFailure) {
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_strPassword = "wrong";
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].rfind("An error occurred connecting to the server, Error:", 0), 0u);
    EXPECT_FALSE(Exists(local));
}

TEST_F(PyFtpTest, RestartWithoutRawCommands) {
    SetFtpCommandAvailable(false);
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_bRangeOnly = true;
    dlg.m_dwRangeStart = 10;
    dlg.m_dwRangeEnd = 19;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    // From offset 0 no raw command is needed.
    dlg.m_dwRangeStart = 0;
    const int fromZero = dlg.DoModal();
    SetFtpCommandAvailable(true);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0],
              "FtpCommand method (which is required to support FTP resumes) is not available on "
              "this machine. Please upgrade to Internet Explorer 5 or later.");
    EXPECT_EQ(fromZero, IDOK);
    EXPECT_EQ(test::ReadFile(local), body.substr(0, 20));
}

TEST_F(PyFtpTest, OverwriteQuestion) {
    dir.Write("out.bin", "keep me");
    CFTPTransferDlg dlg(view);
    Login(dlg);
    dlg.m_dwRangeEnd = 4;
    view.frontEnd.answers = {IDNO};
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.events.size(), 2u);  // the bar's range, then the question; nothing else
    EXPECT_EQ(view.events[1].kind, ViewEvent::kBox);
    EXPECT_EQ(view.events[1].text,
              "The file '" + local + "' already exists.\nDo you want to replace it?");
    EXPECT_EQ(view.events[1].style, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(test::ReadFile(local), "keep me");
    EXPECT_TRUE(ftp.Commands().empty());

    view.frontEnd.answers = {IDYES};
    ASSERT_EQ(dlg.DoModal(), IDOK);
    // Opened without truncation and positioned at 0 (RangeStart), which cuts it first.
    EXPECT_EQ(test::ReadFile(local), body.substr(0, 5));
}

TEST_F(FtpTransferTest, RestartRefusedByTheServer) {
    // The reply's code decides, never a "350" somewhere in its text.
    for (const std::string refusal : {"502 REST not implemented here", "504 No restart at 350"}) {
        test::ScriptFtpOptions options;
        options.files["/a.zip"] = test::PatternBytes(1000, 2);
        options.replies["REST"] = refusal;
        test::ScriptFtpServer ftp(options);
        test::RecordingView v;
        CFTPTransferDlg dlg(v);
        Prepare(dlg, ftp.port(), "/a.zip");
        dlg.m_bRangeOnly = true;
        dlg.m_dwRangeStart = 978;
        dlg.m_dwRangeEnd = 999;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        ASSERT_EQ(v.Boxes().size(), 1u);
        const std::string box = v.Boxes()[0];
        const std::string head = "The server reports that resume is not supported, Error:";
        EXPECT_EQ(box.substr(0, head.size()), head);
        EXPECT_NE(box.find(refusal), std::string::npos) << box;
        EXPECT_FALSE(Exists(local));
        const auto commands = ftp.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 978"), commands.end());
        EXPECT_NE(std::find(commands.begin(), commands.end(), "PWD "), commands.end());
        EXPECT_EQ(std::find(commands.begin(), commands.end(), "ABOR"), commands.end());
        EXPECT_EQ(std::find(commands.begin(), commands.end(), "RETR /a.zip"), commands.end());
    }
}

TEST_F(FtpTransferTest, ServerThatNeverGreets) {
    test::ScriptFtpOptions options;
    options.greet = false;
    test::ScriptFtpServer ftp(options);
    CFTPTransferDlg dlg(view);
    Prepare(dlg, ftp.port(), "/a.zip");
    dlg.m_dwConnectTimeout = 300;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"An error occurred connecting to the server, Error:1460"});
    EXPECT_FALSE(Exists(local));
    EXPECT_EQ(ftp.connections(), 1);
}

TEST_F(FtpTransferTest, RefusedConnection) {
    CFTPTransferDlg dlg(view);
    Prepare(dlg, test::FreePort(), "/a.zip");
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"An error occurred connecting to the server, Error:12029"});
}

TEST_F(FtpTransferTest, ProxyCannotBeUsed) {
    CFTPTransferDlg dlg(view);
    Prepare(dlg, 21, "/a.zip");
    dlg.m_bUseProxy = true;
    dlg.m_strProxy = "127.0.0.1:3128";
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"An error occurred while attempting to "
                                                     "transfer the file, Error:12020"});
}

TEST_F(FtpTransferTest, CancelInTheBodyLoopDeletesTheFile) {
    test::Gate gate;
    test::ScriptFtpOptions options;
    options.files["/a.zip"] = test::PatternBytes(200000, 4);
    options.data_chunk = 4096;
    options.data_gate = &gate;
    test::ScriptFtpServer ftp(options);
    CFTPTransferDlg dlg(view);
    Prepare(dlg, ftp.port(), "/a.zip");
    dlg.m_dwRangeEnd = 199999;
    view.WhenText("Retrieving the file", [&] { view.Cancel(); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    gate.Open();
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "Aborting transfer");
    EXPECT_FALSE(Exists(local));
}

// The greeting comes only once Cancel has been handled: a cancel that did not end the wait for
// it at once would log in then.
TEST_F(FtpTransferTest, CancelWhileConnectingKeepsTheFile) {
    test::Gate greeting;
    test::ScriptFtpOptions options;
    options.greet_gate = &greeting;
    test::ScriptFtpServer ftp(options);
    CFTPTransferDlg dlg(view);
    Prepare(dlg, ftp.port(), "/a.zip");
    view.WhenText("Connecting to", [&] {
        view.Cancel();
        view.Post([&] { greeting.Open(); });
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    greeting.Open();
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_TRUE(Exists(local));  // as the dialog start left it
    EXPECT_TRUE(ftp.Commands().empty()) << "logged in after Cancel";
}

TEST_F(FtpTransferTest, RestartOffsetPast2GiBGoesOutUnsigned) {
    test::ScriptFtpOptions options;
    options.files["/a.zip"] = "tiny";
    test::ScriptFtpServer ftp(options);
    CFTPTransferDlg dlg(view);
    Prepare(dlg, ftp.port(), "/a.zip");
    dlg.m_bRangeOnly = true;
    dlg.m_dwRangeStart = 4294967274u;  // 4 GiB - 22
    dlg.m_dwRangeEnd = 4294967294u;
    dlg.DoModal();  // the server has no such bytes; only what was sent matters here
    const auto commands = ftp.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 4294967274"), commands.end());
    for (const auto& c : commands) EXPECT_EQ(c.find("REST -"), std::string::npos) << c;
}

// Line breaks smuggled into the remote name, the user or the password: the run fails and not
// one command of the smuggled kind reaches the server, which would have obeyed it.
TEST_F(FtpTransferTest, SmuggledCommandsNeverReachTheServer) {
    test::TempDir root;
    const std::string victim = root.Write("important.txt", "keep");
    root.Write("a.zip", test::PatternBytes(1000, 3));
    test::PyFtpServer ftp(root.path(), "ann", "secret", "elradfmw");
    const std::string evil = "\r\nDELE important.txt\r\nRMD /";
    const struct {
        std::string remote, user, password;
        uint32_t start;
    } cases[] = {{"/a.zip" + evil, "ann", "secret", 978},
                 {"/a.zip" + evil, "ann", "secret", 0},
                 {"/a.zip\nDELE important.txt", "ann", "secret", 978},
                 {"/a.zip", "ann" + evil, "secret", 0},
                 {"/a.zip", "ann", "secret" + evil, 0}};
    for (const auto& c : cases) {
        test::RecordingView v;
        CFTPTransferDlg dlg(v);
        Prepare(dlg, ftp.port(), c.remote);
        dlg.m_strUser = c.user;
        dlg.m_strPassword = c.password;
        dlg.m_bRangeOnly = true;
        dlg.m_dwRangeStart = c.start;
        dlg.m_dwRangeEnd = 999;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << c.remote << c.user << c.password;
        ASSERT_EQ(v.Boxes().size(), 1u);
        EXPECT_NE(v.Boxes()[0].find("Error:12009"), std::string::npos) << v.Boxes()[0];
        EXPECT_EQ(v.Boxes()[0].find("secret"), std::string::npos) << v.Boxes()[0];
        EXPECT_FALSE(Exists(local));
    }
    for (const auto& command : ftp.Commands()) {
        EXPECT_NE(command.rfind("DELE", 0), 0u) << command;
        EXPECT_NE(command.rfind("RMD", 0), 0u) << command;
        EXPECT_NE(command.rfind("REST", 0), 0u) << command;
        EXPECT_NE(command.rfind("RETR", 0), 0u) << command;
    }
    EXPECT_EQ(test::ReadFile(victim), "keep");
}

TEST_F(FtpTransferTest, RefusedSizeIsTheAnswerWithItsTextMadeHarmless) {
    test::ScriptFtpOptions options;
    options.files["/a.zip"] = test::PatternBytes(1000, 2);
    options.replies["SIZE"] = "550 \x1b]0;owned\x07\x1b[2J no access";
    test::ScriptFtpServer ftp(options);
    for (const bool sizeOnly : {true, false}) {
        test::RecordingView v;
        CFTPTransferDlg dlg(v);
        Prepare(dlg, ftp.port(), "/a.zip");
        dlg.m_bSizeOnly = sizeOnly;
        dlg.m_dwRangeEnd = 999;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        ASSERT_EQ(v.Boxes().size(), 1u);
        EXPECT_EQ(v.Boxes()[0],
                  "An error occurred while attempting to open the specified remote file, "
                  "Error:\n550 \\x1B]0;owned\\x07\\x1B[2J no access\n");
        EXPECT_FALSE(Exists(local));
    }
    const auto commands = ftp.Commands();
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "RETR /a.zip"), commands.end());

    // 502 means the server does not know SIZE: the listing is asked instead, as before.
    options.replies["SIZE"] = "502 SIZE not implemented";
    test::ScriptFtpServer noSize(options);
    test::RecordingView v;
    CFTPTransferDlg dlg(v);
    Prepare(dlg, noSize.port(), "/a.zip");
    dlg.m_dwRangeEnd = 999;
    ASSERT_EQ(dlg.DoModal(), IDOK) << (v.Boxes().empty() ? "" : v.Boxes()[0]);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 1000u);
    EXPECT_EQ(test::ReadFile(local), options.files["/a.zip"]);
}

TEST_F(FtpTransferTest, TrickleBelowTheRateFloorIsATimeout) {
    test::ScriptFtpOptions options;
    options.files["/a.zip"] = test::PatternBytes(60, 2);
    options.data_trickle_ms = 200;
    test::ScriptFtpServer ftp(options);
    CFTPTransferDlg dlg(view);
    Prepare(dlg, ftp.port(), "/a.zip");
    dlg.m_dwRangeEnd = 59;
    dlg.m_dwRateFloorSeconds = 2;
    // All 60 bytes are there after 12 s: only the floor of 2 s can end the run before.
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{
                                "An error occurred while downloading the file, Error:12002"});
    EXPECT_FALSE(Exists(local));
}

// Data that ends before the range does, or a transfer the server itself calls failed, fails
// the run and leaves no file; a range that ends at the file's end (the listing's kind) passes.
TEST_F(FtpTransferTest, ShortOrFailedDataFailsTheRun) {
    const std::string content = test::PatternBytes(1000, 6);
    const std::string body_error = "An error occurred while downloading the file, Error:";
    const struct {
        std::string retr_final;
        bool rangeOnly;
        uint32_t start, last;
        std::string box;  // empty: the run succeeds
    } cases[] = {
        {"", true, 0, 99999, body_error + "12030"},
        {"", true, 978, 1000, body_error + "12030"},
        {"426 Connection lost", true, 0, 99999, body_error + "\n426 Connection lost\n"},
        {"426 Connection lost", false, 0, 4999, body_error + "\n426 Connection lost\n"},
        {"", true, 0, 999, ""},
        {"", true, 978, 999, ""},
        {"", false, 0, 4999, ""},  // outside range-only mode the file's end ends the run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.retr_final + " " + std::to_string(c.start) + "-" + std::to_string(c.last));
        ::unlink(local.c_str());  // range-only mode writes over what a file holds, cuts nothing
        // Held until the transfer has its data connection, so that the final reply comes last.
        test::Gate gate;
        test::ScriptFtpOptions options;
        options.files["/a.zip"] = content;
        options.retr_final = c.retr_final;
        options.data_gate = &gate;
        test::ScriptFtpServer ftp(options);
        test::RecordingView v;
        v.WhenText("Retrieving the file", [&] { gate.Open(); });
        CFTPTransferDlg dlg(v);
        Prepare(dlg, ftp.port(), "/a.zip");
        dlg.m_bPromptOverwrite = false;
        dlg.m_bRangeOnly = c.rangeOnly;
        dlg.m_dwRangeStart = c.start;
        dlg.m_dwRangeEnd = c.last;
        const int result = dlg.DoModal();
        gate.Open();
        if (c.box.empty()) {
            EXPECT_EQ(result, IDOK);
            EXPECT_TRUE(v.Boxes().empty());
            EXPECT_EQ(test::ReadFile(local), content.substr(c.start, c.last - c.start + 1));
        } else {
            EXPECT_EQ(result, IDCANCEL);
            EXPECT_EQ(v.Boxes(), std::vector<std::string>{c.box});
            EXPECT_FALSE(Exists(local));
        }
        const auto commands = ftp.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "RETR /a.zip"), commands.end());
    }
}

// A size past 32 bits is refused, never cut to its low bits; the largest 32-bit size passes.
TEST_F(FtpTransferTest, SizeBeyond32BitsIsRefused) {
    const struct {
        std::string reply;
        bool sizeOnly;
    } cases[] = {{"213 4294967396", true}, {"213 4294967396", false}, {"213 4294967295", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply + (c.sizeOnly ? " size only" : " range"));
        test::ScriptFtpOptions options;
        options.files["/a.zip"] = test::PatternBytes(100, 2);
        options.replies["SIZE"] = c.reply;
        test::ScriptFtpServer ftp(options);
        test::RecordingView v;
        CFTPTransferDlg dlg(v);
        Prepare(dlg, ftp.port(), "/a.zip");
        dlg.m_bPromptOverwrite = false;
        dlg.m_bSizeOnly = c.sizeOnly;
        dlg.m_bRangeOnly = true;
        dlg.m_dwRangeEnd = 99;
        const int result = dlg.DoModal();
        if (c.reply == "213 4294967295") {
            EXPECT_EQ(result, IDOK);
            EXPECT_EQ(dlg.GetRemoteFileSize(), 4294967295u);
            continue;
        }
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(v.Boxes(), std::vector<std::string>{
                                 "An error occurred while attempting to open the specified "
                                 "remote file, Error:12152"});
        EXPECT_FALSE(Exists(local));
        const auto commands = ftp.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "SIZE /a.zip"), commands.end());
        EXPECT_EQ(std::find(commands.begin(), commands.end(), "RETR /a.zip"), commands.end());
    }
}

}  // namespace
}  // namespace fennic
