#include "inet/ftp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "inet/errors.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::inet {
namespace {

using fennic::test::PatternBytes;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr size_t kBig = 1 << 20;

std::unique_ptr<FtpConnection> Login(FtpSession& session, uint16_t port, const std::string& user,
                                     const std::string& password) {
    EXPECT_TRUE(session.Open("fennic-test", "")) << session.LastErrorText();
    auto conn = session.Connect("127.0.0.1", port, user, password);
    EXPECT_TRUE(conn) << session.LastErrorText() << " / " << session.LastResponse();
    return conn;
}

std::string ReadAll(FtpFile& file, size_t limit = SIZE_MAX) {
    std::string out;
    char buf[1024];
    size_t got = 0;
    while (out.size() < limit && file.Read(buf, sizeof buf, got) && got > 0) out.append(buf, got);
    return out;
}

// Commands after the login, without the PORT/EPRT argument (its port changes every run).
std::vector<std::string> Normalised(std::vector<std::string> cmds) {
    for (auto& c : cmds) {
        if (c.compare(0, 5, "PORT ") == 0) c = "PORT";
        if (c.compare(0, 5, "EPRT ") == 0) c = "EPRT";
    }
    return cmds;
}

std::vector<std::string> From(const std::vector<std::string>& cmds, const std::string& first) {
    for (size_t i = 0; i < cmds.size(); ++i) {
        if (cmds[i] == first) return {cmds.begin() + static_cast<long>(i), cmds.end()};
    }
    return {};
}

class PyFtp : public ::testing::Test {
protected:
    void SetUp() override {
        content_ = PatternBytes(kBig, 7);
        root_.Write("pub/big.zip", content_);
        server_ = std::make_unique<fennic::test::PyFtpServer>(root_.path(), "joe", "s3cret");
    }
    fennic::test::TempDir root_;
    std::string content_;
    std::unique_ptr<fennic::test::PyFtpServer> server_;
};

TEST_F(PyFtp, LoginSizeAndWholeFileInActiveMode) {
    FtpSession session;
    std::vector<std::pair<uint32_t, std::string>> notes;
    session.SetStatusCallback(
        [&](uint32_t s, const std::string& info) { notes.emplace_back(s, info); });
    auto conn = Login(session, server_->port(), "joe", "s3cret");
    ASSERT_TRUE(conn);
    std::vector<std::pair<uint32_t, std::string>> expected = {{kStatusResolvingName, "127.0.0.1"},
                                                              {kStatusNameResolved, "127.0.0.1"},
                                                              {kStatusConnecting, "127.0.0.1"},
                                                              {kStatusConnected, "127.0.0.1"}};
    EXPECT_EQ(notes, expected);

    FtpFileInfo info;
    ASSERT_TRUE(conn->FindFile("/pub/big.zip", info)) << conn->LastErrorText();
    EXPECT_EQ(info.size, kBig);
    auto file = conn->OpenFile("/pub/big.zip");
    ASSERT_TRUE(file) << conn->LastErrorText() << conn->LastResponse();
    EXPECT_EQ(ReadAll(*file), content_);
    file->Close();
    EXPECT_NE(conn->LastResponse().find("226"), std::string::npos) << conn->LastResponse();
    conn.reset();

    ASSERT_TRUE(fennic::test::WaitUntil([&] { return server_->Commands().size() >= 7; }));
    std::vector<std::string> want = {"USER joe", "PASS s3cret",       "TYPE I", "SIZE /pub/big.zip",
                                     "PORT",     "RETR /pub/big.zip", "QUIT"};
    EXPECT_EQ(Normalised(server_->Commands()), want);
}

TEST_F(PyFtp, RestartSequenceReachesServerInOrder) {
    FtpSession session;
    auto conn = Login(session, server_->port(), "joe", "s3cret");
    ASSERT_TRUE(conn);
    const uint32_t start = kBig - 22;
    std::string probe = "REST " + std::to_string(start) + "\r\nPWD \r\n";
    ASSERT_TRUE(conn->Command(probe, false, nullptr)) << conn->LastErrorText();
    std::string reply = conn->LastResponse();
    EXPECT_NE(reply.find("350"), std::string::npos) << reply;
    EXPECT_NE(reply.find("257"), std::string::npos) << reply;  // both replies are kept

    std::unique_ptr<FtpFile> data;
    std::string start_text = "ABOR\r\nNOOP\r\nNOOP\r\nREST " + std::to_string(start) +
                             "\r\nRETR /pub/big.zip\r\nPWD\r\nNOOP\r\nNOOP\r\n";
    ASSERT_TRUE(conn->Command(start_text, true, &data))
        << conn->LastErrorText() << conn->LastResponse();
    ASSERT_TRUE(data);
    EXPECT_EQ(ReadAll(*data), content_.substr(start));
    data->Close();
    // The replies of PWD, NOOP, NOOP came in after the transfer; the connection is in step.
    ASSERT_TRUE(conn->Command("NOOP\r\n", false, nullptr)) << conn->LastErrorText();
    EXPECT_EQ(conn->LastResponse().substr(0, 3), "200");
    conn.reset();

    ASSERT_TRUE(fennic::test::WaitUntil([&] { return server_->Commands().size() >= 16; }));
    std::string rest = "REST " + std::to_string(start);
    std::vector<std::string> want = {
        rest,  "PWD ", "ABOR", "NOOP", "NOOP", "PORT", rest, "RETR /pub/big.zip",
        "PWD", "NOOP", "NOOP", "NOOP", "QUIT"};
    EXPECT_EQ(From(Normalised(server_->Commands()), rest), want);
}

TEST_F(PyFtp, AnonymousLoginAndMissingFile) {
    FtpSession session;
    auto conn = Login(session, server_->port(), "", "ignored");
    ASSERT_TRUE(conn);
    FtpFileInfo info;
    EXPECT_FALSE(conn->FindFile("/pub/none.zip", info));
    EXPECT_EQ(conn->LastError(), kErrorExtended);
    EXPECT_NE(conn->LastResponse().find("550"), std::string::npos);

    EXPECT_FALSE(conn->OpenFile("/pub/none.zip"));
    EXPECT_EQ(conn->LastError(), kErrorExtended);
    EXPECT_NE(conn->LastResponse().find("550"), std::string::npos) << conn->LastResponse();
    // Still usable afterwards.
    EXPECT_TRUE(conn->FindFile("/pub/big.zip", info));
    auto cmds = server_->Commands();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "USER anonymous");
    EXPECT_EQ(cmds[1], "PASS anonymous@");
}

TEST_F(PyFtp, WrongPasswordGivesServerText) {
    FtpSession session;
    ASSERT_TRUE(session.Open("t", ""));
    EXPECT_FALSE(session.Connect("127.0.0.1", server_->port(), "joe", "wrong"));
    EXPECT_EQ(session.LastError(), kErrorExtended);
    EXPECT_NE(session.LastResponse().find("530"), std::string::npos) << session.LastResponse();
}

class Vsftpd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fennic::test::VsftpdServer::Available()) GTEST_SKIP() << "vsftpd needs root";
        content_ = PatternBytes(3 * kBig, 9);
        root_.Write("big.zip", content_);
        server_ = std::make_unique<fennic::test::VsftpdServer>(root_.path());
    }
    fennic::test::TempDir root_;
    std::string content_;
    std::unique_ptr<fennic::test::VsftpdServer> server_;
};

TEST_F(Vsftpd, TailAndMegabyteRangeByRestart) {
    FtpSession session;
    auto conn = Login(session, server_->port(), "", "");
    ASSERT_TRUE(conn);
    FtpFileInfo info;
    ASSERT_TRUE(conn->FindFile("/big.zip", info)) << conn->LastResponse();
    EXPECT_EQ(info.size, content_.size());

    auto restart = [&](uint32_t start, size_t want) {
        std::string s = std::to_string(start);
        EXPECT_TRUE(conn->Command("REST " + s + "\r\nPWD \r\n", false, nullptr));
        EXPECT_NE(conn->LastResponse().find("350"), std::string::npos) << conn->LastResponse();
        std::unique_ptr<FtpFile> data;
        EXPECT_TRUE(conn->Command(
            "ABOR\r\nNOOP\r\nNOOP\r\nREST " + s + "\r\nRETR /big.zip\r\nPWD\r\nNOOP\r\nNOOP\r\n",
            true, &data))
            << conn->LastResponse();
        if (!data) return std::string();
        std::string got = ReadAll(*data, want);
        data->Close();  // cut short for the megabyte: the server must not hang us
        return got.substr(0, want);
    };
    const uint32_t tail = static_cast<uint32_t>(content_.size() - 22);
    EXPECT_EQ(restart(tail, 22), content_.substr(tail));
    EXPECT_EQ(restart(kBig, kBig), content_.substr(kBig, kBig));
    EXPECT_TRUE(conn->Command("NOOP\r\n", false, nullptr)) << conn->LastResponse();
    conn.reset();

    ASSERT_TRUE(fennic::test::WaitUntil([&] {
        auto c = server_->Commands();
        return !c.empty() && c.back() == "QUIT";
    }));
    std::string r = "REST " + std::to_string(tail);
    // vsftpd's log drops the blank after "PWD "; pyftpdlib's test shows it arrives.
    std::vector<std::string> want = {r, "PWD",           "ABOR", "NOOP", "NOOP", "PORT",
                                     r, "RETR /big.zip", "PWD",  "NOOP", "NOOP"};
    auto cmds = From(Normalised(server_->Commands()), r);
    ASSERT_GE(cmds.size(), want.size());
    EXPECT_EQ(std::vector<std::string>(cmds.begin(), cmds.begin() + 11), want);
    std::cout << "vsftpd log (transfers):\n";
    for (const auto& line : {std::string("DOWNLOAD")}) {
        std::string log = server_->Log();
        size_t pos = 0;
        while ((pos = log.find(line, pos)) != std::string::npos) {
            size_t b = log.rfind('\n', pos) + 1, e = log.find('\n', pos);
            std::cout << "  " << log.substr(b, e - b) << "\n";
            pos = e;
        }
    }
}

TEST(ScriptFtp, RestWithout350KeepsReplyText) {
    fennic::test::ScriptFtpOptions opt;
    opt.replies["REST"] = "502 REST not understood here";
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    auto conn = Login(session, server.port(), "u", "p");
    ASSERT_TRUE(conn);
    // The last reply (PWD) succeeds, so the text is accepted; the caller looks for 350.
    EXPECT_TRUE(conn->Command("REST 100\r\nPWD \r\n", false, nullptr));
    EXPECT_EQ(conn->LastResponse(),
              "502 REST not understood here\r\n257 \"/\" is the current directory\r\n");
    EXPECT_EQ(conn->LastResponse().find("350"), std::string::npos);
    EXPECT_EQ(conn->LastReplyCodes(), (std::vector<int>{502, 257}));
    ASSERT_TRUE(conn->Command("NOOP\r\n", false, nullptr));
    EXPECT_EQ(conn->LastReplyCodes(), std::vector<int>{200});
}

// Line breaks or NUL in a user, password, path or command line never reach the server: they
// would end the command and start one of the server's choosing.
TEST(PyFtpInjection, LineBreaksInArgumentsSendNothing) {
    fennic::test::TempDir root;
    const std::string victim = root.Write("important.txt", "keep");
    root.Write("a.zip", "zip");
    fennic::test::PyFtpServer server(root.path(), "joe", "s3cret", "elradfmw");
    const std::string evil = "\r\nDELE important.txt";
    for (const auto& [user, password] :
         {std::pair<std::string, std::string>{"joe" + evil, "s3cret"},
          {"joe", "s3cret" + evil},
          {"joe", std::string("s3cret\0x", 8)}}) {
        FtpSession session;
        ASSERT_TRUE(session.Open("t", ""));
        EXPECT_FALSE(session.Connect("127.0.0.1", server.port(), user, password));
        EXPECT_EQ(session.LastError(), kErrorInvalidOption);
        EXPECT_EQ(session.LastErrorText().find("s3cret"), std::string::npos);
    }
    EXPECT_TRUE(server.Commands().empty());  // refused before connecting

    FtpSession session;
    auto conn = Login(session, server.port(), "joe", "s3cret");
    ASSERT_TRUE(conn);
    FtpFileInfo info;
    EXPECT_FALSE(conn->FindFile("/a.zip" + evil, info));
    EXPECT_EQ(conn->LastError(), kErrorInvalidOption);
    EXPECT_FALSE(conn->FindFile("/a.zip\nDELE important.txt", info));
    EXPECT_FALSE(conn->OpenFile("/a.zip" + evil));
    EXPECT_EQ(conn->LastError(), kErrorInvalidOption);
    std::unique_ptr<FtpFile> data;
    EXPECT_FALSE(conn->Command("NOOP\r\nSIZE /a.zip\nDELE important.txt\r\n", false, nullptr));
    EXPECT_EQ(conn->LastError(), kErrorInvalidOption);
    EXPECT_FALSE(conn->Command(std::string("RETR /a.zip\0\r\n", 14), true, &data));
    EXPECT_EQ(conn->LastError(), kErrorInvalidOption);
    // The connection stays usable; our own multi-line texts still go out line by line.
    EXPECT_TRUE(conn->Command("NOOP\r\nPWD\r\n", false, nullptr)) << conn->LastErrorText();
    ASSERT_TRUE(conn->FindFile("/a.zip", info));
    conn->Close();
    ASSERT_TRUE(fennic::test::WaitUntil(
        [&] { return !server.Commands().empty() && server.Commands().back() == "QUIT"; }));
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER joe", "PASS s3cret", "TYPE I",
                                                           "NOOP", "PWD", "SIZE /a.zip", "QUIT"}));
    EXPECT_EQ(fennic::test::ReadFile(victim), "keep");
}

TEST(ScriptFtp, TrickledDataFallsBelowTheRateFloor) {
    fennic::test::ScriptFtpOptions opt;
    opt.files["/t.zip"] = std::string(1000, 't');
    opt.data_trickle_ms = 100;  // 10 bytes/s, never idle for long
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    session.SetRateFloor(1024, 1);
    auto conn = Login(session, server.port(), "u", "p");
    ASSERT_TRUE(conn);
    auto file = conn->OpenFile("/t.zip");
    ASSERT_TRUE(file) << conn->LastErrorText();
    const auto t0 = Clock::now();
    const std::string got = ReadAll(*file);
    EXPECT_EQ(file->LastError(), kErrorTimeout) << file->LastErrorText();
    EXPECT_GE(Clock::now() - t0, milliseconds(900));
    EXPECT_LT(Clock::now() - t0, milliseconds(5000));
    EXPECT_LT(got.size(), 100u);

    // The same floor passes a file that comes at once.
    opt.data_trickle_ms = 0;
    fennic::test::ScriptFtpServer quick(opt);
    auto conn2 = Login(session, quick.port(), "u", "p");
    ASSERT_TRUE(conn2);
    auto whole = conn2->OpenFile("/t.zip");
    ASSERT_TRUE(whole);
    EXPECT_EQ(ReadAll(*whole), opt.files["/t.zip"]);
    EXPECT_EQ(whole->LastError(), 0u);
}

TEST(ScriptFtp, ListingGivesTheSizeWhenSizeIsUnknown) {
    fennic::test::ScriptFtpOptions opt;
    opt.replies["SIZE"] = "502 SIZE not implemented";
    opt.files["/d/x.zip"] = std::string(123457, 'x');
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    auto conn = Login(session, server.port(), "u", "p");
    ASSERT_TRUE(conn);
    FtpFileInfo info;
    ASSERT_TRUE(conn->FindFile("/d/x.zip", info)) << conn->LastErrorText();
    EXPECT_EQ(info.size, 123457u);
    EXPECT_FALSE(conn->FindFile("/d/none.zip", info));
    EXPECT_EQ(conn->LastError(), kErrorExtended);
    auto cmds = Normalised(server.Commands());
    std::vector<std::string> want = {"USER u",           "PASS p", "TYPE I",
                                     "SIZE /d/x.zip",    "PORT",   "LIST /d/x.zip",
                                     "SIZE /d/none.zip", "PORT",   "LIST /d/none.zip"};
    EXPECT_EQ(cmds, want);
}

// A server that accepts but never greets, and a session open for it.
class NeverGreeting : public ::testing::Test {
protected:
    static fennic::test::ScriptFtpOptions Silent() {
        fennic::test::ScriptFtpOptions opt;
        opt.greet = false;
        return opt;
    }
    void SetUp() override { ASSERT_TRUE(session.Open("t", "")); }

    fennic::test::ScriptFtpServer server{Silent()};
    FtpSession session;
};

TEST_F(NeverGreeting, ServerIsCutFromAnotherThread) {
    auto pending = std::async(std::launch::async, [&] {
        return session.Connect("127.0.0.1", server.port(), "u", "p") != nullptr;
    });
    // The caller's own time limit passes...
    EXPECT_EQ(pending.wait_for(milliseconds(200)), std::future_status::timeout);
    auto cut = Clock::now();
    session.Abort();
    ASSERT_EQ(pending.wait_for(milliseconds(500)), std::future_status::ready) << "Connect hung";
    EXPECT_LT(Clock::now() - cut, milliseconds(300));
    EXPECT_FALSE(pending.get());
    EXPECT_EQ(session.LastError(), kErrorOperationCancelled);
    EXPECT_TRUE(server.Commands().empty());  // nothing was sent to a server that never greeted
}

TEST_F(NeverGreeting, OwnConnectLimitGives1460) {
    session.SetTimeouts(150, 1000);
    auto t0 = Clock::now();
    EXPECT_FALSE(session.Connect("127.0.0.1", server.port(), "u", "p"));
    EXPECT_EQ(session.LastError(), 1460u);
    EXPECT_LT(Clock::now() - t0, milliseconds(1000));
}

TEST(ScriptFtp, ClosingMidTransferDoesNotDeadlock) {
    fennic::test::ScriptFtpOptions opt;
    std::string big = PatternBytes(32 * kBig, 3);
    opt.files["/huge.zip"] = big;
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    session.SetTimeouts(5000, 3000);
    auto conn = Login(session, server.port(), "u", "p");
    ASSERT_TRUE(conn);
    std::unique_ptr<FtpFile> data;
    ASSERT_TRUE(conn->Command("REST 1000\r\nRETR /huge.zip\r\nPWD\r\nNOOP\r\n", true, &data));
    char buf[1024];
    size_t got = 0;
    ASSERT_TRUE(data->Read(buf, sizeof buf, got));
    ASSERT_GT(got, 0u);
    EXPECT_EQ(std::string(buf, got), big.substr(1000, got));
    auto t0 = Clock::now();
    // The server is still writing and only sees our close: its 426 is our doing, no failure.
    EXPECT_TRUE(data->Close());
    EXPECT_LT(Clock::now() - t0, milliseconds(2000));
    std::string replies = conn->LastResponse();
    EXPECT_NE(replies.find("426"), std::string::npos) << replies;
    EXPECT_NE(replies.find("257"), std::string::npos) << replies;
    ASSERT_TRUE(conn->Command("NOOP\r\n", false, nullptr)) << conn->LastErrorText();
    EXPECT_EQ(conn->LastResponse(), "200 NOOP ok\r\n");
    // A read on the closed file fails cleanly.
    EXPECT_FALSE(data->Read(buf, sizeof buf, got));
}

TEST(ScriptFtp, AbortWakesABlockedRead) {
    fennic::test::Gate gate;
    fennic::test::ScriptFtpOptions opt;
    opt.files["/slow.zip"] = PatternBytes(4 * kBig, 5);
    opt.data_chunk = 1024;
    opt.data_gate = &gate;
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    auto conn = Login(session, server.port(), "u", "p");
    ASSERT_TRUE(conn);
    auto file = conn->OpenFile("/slow.zip");
    ASSERT_TRUE(file);
    char buf[4096];
    size_t got = 0;
    std::string first;
    while (first.size() < 1024 && file->Read(buf, sizeof buf, got) && got > 0)
        first.append(buf, got);
    EXPECT_EQ(first.size(), 1024u);
    auto reader = std::async(std::launch::async, [&] { return file->Read(buf, sizeof buf, got); });
    EXPECT_EQ(reader.wait_for(milliseconds(100)), std::future_status::timeout);
    session.Abort();
    ASSERT_EQ(reader.wait_for(milliseconds(500)), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_EQ(file->LastError(), kErrorOperationCancelled);
    file.reset();
    conn.reset();
    gate.Open();
}

TEST(FtpSessionSetup, ProxyAndUnopenedSessionFailClearly) {
    FtpSession session;
    EXPECT_FALSE(session.Connect("127.0.0.1", 21, "", ""));
    EXPECT_EQ(session.LastError(), kErrorIncorrectHandleState);
    EXPECT_FALSE(session.Open("t", "proxy:8080"));
    EXPECT_EQ(session.LastError(), kErrorProxyNotSupported);
    ASSERT_TRUE(session.Open("t", ""));
    EXPECT_FALSE(session.Connect("127.0.0.1", fennic::test::FreePort(), "", ""));
    EXPECT_EQ(session.LastError(), kErrorCannotConnect);
}

}  // namespace
}  // namespace fennic::inet

namespace fennic::inet {
namespace {

// "150 wait" replies before an answer: a few are fine, endless ones or a flood of text fail
// the call as an invalid response instead of filling memory.
TEST(ScriptFtp, PreliminaryRepliesAreBounded) {
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "150 " + std::string(100, 'y') + "\r\n";
    std::string flood;  // few replies, each near the longest one accepted
    for (int i = 0; i < 5; ++i) flood += "150-" + std::string(60000, 'z') + "\r\n150 end\r\n";
    const struct {
        std::string before;
        bool ok;
    } cases[] = {{"150 wait\r\n150 still\r\n150 nearly\r\n", true}, {many, false}, {flood, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.size());
        fennic::test::ScriptFtpOptions opt;
        opt.files["/a.zip"] = PatternBytes(1000, 2);
        opt.preliminary["SIZE"] = c.before;
        fennic::test::ScriptFtpServer server(opt);
        FtpSession session;
        auto conn = Login(session, server.port(), "u", "p");
        ASSERT_TRUE(conn);
        FtpFileInfo info;
        EXPECT_EQ(conn->FindFile("/a.zip", info), c.ok);
        if (c.ok) {
            EXPECT_EQ(info.size, 1000u);
            EXPECT_EQ(conn->LastReplyCodes(), (std::vector<int>{150, 150, 150, 213}));
        } else {
            EXPECT_EQ(conn->LastError(), kErrorInvalidServerResponse);
            EXPECT_LT(conn->LastResponse().size(), 300u * 1024);
            EXPECT_FALSE(conn->Command("NOOP\r\n", false, nullptr));  // the connection is gone
        }
    }
}

// Only the transfer command's own final reply decides, and only once its data was read to the
// end; replies to the commands sent after it never do.
TEST(ScriptFtp, TransferIsJudgedByItsOwnFinalReply) {
    const std::string content = PatternBytes(5000, 4);
    const struct {
        std::string retr_final, abor, text;
        bool ok;
    } cases[] = {{"", "426 Transfer aborted", "REST 10\r\nRETR /a.zip\r\nABOR\r\nNOOP\r\n", true},
                 {"", "225 ABOR ok", "RETR /a.zip\r\nNOOP\r\n", true},
                 {"451 Local error", "225 ABOR ok", "RETR /a.zip\r\nNOOP\r\n", false},
                 {"426 Connection lost", "225 ABOR ok", "REST 10\r\nRETR /a.zip\r\nPWD\r\n", false},
                 {"550 Gone", "225 ABOR ok", "RETR /a.zip\r\n", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.retr_final + " / " + c.text);
        // Held until the data connection is ours, so that no final reply can come before it.
        fennic::test::Gate gate;
        fennic::test::ScriptFtpOptions opt;
        opt.files["/a.zip"] = content;
        opt.data_gate = &gate;
        opt.retr_final = c.retr_final;
        opt.replies["ABOR"] = c.abor;
        opt.replies["NOOP"] = "500 NOOP refused";
        fennic::test::ScriptFtpServer server(opt);
        FtpSession session;
        auto conn = Login(session, server.port(), "u", "p");
        ASSERT_TRUE(conn);
        std::unique_ptr<FtpFile> data;
        const bool opened = conn->Command(c.text, true, &data);
        gate.Open();
        ASSERT_TRUE(opened) << conn->LastErrorText();
        const size_t from = c.text.rfind("REST", 0) == 0 ? 10 : 0;
        EXPECT_TRUE(ReadAll(*data) == content.substr(from));
        EXPECT_EQ(data->Close(), c.ok);
        if (c.ok) continue;
        EXPECT_EQ(data->LastError(), kErrorExtended);
        EXPECT_EQ(data->LastResponse(), c.retr_final + "\r\n");
    }
}

}  // namespace
}  // namespace fennic::inet
