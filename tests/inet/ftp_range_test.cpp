// Ranged reads on one login: passive and active data connections, REST, ABOR.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include "fs/unique_fd.h"
#include "inet/errors.h"
#include "inet/ftp.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::inet {
namespace {

using fennic::test::PatternBytes;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

// Past 4 GiB without the disk space: known bytes at the start and the end, a hole between.
constexpr uint64_t kEndAt = 5ull << 30;
const std::string kHead = PatternBytes(1 << 16, 11), kEnd = PatternBytes(1 << 16, 12);

void WriteHugeFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out.write(kHead.data(), static_cast<std::streamsize>(kHead.size()));
    out.seekp(static_cast<std::streamoff>(kEndAt));
    out.write(kEnd.data(), static_cast<std::streamsize>(kEnd.size()));
    ASSERT_TRUE(out.good());
}

std::unique_ptr<FtpConnection> Login(FtpSession& session, uint16_t port, bool passive,
                                     const std::string& user = "", const std::string& pw = "") {
    session.SetPassive(passive);
    EXPECT_TRUE(session.Open("t", ""));
    auto conn = session.Connect("127.0.0.1", port, user, pw);
    EXPECT_TRUE(conn) << session.LastErrorText() << " / " << session.LastResponse();
    return conn;
}

std::string ReadUpTo(FtpFile& file, size_t limit) {
    std::string out;
    char buf[4096];
    size_t got = 0;
    while (out.size() < limit && file.Read(buf, std::min(sizeof buf, limit - out.size()), got) &&
           got > 0) {
        out.append(buf, got);
    }
    return out;
}

// Two reads stopped before the end of the file, one past 4 GiB, then SIZE, all on one login:
// the server's whole log, where it keeps one, is that login and each read's commands in order.
// A pause before each abort lets the server fill the data connection and block in its write.
void TwoRangedReads(FtpConnection& conn, bool passive, Strings want,
                    const std::function<Strings()>& server_commands,
                    milliseconds pause = milliseconds(0)) {
    const struct {
        uint64_t at;
        std::string bytes;
    } reads[] = {{1000, kHead.substr(1000, 5000)}, {kEndAt + 10, kEnd.substr(10, 22)}};
    for (const auto& r : reads) {
        auto file = conn.OpenFileAt("/huge.zip", r.at);
        ASSERT_TRUE(file) << conn.LastErrorText() << " / " << conn.LastResponse();
        EXPECT_EQ(ReadUpTo(*file, r.bytes.size()), r.bytes);
        std::this_thread::sleep_for(pause);
        EXPECT_TRUE(file->Abort()) << file->LastErrorText() << " / " << conn.LastResponse();
        want.insert(want.end(), {passive ? "EPSV" : "PORT", "REST " + std::to_string(r.at),
                                 "RETR /huge.zip", "ABOR"});
    }
    FtpFileInfo info;
    ASSERT_TRUE(conn.FindFile("/huge.zip", info)) << conn.LastResponse();
    EXPECT_EQ(info.size, kEndAt + kEnd.size());
    conn.Close();
    if (!server_commands) return;
    want.insert(want.end(), {"SIZE /huge.zip", "QUIT"});
    Strings cmds;
    ASSERT_TRUE(fennic::test::WaitUntil([&] {
        cmds = server_commands();
        return !cmds.empty() && cmds.back() == "QUIT";
    }));
    for (auto& c : cmds) {
        if (c.rfind("PORT ", 0) == 0 || c.rfind("EPRT ", 0) == 0) c = "PORT";
    }
    EXPECT_EQ(cmds, want);
}

class RangedRead : public ::testing::TestWithParam<bool> {};

TEST_P(RangedRead, PyFtpdlib) {
    fennic::test::TempDir root;
    WriteHugeFile(root.path() + "/huge.zip");
    fennic::test::PyFtpServer server(root.path(), "joe", "s3cret");
    FtpSession session;
    auto conn = Login(session, server.port(), GetParam(), "joe", "s3cret");
    ASSERT_TRUE(conn);
    TwoRangedReads(*conn, GetParam(), {"USER joe", "PASS s3cret", "TYPE I"},
                   [&] { return server.Commands(); });
}

TEST_P(RangedRead, Vsftpd) {
    if (!fennic::test::VsftpdServer::Available()) GTEST_SKIP() << "vsftpd needs root";
    fennic::test::TempDir root;
    WriteHugeFile(root.path() + "/huge.zip");
    fennic::test::VsftpdServer server(root.path());
    FtpSession session;
    auto conn = Login(session, server.port(), GetParam());
    ASSERT_TRUE(conn);
    TwoRangedReads(*conn, GetParam(), {"USER anonymous", "PASS <password>", "TYPE I"},
                   [&] { return server.Commands(); });
}

// When its write into a data connection we closed fails, it ends the transfer with a
// preliminary reply and answers ABOR with one 226; an ABOR it sees first gets 426, then 226.
TEST_P(RangedRead, PureFtpd) {
    if (!fennic::test::PureFtpdServer::Available())
        GTEST_SKIP() << "pure-ftpd is not there (scripts/deps.sh test unpacks it) or needs root";
    fennic::test::TempDir root;
    WriteHugeFile(root.path() + "/huge.zip");
    fennic::test::PureFtpdServer server(root.path());
    FtpSession session;
    session.SetTimeouts(5000, 5000);  // a wait for a reply that never comes fails the abort
    auto conn = Login(session, server.port(), GetParam(), fennic::test::kPureFtpdUser,
                      fennic::test::kPureFtpdPassword);
    ASSERT_TRUE(conn);
    TwoRangedReads(*conn, GetParam(), {}, nullptr, milliseconds(200));
    // Data cut without ABOR: its transfer ends with a preliminary reply, and nothing more.
    FtpSession second;
    second.SetTimeouts(5000, 5000);
    auto again = Login(second, server.port(), GetParam(), fennic::test::kPureFtpdUser,
                       fennic::test::kPureFtpdPassword);
    ASSERT_TRUE(again);
    std::unique_ptr<FtpFile> data;
    ASSERT_TRUE(again->Command("REST 1000\r\nRETR /huge.zip\r\n", true, &data));
    EXPECT_EQ(ReadUpTo(*data, 5000), kHead.substr(1000, 5000));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_TRUE(data->Close());
    EXPECT_TRUE(again->Command("NOOP\r\n", false, nullptr)) << again->LastErrorText();
    EXPECT_EQ(again->LastReplyCodes(), std::vector<int>{200});
}

INSTANTIATE_TEST_SUITE_P(Modes, RangedRead, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Passive" : "Active"; });

TEST(ScriptFtpPassive, PasvAfterRefusedEpsvGoesToTheControlPeer) {
    fennic::test::ScriptFtpOptions opt;
    opt.replies["EPSV"] = "500 EPSV not understood";
    opt.pasv_address = "127,0,0,2";  // only 127.0.0.1 listens: a connect there is refused
    const std::string content = PatternBytes(300000, 3);
    opt.files["/a.zip"] = content;
    fennic::test::ScriptFtpServer server(opt);
    FtpSession session;
    auto conn = Login(session, server.port(), true, "u", "p");
    ASSERT_TRUE(conn);
    auto file = conn->OpenFileAt("/a.zip", 100);
    ASSERT_TRUE(file) << conn->LastErrorText();
    EXPECT_EQ(ReadUpTo(*file, 1000), content.substr(100, 1000));
    EXPECT_TRUE(file->Abort()) << file->LastErrorText();
    file = conn->OpenFileAt("/a.zip", 0);
    ASSERT_TRUE(file) << conn->LastErrorText();
    EXPECT_EQ(ReadUpTo(*file, SIZE_MAX), content);
    EXPECT_TRUE(file->Abort());  // the data ended: nothing to abort
    EXPECT_EQ(server.Commands(), (Strings{"USER u", "PASS p", "TYPE I", "EPSV", "PASV", "REST 100",
                                          "RETR /a.zip", "ABOR", "PASV", "RETR /a.zip"}));
}

// Unusable passive replies and a refused REST send nothing more and keep the login in step.
TEST(ScriptFtpPassive, BadPassiveRepliesAndRefusedRestStopBeforeRetr) {
    const struct {
        std::string verb, reply;
        uint32_t error;
    } cases[] = {
        {"EPSV", "229 Entering Extended Passive Mode (|||70000|)", kErrorInvalidServerResponse},
        {"EPSV", "229 (|||" + std::string(60000, '7') + "|)", kErrorInvalidServerResponse},
        {"PASV", "227 Entering Passive Mode (127,0,0,1,300,1)", kErrorInvalidServerResponse},
        {"PASV", "227 (" + std::string(60000, '1') + ")", kErrorInvalidServerResponse},
        {"REST", "502 REST not implemented", kErrorExtended}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 60));
        fennic::test::ScriptFtpOptions opt;
        opt.files["/a.zip"] = "zip";
        opt.replies["EPSV"] = "502 EPSV not implemented";
        opt.replies[c.verb] = c.reply;
        fennic::test::ScriptFtpServer server(opt);
        FtpSession session;
        auto conn = Login(session, server.port(), true, "u", "p");
        ASSERT_TRUE(conn);
        EXPECT_FALSE(conn->OpenFileAt("/a.zip", 5));
        EXPECT_EQ(conn->LastError(), c.error);
        if (c.error == kErrorExtended) {
            EXPECT_NE(conn->LastResponse().find(c.reply), std::string::npos);
            EXPECT_EQ(conn->LastReply(), c.reply + "\r\n");  // not the passive reply before it
        }
        ASSERT_TRUE(conn->Command("NOOP\r\n", false, nullptr)) << conn->LastErrorText();
        EXPECT_EQ(conn->LastResponse(), "200 NOOP ok\r\n");
        Strings sent = server.Commands();
        Strings want = {"USER u", "PASS p", "TYPE I", "EPSV"};
        if (c.verb != "EPSV") want.push_back("PASV");
        if (c.verb == "REST") want.push_back("REST 5");
        want.push_back("NOOP");
        EXPECT_EQ(sent, want);
    }
}

// The client's connect to 127.0.0.1:port has not been answered yet.
bool ConnectPending(uint16_t port) {
    char want[16];
    std::snprintf(want, sizeof want, ":%04X 02 ", port);  // remote port, state SYN_SENT
    return fennic::test::ReadFile("/proc/net/tcp").find(want) != std::string::npos;
}

// A data port that never accepts and an ABOR never answered each cost the idle limit, and
// Abort() ends the wait at once; only the unanswered ABOR leaves the login out of step.
TEST(ScriptFtpPassive, SilentDataPortAndSilentAborAreBounded) {
    fs::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    fs::UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    auto* sa = reinterpret_cast<sockaddr*>(&a);
    // A full listen queue: later connects to it wait for an answer that never comes.
    ASSERT_EQ(::bind(listener.Get(), sa, sizeof a), 0);
    ASSERT_EQ(::listen(listener.Get(), 0), 0);
    ASSERT_EQ(::getsockname(listener.Get(), sa, &len), 0);
    ASSERT_EQ(::connect(filler.Get(), sa, sizeof a), 0);
    const uint16_t dead_port = ntohs(a.sin_port);

    fennic::test::ScriptFtpOptions opt;
    opt.files["/a.zip"] = PatternBytes(8 << 20, 5);
    opt.replies["EPSV"] = "229 Extended Passive Mode (|||" + std::to_string(dead_port) + "|)";
    opt.replies["ABOR"] = "";
    fennic::test::ScriptFtpServer server(opt);
    auto fails_at_idle_limit = [](const std::function<bool()>& call) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(call());
        EXPECT_GE(std::chrono::steady_clock::now() - t0, milliseconds(250));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(3000));
    };

    FtpSession session;
    session.SetTimeouts(5000, 300);
    auto conn = Login(session, server.port(), true, "u", "p");
    ASSERT_TRUE(conn);
    fails_at_idle_limit([&] { return conn->OpenFileAt("/a.zip", 0) != nullptr; });
    EXPECT_EQ(conn->LastError(), kErrorTimeout) << conn->LastErrorText();
    EXPECT_TRUE(conn->Command("NOOP\r\n", false, nullptr)) << conn->LastErrorText();

    session.SetTimeouts(5000, 60000);
    auto pending =
        std::async(std::launch::async, [&] { return conn->OpenFileAt("/a.zip", 0) != nullptr; });
    ASSERT_TRUE(fennic::test::WaitUntil([&] { return ConnectPending(dead_port); }));
    session.Abort();
    ASSERT_EQ(pending.wait_for(milliseconds(2000)), std::future_status::ready);
    EXPECT_FALSE(pending.get());
    EXPECT_EQ(conn->LastError(), kErrorOperationCancelled);

    FtpSession active;
    active.SetTimeouts(5000, 300);
    auto conn2 = Login(active, server.port(), false, "u", "p");
    ASSERT_TRUE(conn2);
    auto file = conn2->OpenFileAt("/a.zip", 0);
    ASSERT_TRUE(file) << conn2->LastErrorText();
    EXPECT_EQ(ReadUpTo(*file, 1000), opt.files["/a.zip"].substr(0, 1000));
    fails_at_idle_limit([&] { return file->Abort(); });
    EXPECT_EQ(file->LastError(), kErrorTimeout) << file->LastErrorText();
    EXPECT_FALSE(conn2->OpenFileAt("/a.zip", 0));  // a late reply must not pass as its answer
    EXPECT_EQ(conn2->LastError(), kErrorFtpDropped);
    EXPECT_EQ(server.Commands().back(), "ABOR");
}

// A script server with its own login, passive or active, at the given idle limit.
struct ScriptLogin {
    ScriptLogin(const fennic::test::ScriptFtpOptions& options, bool passive, uint32_t idle_ms)
        : server(options) {
        session.SetTimeouts(5000, idle_ms);
        conn = Login(session, server.port(), passive, "u", "p");
    }
    fennic::test::ScriptFtpServer server;
    FtpSession session;
    std::unique_ptr<FtpConnection> conn;
};

// Each failure of a transfer's setup says which step failed: the reply that refused, the data
// port that refused, the address a refused data connection came from.
TEST(ScriptFtpData, FailuresNameTheReplyThePortAndTheStrangerThatFailed) {
    fennic::test::ScriptFtpOptions opt;
    opt.files["/a.zip"] = PatternBytes(1000, 4);
    ScriptLogin plain(opt, true, 30000);
    ASSERT_TRUE(plain.conn);
    EXPECT_FALSE(plain.conn->OpenFileAt("/missing.zip", 7));
    EXPECT_EQ(plain.conn->LastError(), kErrorExtended);
    EXPECT_EQ(plain.conn->LastReply(), "550 /missing.zip: No such file\r\n");
    EXPECT_EQ(plain.conn->LastReplyCodes(), (std::vector<int>{229, 350, 550}));

    const uint16_t dead = fennic::test::FreePort();  // nobody listens there
    fennic::test::ScriptFtpOptions deadOpt = opt;
    deadOpt.replies["EPSV"] = "229 Extended Passive Mode (|||" + std::to_string(dead) + "|)";
    ScriptLogin refused(deadOpt, true, 30000);
    ASSERT_TRUE(refused.conn);
    EXPECT_FALSE(refused.conn->OpenFileAt("/a.zip", 0));
    EXPECT_EQ(refused.conn->LastError(), kErrorCannotConnect);
    EXPECT_EQ(refused.conn->LastErrorText(),
              "The connection to the server could not be made: the data connection to port " +
                  std::to_string(dead) + " failed: Connection refused");
    EXPECT_EQ(refused.server.Commands().back(), "EPSV");  // no RETR after it

    // Active: the server's data connection comes from 127.0.0.2, not from the control peer.
    fennic::test::ScriptFtpOptions strangerOpt = opt;
    strangerOpt.active_from = "127.0.0.2";
    ScriptLogin stranger(strangerOpt, false, 500);
    ASSERT_TRUE(stranger.conn);
    EXPECT_FALSE(stranger.conn->OpenFileAt("/a.zip", 0));
    // The server either sent its data into the dropped connection (226, then the wait ran
    // out) or saw it cut (426): both say why no data came.
    const uint32_t error = stranger.conn->LastError();
    EXPECT_TRUE(error == kErrorTimeout || error == kErrorExtended) << error;
    EXPECT_EQ(stranger.conn->LastErrorText(),
              std::string(ErrorText(error)) +
                  ": a data connection came from 127.0.0.2, not from the server at 127.0.0.1, "
                  "and was refused");
}

// Runs call on its own thread; a call still waiting after 20 s waits for a reply that never
// comes, and is woken.
bool Guarded(FtpSession& session, const std::function<bool()>& call) {
    auto run = std::async(std::launch::async, call);
    if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        session.Abort();
        ADD_FAILURE() << "the call waited for a reply that never comes";
    }
    return run.get();
}

// Each way servers end an aborted transfer leaves the login in step, and the next command goes
// out as soon as the sequence has ended: a server that closes the transfer with a preliminary
// reply and answers ABOR once must not be waited for a second final reply.
TEST(ScriptFtpAbort, EveryReplySequenceEndsTheAbortAtOnce) {
    const struct {
        std::string transfer_end, abor;
    } cases[] = {
        {"150 0.000 seconds (measured here)", "226 Since you see this ABOR must've succeeded"},
        {"426 Failure writing network stream.", "226 ABOR successful"},
        {"226 Transfer complete", "225 No transfer to ABOR"},
        {"226 Transfer complete", "226 Abort successful"}};
    const std::string content = PatternBytes(300000, 6);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.transfer_end + " / " + c.abor);
        fennic::test::ScriptFtpOptions opt;
        opt.files["/a.zip"] = content;
        // The same end whether the data was cut short or had all gone out.
        opt.retr_final = opt.retr_aborted = c.transfer_end;
        opt.replies["ABOR"] = c.abor;
        ScriptLogin login(opt, true, 60000);  // a wait for a reply would outlast the guard
        ASSERT_TRUE(login.conn);
        FtpConnection& conn = *login.conn;
        EXPECT_TRUE(Guarded(login.session, [&] {
            for (uint64_t at : {100, 0}) {
                auto file = conn.OpenFileAt("/a.zip", at);
                if (!file || ReadUpTo(*file, 1000) != content.substr(at, 1000)) return false;
                if (!file->Abort()) return false;
            }
            return conn.Command("NOOP\r\n", false, nullptr);
        })) << conn.LastErrorText();
        EXPECT_EQ(conn.LastResponse(), "200 NOOP ok\r\n");
        EXPECT_EQ(login.server.Commands(),
                  (Strings{"USER u", "PASS p", "TYPE I", "EPSV", "REST 100", "RETR /a.zip", "ABOR",
                           "EPSV", "RETR /a.zip", "ABOR", "NOOP"}));
    }
}

// A transfer closed without ABOR before its data ended, with commands sent behind it (the
// window's road reads a range that way): its end, final or preliminary, and their replies keep
// the login in step, and the next command goes out at once.
TEST(ScriptFtpAbort, ATransferCutShortEndsWithWhateverReplyTheServerGivesIt) {
    const std::string content = PatternBytes(8 << 20, 7);
    for (const char* end : {"150 0.000 seconds (measured here)", "426 Failure writing network"}) {
        SCOPED_TRACE(end);
        fennic::test::ScriptFtpOptions opt;
        opt.files["/a.zip"] = content;
        opt.retr_final = opt.retr_aborted = end;
        ScriptLogin login(opt, true, 60000);
        ASSERT_TRUE(login.conn);
        FtpConnection& conn = *login.conn;
        EXPECT_TRUE(Guarded(login.session, [&] {
            std::unique_ptr<FtpFile> data;
            if (!conn.Command("REST 100\r\nRETR /a.zip\r\nPWD\r\nNOOP\r\n", true, &data) ||
                ReadUpTo(*data, 1000) != content.substr(100, 1000) || !data->Close())
                return false;
            return conn.Command("NOOP\r\n", false, nullptr);
        })) << conn.LastErrorText();
        EXPECT_EQ(conn.LastResponse(), "200 NOOP ok\r\n");
        EXPECT_EQ(login.server.Commands(),
                  (Strings{"USER u", "PASS p", "TYPE I", "EPSV", "REST 100", "RETR /a.zip", "PWD",
                           "NOOP", "NOOP"}));
    }
}

}  // namespace
}  // namespace fennic::inet
