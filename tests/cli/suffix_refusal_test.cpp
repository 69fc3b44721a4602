// How the direct road takes servers' answers to its ranges. Servers that refuse only the
// suffix form ("bytes=-N") still serve ranges by their offsets: the listing goes on by those,
// and only a server that refuses both is said to send no ranges. A compressed answer is never
// taken for the archive's bytes.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::test {
namespace {

class SuffixRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        // An entry far from the tail and one in it: more than the first request asks for.
        const CommandResult made = RunCommand(std::string(FENNIC_PYTHON) +
                                              " -c \"import os, sys, zipfile\n"
                                              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                              "  z.writestr('first.txt', 'first')\n"
                                              "  z.writestr('pad.bin', os.urandom(300000))\n"
                                              "  z.writestr('last.txt', 'last')\n\" " +
                                              Quote(home / "a.zip"));
        ASSERT_EQ(made.status, 0) << made.output;
        body = ReadFile(home / "a.zip");
        local = RunFennic(home, "list --tsv " + Quote(home / "a.zip")).output;
        ASSERT_FALSE(local.empty());
    }
    // The Range headers the server saw, in order.
    static std::vector<std::string> Ranges(const ScriptHttpServer& server) {
        std::vector<std::string> out;
        for (const auto& r : server.Requests()) out.push_back(r.Header("range"));
        return out;
    }
    std::string Tail() const {
        const size_t n = body.size();
        return "bytes=" + std::to_string(n - 65633) + "-" + std::to_string(n - 1);
    }
    TempDir home;
    std::string body, local;
};

TEST_F(SuffixRefusal, EachRefusalIsFollowedByRangesByOffsets) {
    const std::string size = std::to_string(body.size());
    const struct {
        const char* name;
        std::function<void(HttpPeer&)> refuse;
        bool probes;  // the size comes from a request for the first byte
    } cases[] = {
        {"200 with the whole archive", [&](HttpPeer& p) { p.Respond(200, body); }, false},
        {"501", [](HttpPeer& p) { p.Respond(501, "not here"); }, true},
        {"400", [](HttpPeer& p) { p.Respond(400, "bad"); }, true},
        {"416 naming the size",
         [&](HttpPeer& p) { p.Respond(416, "", {"Content-Range: bytes */" + size}); }, false},
        {"416 naming nothing", [](HttpPeer& p) { p.Respond(416, ""); }, true},
        {"206 with the first bytes",
         [&](HttpPeer& p) {
             p.Respond(206, body.substr(0, 65634), {"Content-Range: bytes 0-65633/" + size});
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
            if (req.Header("range").rfind("bytes=-", 0) == 0) return c.refuse(peer);
            ServeBody(req, peer, body);
        });
        std::string err;
        const CommandResult r = RunFennic(home, "list --tsv " + Quote(server.Url("/a.zip")), &err);
        EXPECT_EQ(r.status, 0) << err;
        EXPECT_EQ(r.output, local);
        std::vector<std::string> want = {"bytes=-65633"};
        if (c.probes) want.push_back("bytes=0-0");
        want.push_back(Tail());
        EXPECT_EQ(Ranges(server), want);
    }
}

TEST_F(SuffixRefusal, OnlyAServerRefusingEveryRangeIsSaidToSendNone) {
    for (const bool knowsLength : {true, false}) {
        SCOPED_TRACE(knowsLength);
        ScriptHttpServer server([&](const RawHttpRequest&, HttpPeer& peer) {
            peer.Respond(200, body, {}, !knowsLength);
        });
        std::string err;
        const CommandResult r = RunFennic(home, "list --tsv " + Quote(server.Url("/a.zip")), &err);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "");
        EXPECT_NE(err.find("the server does not send byte ranges"), std::string::npos) << err;
        EXPECT_NE(err.find("--full-download"), std::string::npos) << err;
        // The whole archive is never read for it: two requests, each cut off after its head.
        EXPECT_EQ(Ranges(server).size(), 2u);
    }
}

TEST_F(SuffixRefusal, ACompressedAnswerIsRefusedOnEveryRequest) {
    const struct {
        const char* coding;
        bool fullDownload, refused;
    } cases[] = {
        {"gzip", false, true},      {"GZIP ", false, true},     {"br", true, true},
        {"identity", false, false}, {" Identity", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.coding);
        ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
            const std::vector<std::string> coding = {std::string("Content-Encoding: ") + c.coding};
            // With --full-download the server ignores ranges: the whole body comes coded.
            if (c.fullDownload)
                peer.Respond(200, body, coding);
            else
                ServeBody(req, peer, body, false, coding);
        });
        std::string err;
        const CommandResult r =
            RunFennic(home,
                      std::string("list --tsv ") + (c.fullDownload ? "--full-download " : "") +
                          Quote(server.Url("/a.zip")),
                      &err);
        if (c.refused) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.output, "");
            EXPECT_NE(err.find("the server compressed the answer (Content-Encoding: "),
                      std::string::npos)
                << err;
            EXPECT_EQ(server.Requests().size(), 1u);
        } else {
            EXPECT_EQ(r.status, 0) << err;
            EXPECT_EQ(r.output, local);
        }
    }
}

TEST_F(SuffixRefusal, ArchivesShorterThanTheFirstRequestAndEmptyFiles) {
    // An archive of a few KiB: the suffix asks for more than there is.
    const CommandResult made = RunCommand(std::string(FENNIC_PYTHON) +
                                          " -c \"import sys, zipfile\n"
                                          "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                          "  z.writestr('a.txt', 'a' * 6000)\n\" " +
                                          Quote(home / "small.zip"));
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string small = ReadFile(home / "small.zip");
    const std::string n = std::to_string(small.size());
    const std::string whole = "bytes=0-" + std::to_string(small.size() - 1);
    const std::string smallList = RunFennic(home, "list --tsv " + Quote(home / "small.zip")).output;
    const struct {
        const char* name;
        std::string body;
        std::function<void(HttpPeer&)> suffix, probe;  // probe empty: served from the body
        std::vector<std::string> ranges;
        bool empty;
    } cases[] = {
        {"416 naming the size",
         small,
         [&](HttpPeer& p) { p.Respond(416, "", {"Content-Range: bytes */" + n}); },
         nullptr,
         {"bytes=-65633", whole},
         false},
        {"206 with a malformed Content-Range",
         small,
         [&](HttpPeer& p) {
             p.Respond(
                 206, small,
                 {"Content-Range: bytes -59159-" + std::to_string(small.size() - 1) + "/" + n});
         },
         nullptr,
         {"bytes=-65633", "bytes=0-0", whole},
         false},
        {"empty: 416 naming 0",
         "",
         [](HttpPeer& p) { p.Respond(416, "", {"Content-Range: bytes */0"}); },
         nullptr,
         {"bytes=-65633"},
         true},
        {"empty: 200 of no bytes",
         "",
         [](HttpPeer& p) { p.Respond(200, ""); },
         nullptr,
         {"bytes=-65633"},
         true},
        {"empty: 416 naming nothing, twice",
         "",
         [](HttpPeer& p) { p.Respond(416, ""); },
         [](HttpPeer& p) { p.Respond(416, ""); },
         {"bytes=-65633", "bytes=0-0"},
         true},
        // Seen on real servers: a 206 that names no size to the first byte, a malformed
        // suffix answer and a 400, a 206 of one byte of a file of none.
        {"empty: 416 naming nothing, then 206 of an unknown size",
         "",
         [](HttpPeer& p) { p.Respond(416, ""); },
         [](HttpPeer& p) { p.Respond(206, "", {"Content-Range: bytes 0-0/*"}); },
         {"bytes=-65633", "bytes=0-0", ""},
         true},
        {"empty: a malformed 206, then 400",
         "",
         [](HttpPeer& p) {
             p.Respond(206, std::string(65633, 'x'), {"Content-Range: bytes -65633--1/0"});
         },
         [](HttpPeer& p) { p.Respond(400, "bad"); },
         {"bytes=-65633", "bytes=0-0", ""},
         true},
        {"empty: 206 of a byte it has not, twice",
         "",
         [](HttpPeer& p) { p.Respond(206, "x", {"Content-Range: bytes 0-0/0"}); },
         [](HttpPeer& p) { p.Respond(206, "x", {"Content-Range: bytes 0-0/0"}); },
         {"bytes=-65633", "bytes=0-0", ""},
         true},
        {"a 206 of an unknown size to the first byte, read by offsets",
         small,
         [](HttpPeer& p) { p.Respond(416, ""); },
         [](HttpPeer& p) { p.Respond(206, "P", {"Content-Range: bytes 0-0/*"}); },
         {"bytes=-65633", "bytes=0-0", ""},
         false},
        {"empty: 206 of nothing, then 200 of no bytes",
         "",
         [](HttpPeer& p) { p.Respond(206, "", {"Content-Range: bytes 0--1/0"}); },
         [](HttpPeer& p) { p.Respond(200, ""); },
         {"bytes=-65633", "bytes=0-0"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
            const std::string range = req.Header("range");
            if (range.rfind("bytes=-", 0) == 0) return c.suffix(peer);
            if (range == "bytes=0-0" && c.probe) return c.probe(peer);
            ServeBody(req, peer, c.body);
        });
        std::string err;
        const CommandResult r = RunFennic(home, "list --tsv " + Quote(server.Url("/s.zip")), &err);
        if (c.empty) {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(err.find("s.zip is empty (0 bytes)"), std::string::npos) << err;
        } else {
            EXPECT_EQ(r.status, 0) << err;
            EXPECT_EQ(r.output, smallList);
        }
        EXPECT_EQ(Ranges(server), c.ranges);
    }
}

}  // namespace
}  // namespace fennic::test
