// fennic fetch, run as a program against nginx and pyftpdlib.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::test {
namespace {

class FetchCliTest : public ::testing::Test {
protected:
    FetchCliTest() : body(PatternBytes(200000, 9)) { root.Write("a.zip", body); }

    // Runs `fennic fetch` with the given arguments.
    Finished Fetch(const std::string& args) {
        std::string err;
        const CommandResult r = RunFennic(dir, "fetch " + args, &err);
        return {r.status, r.output, err};
    }
    TempDir dir, root;
    std::string body;
    std::string local = dir / "out.bin";
};

TEST_F(FetchCliTest, HttpSizeAndRanges) {
    NginxServer nginx(root.path());
    Finished r = Fetch("--size-only " + nginx.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "200000\n");

    r = Fetch("--range 199978 199999 " + nginx.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "22\n");
    EXPECT_EQ(ReadFile(local), body.substr(199978));
    EXPECT_EQ(r.err, "");  // stderr is no terminal: no progress line

    r = Fetch(nginx.Url("/a.zip") + " " + local);  // the whole resource
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(local) == body);

    const auto log = nginx.WaitForAccessLog(4);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].range, "-");
    EXPECT_EQ(log[1].range, "bytes=199978-199999");
    EXPECT_EQ(log[1].status, 206);
    EXPECT_EQ(log[2].range, "-");
    EXPECT_EQ(log[3].range, "bytes=0-199999");
}

TEST_F(FetchCliTest, SettingsProxyCarriesTheRequestAsOnTheRoads) {
    NginxServer nginx(root.path());
    TinyProxy proxy;
    // A port in the settings other than the address's: the address as typed still wins.
    dir.Write("FennicExpl/FennicExpl.ini",
              "[Settings]\nUseProxy=1\nProxyStr=127.0.0.1\nProxyPort=" +
                  std::to_string(proxy.port()) + "\nHttpPort=1\n");

    const Finished r = Fetch("--range 10 29 " + nginx.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(local), body.substr(10, 20));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=10-29");
    EXPECT_NE(proxy.Log().find(nginx.Url("/a.zip")), std::string::npos) << proxy.Log();
}

TEST_F(FetchCliTest, HttpFailureExitsOneWithTheMessage) {
    NginxServer nginx(root.path());
    Finished r = Fetch("--range 0 9 " + nginx.Url("/missing.zip") + " " + local);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Failed to receive a valid HTTP response from the server"),
              std::string::npos)
        << r.err;
}

TEST_F(FetchCliTest, SizeRunOfAnErrorPageExitsOneNamingTheStatus) {
    NginxServer nginx(root.path());
    for (const std::string args : {"--size-only ", ""}) {
        Finished r = Fetch(args + nginx.Url("/missing.zip") + " " + local);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("HTTP status 404"), std::string::npos) << r.err;
    }
    EXPECT_EQ(nginx.WaitForAccessLog(2).size(), 2u);  // one size run each, no ranged run

    // A reason phrase full of terminal controls, and credentials that do not pass.
    HostileHttpOptions options;
    options.status = 403;
    options.reason = "Forbidden\x1b]0;owned\x07\x1b[2J";
    HostileHttpServer forbidden(options);
    Finished r = Fetch("--size-only " + forbidden.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("HTTP status 403"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find_first_of("\x1b\x07"), std::string::npos) << r.err;

    options.status = 401;
    options.reason = "Unauthorized";
    HostileHttpServer locked(options);
    const std::string url = "http://ann:pw@127.0.0.1:" + std::to_string(locked.port()) + "/a.zip";
    r = Fetch("--size-only " + url + " " + local);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("HTTP status 401"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("pw"), std::string::npos) << r.err;
    r = Fetch("--range 0 9 " + url + " " + local);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Failed to receive a valid HTTP response from the server"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(locked.Requests().back().Header("authorization"), BasicAuth("ann", "pw"));
}

TEST_F(FetchCliTest, FtpSizeRefusalIsShownHarmlessly) {
    ScriptFtpOptions options;
    options.files["/a.zip"] = body;
    options.replies["SIZE"] = "550 \x1b[31mno\x07";
    ScriptFtpServer ftp(options);
    Finished r = Fetch("ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/a.zip " + local);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("550 \\x1B[31mno\\x07"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find_first_of("\x1b\x07"), std::string::npos) << r.err;
    const auto commands = ftp.Commands();
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "RETR /a.zip"), commands.end());
}

TEST_F(FetchCliTest, FtpRangeEndIsInclusiveOnTheCommandLine) {
    PyFtpServer ftp(root.path(), "ann", "pw");
    const std::string url = "ftp://ann:pw@127.0.0.1:" + std::to_string(ftp.port()) + "/a.zip";
    Finished r = Fetch("--range 1000 1021 " + url + " " + local);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "200000\n");  // FTP reports the listed size of the whole file
    EXPECT_EQ(ReadFile(local), body.substr(1000, 22));
    const auto commands = ftp.Commands();
    int rests = 0;
    for (const auto& c : commands) rests += c == "REST 1000";
    EXPECT_EQ(rests, 2);  // the probe and the restart

    r = Fetch(url + " " + local);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(local) == body);
}

// An http range from 0 to 4294967295 is 2^32 bytes, which no 32-bit size counts: a usage
// error as for ftp, and nothing goes to the server (which would stream without end).
TEST_F(FetchCliTest, HttpRangeOf4GiBIsAUsageError) {
    HostileHttpServer server(Playing(HttpFault::kRange4GiB));
    Finished r = Fetch("--range 0 4294967295 " + server.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("4294967294"), std::string::npos) << r.err;
    EXPECT_TRUE(server.Requests().empty());
    // A later start is an ordinary range.
    r = Fetch("--range 1 4294967295 " + server.Url("/a.zip") + " " + local);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(FetchCliTest, WrongArgumentsExitTwo) {
    EXPECT_EQ(Fetch("--range 5 2 http://127.0.0.1/a " + local).status, 2);
    EXPECT_EQ(Fetch("--range 1 99999999999 http://127.0.0.1/a " + local).status, 2);
    EXPECT_EQ(Fetch("--size-only --range 1 2 http://127.0.0.1/a " + local).status, 2);
    Finished r = Fetch("https://127.0.0.1/a " + local);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("http:// or ftp://"), std::string::npos);
    EXPECT_EQ(Fetch("onlyone").status, 2);
    r = Fetch("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("INCLUSIVE"), std::string::npos);
}

}  // namespace
}  // namespace fennic::test
