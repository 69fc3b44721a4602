// One archive per run: every request after the first asks for the version the first answer
// showed, and an answer from another version is never taken. A change makes the run start over
// once from the tail; a second one fails with nothing written.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::test {
namespace {

constexpr char kChanged[] = "the archive changed on the server during the run";

// A server whose archive is replaced by the next version after the requests listed in `swaps`
// (counted from 1). It honours If-Match (412) and If-Range (200 with the whole body) the way
// real servers do, unless `ignoreConditions`.
struct Versions {
    std::vector<std::string> bodies;
    std::vector<int> swaps;
    bool etag = true;  // else only Last-Modified
    bool ignoreConditions = false;
    bool weakDates = false;  // If-Range with a date always gets the whole archive
    std::atomic<int> seen{0};

    void Serve(const RawHttpRequest& req, HttpPeer& peer) {
        const int n = ++seen;
        size_t v = 0;
        for (int s : swaps) v += n > s ? 1 : 0;
        v = std::min(v, bodies.size() - 1);
        const std::string tag = "\"v" + std::to_string(v) + "\"";
        const std::string date = "Mon, 0" + std::to_string(v + 1) + " Jun 2026 10:00:00 GMT";
        const std::vector<std::string> validators = {etag ? "ETag: " + tag : "X-None: 1",
                                                     "Last-Modified: " + date};
        if (req.method == "HEAD") {
            std::string head =
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bodies[v].size()) + "\r\n";
            for (const std::string& h : validators) head += h + "\r\n";
            return (void)peer.Send(head + "\r\n");
        }
        if (!ignoreConditions) {
            const std::string match = req.Header("if-match"), range = req.Header("if-range");
            if (!match.empty() && match != tag) return (void)peer.Respond(412, "", validators);
            if (!range.empty() && (weakDates || (range != tag && range != date)))
                return (void)peer.Respond(200, bodies[v], validators);
        }
        ServeBody(req, peer, bodies[v], false, validators);
    }
};

class ArchiveChange : public ::testing::Test {
protected:
    // Version k: first.txt holds "first k", far from the tail; `entries` small ones make the
    // directory longer than the first request when many.
    std::string Make(int k, int entries = 2, int pad = 200000, int each = 0) {
        const std::string path = home / ("v" + std::to_string(k) + ".zip");
        const CommandResult made = RunCommand(
            std::string(FENNIC_PYTHON) +
            " -c \"import os, sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
            "  z.writestr('first.txt', 'first ' + sys.argv[2])\n"
            "  z.writestr('pad.bin', os.urandom(int(sys.argv[4]) + int(sys.argv[2])))\n"
            "  for i in range(int(sys.argv[3])): z.writestr('entry-%05d-of-a-long-name' % i, "
            "sys.argv[2] + str(os.urandom(int(sys.argv[5]))))\n\" " +
            Quote(path) + " " + std::to_string(k) + " " + std::to_string(entries) + " " +
            std::to_string(pad) + " " + std::to_string(each));
        EXPECT_EQ(made.status, 0) << made.output;
        return ReadFile(path);
    }
    static std::vector<std::string> Header(const ScriptHttpServer& server, const char* name) {
        std::vector<std::string> out;
        for (const auto& r : server.Requests()) out.push_back(r.Header(name));
        return out;
    }
    TempDir home;
};

TEST_F(ArchiveChange, AChangeBetweenRequestsStartsTheRunOverOnce) {
    const std::vector<std::string> bodies = {Make(1), Make(2)};
    for (const bool etag : {true, false}) {
        SCOPED_TRACE(etag ? "ETag and If-Match" : "Last-Modified and If-Range");
        Versions versions;
        versions.bodies = bodies;
        versions.swaps = {1};
        versions.etag = etag;
        ScriptHttpServer server(
            [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
        std::string err;
        const CommandResult r =
            RunFennic(home, "cat " + Quote(server.Url("/a.zip")) + " first.txt", &err);
        EXPECT_EQ(r.status, 0) << err;
        EXPECT_EQ(r.output, "first 2");
        // The tail, the entry refused as another version's, the tail again, the entry.
        const std::string first = etag ? "\"v0\"" : "Mon, 01 Jun 2026 10:00:00 GMT";
        const std::string second = etag ? "\"v1\"" : "Mon, 02 Jun 2026 10:00:00 GMT";
        EXPECT_EQ(Header(server, etag ? "if-match" : "if-range"),
                  (std::vector<std::string>{"", first, "", second}));
        EXPECT_EQ(Header(server, etag ? "if-range" : "if-match"),
                  (std::vector<std::string>{"", "", "", ""}));
    }
}

TEST_F(ArchiveChange, AServerHoldingItsDateTooWeakForIfRangeIsAskedWithoutIt) {
    Versions versions;
    versions.bodies = {Make(1)};
    versions.etag = false;
    versions.weakDates = true;
    ScriptHttpServer server(
        [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
    std::string err;
    const CommandResult r =
        RunFennic(home, "cat " + Quote(server.Url("/a.zip")) + " first.txt", &err);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.output, "first 1");
    EXPECT_EQ(Header(server, "if-range"),
              (std::vector<std::string>{"", "Mon, 01 Jun 2026 10:00:00 GMT", ""}));
}

TEST_F(ArchiveChange, ASecondChangeFailsWithNothingWritten) {
    Versions versions;
    versions.bodies = {Make(1), Make(2), Make(3)};
    versions.swaps = {1, 3};
    ScriptHttpServer server(
        [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
    const TempDir out;
    std::string err;
    const CommandResult r =
        RunFennic(home, "get -d " + Quote(out.path()) + " " + Quote(server.Url("/a.zip")), &err);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(err.find(kChanged), std::string::npos) << err;
    // Said once, not once for each entry left.
    EXPECT_EQ(err.find(kChanged), err.rfind(kChanged)) << err;
    EXPECT_TRUE(ListDir(out.path()).empty());
}

TEST_F(ArchiveChange, ADirectoryReadFromAnotherVersionIsNeverListed) {
    // A directory longer than the first request: the listing takes a second one.
    const std::vector<std::string> bodies = {Make(1, 3000), Make(2, 3000)};
    for (const bool ignoring : {false, true}) {
        SCOPED_TRACE(ignoring ? "a server ignoring the conditions, sizes differ"
                              : "a server honouring them");
        Versions versions;
        versions.bodies = bodies;
        versions.swaps = {1};
        versions.ignoreConditions = ignoring;
        ScriptHttpServer server(
            [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
        std::string err;
        const CommandResult r = RunFennic(home, "list --tsv " + Quote(server.Url("/a.zip")), &err);
        EXPECT_EQ(r.status, 0) << err;
        EXPECT_EQ(r.output, RunFennic(home, "list --tsv " + Quote(home / "v2.zip")).output);
        EXPECT_EQ(server.Requests().size(), 4u);
    }
}

TEST_F(ArchiveChange, EveryConnectionOfAGetAsksForTheFirstVersion) {
    Versions versions;
    // Entries large enough to go over several connections.
    versions.bodies = {Make(1, 6, 200000, 150000)};
    ScriptHttpServer server(
        [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
    const TempDir out;
    std::string err;
    const CommandResult r = RunFennic(
        home, "get --connections 4 -d " + Quote(out.path()) + " " + Quote(server.Url("/a.zip")),
        &err);
    EXPECT_EQ(r.status, 0) << err;
    const std::vector<std::string> matches = Header(server, "if-match");
    ASSERT_GE(matches.size(), 4u);
    EXPECT_EQ(matches[0], "");
    for (size_t i = 1; i < matches.size(); ++i) EXPECT_EQ(matches[i], "\"v0\"") << i;
}

TEST_F(ArchiveChange, TheWindowsRoadRefusesRunsThatShowAnotherArchive) {
    // Alike but for their validators: only those can tell the versions apart.
    const std::string body = Make(1);
    const std::string list = "list --classic ";
    const std::string extract = "extract --classic -o out.zip --index 0 ";
    for (const auto& [command, swap] : {std::pair{list, 1}, {list, 2}, {extract, 3}}) {
        SCOPED_TRACE(command + std::to_string(swap));
        Versions versions;
        versions.bodies = {body, body};
        versions.swaps = {swap};
        ScriptHttpServer server(
            [&](const RawHttpRequest& req, HttpPeer& peer) { versions.Serve(req, peer); });
        std::string err;
        const CommandResult r = RunFennic(home, command + Quote(server.Url("/a.zip")), &err);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(err.find(kChanged), std::string::npos) << err;
        EXPECT_NE(err.find("Invalid Zip Archive"), std::string::npos) << err;
        EXPECT_FALSE(Exists(home / "out.zip"));
    }
}

TEST_F(ArchiveChange, AnFtpLoginFindingAnotherTimeStartsTheRunOver) {
    ScriptFtpOptions options;
    options.files["/a.zip"] = Make(1, 6, 200000, 150000);
    std::atomic<int> asked{0};
    // The first login's file is older than the one every later login finds.
    options.answer = [&asked](const std::string& line) -> std::string {
        if (line.rfind("MDTM ", 0) != 0) return "";
        return ++asked == 1 ? "213 20260601100000" : "213 20260602100000";
    };
    ScriptFtpServer server(options);
    const TempDir out;
    std::string err;
    const CommandResult r = RunFennic(home,
                                      "get -d " + Quote(out.path()) + " ftp://127.0.0.1:" +
                                          std::to_string(server.port()) + "/a.zip",
                                      &err);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(ListDir(out.path()).size(), 8u);
    // The first run's second login saw the change; the run began again from the tail.
    const std::string tail = "REST " + std::to_string(options.files["/a.zip"].size() - 65633);
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), tail), 2)
        << ::testing::PrintToString(commands);
    EXPECT_GE(asked.load(), 3);
}

}  // namespace
}  // namespace fennic::test
