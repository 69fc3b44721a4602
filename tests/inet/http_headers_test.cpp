// Headers of the final response, redirects, credentials after 401/407 and the header text's
// checks, against scripted servers.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "inet/errors.h"
#include "inet/http.h"
#include "tests/fixtures/fixtures.h"
#include "tests/inet/http_client.h"

namespace fennic::inet {
namespace {

using fennic::test::HttpPeer;
using fennic::test::RawHttpRequest;
using test_http::Body;
using test_http::Client;
using test_http::Status;

TEST(OwnHttp, RedirectsStayOnHttp) {
    fennic::test::ScriptFtpOptions ftp_opt;
    ftp_opt.files["/a.zip"] = "ftp bytes";
    fennic::test::ScriptFtpServer ftp(ftp_opt);
    fennic::test::HostileHttpOptions opt;
    opt.fault = fennic::test::HttpFault::kRedirect;
    opt.location = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/a.zip";
    fennic::test::HostileHttpServer server(opt);
    Client c(server.port());
    auto req = c.conn->OpenRequest("/a.zip", false);
    ASSERT_TRUE(req);
    EXPECT_FALSE(req->Send(RangeHeader(0, 3)));
    EXPECT_EQ(req->LastError(), kErrorRedirectFailed) << req->LastErrorText();
    EXPECT_EQ(req->LastErrorText(),
              "The redirect could not be followed: the redirect to ftp was refused: only http "
              "and https are followed (" +
                  opt.location + ")");
    EXPECT_EQ(ftp.connections(), 0);
    EXPECT_EQ(server.Requests().size(), 1u);
}

// Headers past the bound, in one line (which curl itself stops at 100 KiB) or in many, end the
// answer at once with words that say so; an answer just under the bound passes.
TEST(OwnHttp, HeadersPastTheBoundAreRefusedAsTooLong) {
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"X-Long: " + std::string(8 << 20, 'a')}, false},
        {std::vector<std::string>(80, "X-Many: " + std::string(1000, 'b')), false},
        {std::vector<std::string>(60, "X-Many: " + std::string(1000, 'c')), true},
    };
    for (const auto& [lines, passes] : cases) {
        SCOPED_TRACE(std::to_string(lines.size()) + " lines of " + std::to_string(lines[0].size()));
        fennic::test::ScriptHttpServer server(
            [&lines = lines](const RawHttpRequest&, HttpPeer& peer) {
                peer.Respond(206, "abcd", lines);
            });
        Client c(server.port());
        auto req = c.conn->OpenRequest("/a.zip", false);
        ASSERT_TRUE(req);
        EXPECT_EQ(req->Send(RangeHeader(0, 3)), passes) << req->LastErrorText();
        if (passes) {
            EXPECT_EQ(Body(*req), "abcd");
        } else {
            EXPECT_EQ(req->LastError(), kErrorInvalidServerResponse);
            EXPECT_EQ(req->LastErrorText(),
                      "The server's response could not be understood: the answer's headers are "
                      "too long (more than 64 KiB)");
        }
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}

TEST(OwnHttp, HeadersOfTheFinalResponse) {
    fennic::test::ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.target == "/old") return (void)peer.Respond(302, "", {"Location: /new"});
        peer.Respond(200, "ok", {"Content-Encoding: gzip", "Content-Encoding: br"});
    });
    Client c(server.port());
    auto req = c.Get("/old", "");
    ASSERT_TRUE(req);
    std::string value;
    ASSERT_TRUE(req->QueryHeader("content-encoding", value)) << req->LastErrorText();
    EXPECT_EQ(value, "gzip, br");
    EXPECT_FALSE(req->QueryHeader("Location", value));  // the redirect's, not the final one's
    EXPECT_EQ(req->LastError(), kErrorHeaderNotFound);
}

TEST(OwnHttp, ServerCredentialsAfter401) {
    const std::string body = "0123456789";
    fennic::test::ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.Header("authorization") != fennic::test::BasicAuth("joe", "pa ss")) {
            peer.Respond(401, std::string(120, 'd'), {"WWW-Authenticate: Basic realm=\"t\""});
            return;
        }
        fennic::test::ServeBody(req, peer, body);
    });
    Client c(server.port());
    auto req = c.Get("/x.zip", RangeHeader(2, 5));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 401u);
    EXPECT_EQ(Body(*req, 50), std::string(120, 'd'));  // discarded in small reads
    req->SetCredentials("joe", "pa ss");
    ASSERT_TRUE(req->Send(RangeHeader(2, 5))) << req->LastErrorText();
    EXPECT_EQ(Status(*req), 206u);
    EXPECT_EQ(Body(*req), "2345");
    auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Header("authorization"), "");
    EXPECT_EQ(seen[1].Header("range"), "bytes=2-5");

    // Credentials given to the connection go with the first request.
    HttpSession s2;
    ASSERT_TRUE(s2.Open("a", kAccessDirect, ""));
    auto conn = s2.Connect("127.0.0.1", server.port(), "joe", "pa ss");
    auto r2 = conn->OpenRequest("/x.zip", false);
    ASSERT_TRUE(r2->Send(""));
    EXPECT_EQ(Status(*r2), 200u);
}

TEST(OwnHttp, ProxyCredentialsAfter407) {
    fennic::test::ScriptHttpServer proxy([](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.Header("proxy-authorization") != fennic::test::BasicAuth("px", "pw")) {
            peer.Respond(407, "go away", {"Proxy-Authenticate: Basic realm=\"p\""});
            return;
        }
        fennic::test::ServeBody(req, peer, "proxied body");
    });
    Client c(80, kAccessProxy, "127.0.0.1:" + std::to_string(proxy.port()), "files.test");
    auto req = c.Get("/x.zip", RangeHeader(0, 6));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 407u);
    EXPECT_EQ(Body(*req, 50), "go away");
    req->SetProxyCredentials("px", "pw");
    ASSERT_TRUE(req->Send(RangeHeader(0, 6)));
    EXPECT_EQ(Status(*req), 206u);
    EXPECT_EQ(Body(*req), "proxied");
    auto seen = proxy.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].target, "http://files.test/x.zip");
    EXPECT_EQ(seen[1].Header("range"), "bytes=0-6");
    // The proxy is looked up and connected to; the named host only goes to the proxy.
    ASSERT_FALSE(c.notes.empty());
    EXPECT_EQ(c.notes[0], std::make_pair(uint32_t{kStatusResolvingName}, std::string("127.0.0.1")));
    for (const auto& n : c.notes) EXPECT_EQ(n.second.find("files.test"), std::string::npos);
}

TEST(OwnHttp, RedirectIsReportedAndFollowed) {
    fennic::test::ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.target == "/old.zip") {
            peer.Respond(302, "moved", {"Location: /new.zip"});
            return;
        }
        fennic::test::ServeBody(req, peer, "abcdefghij");
    });
    Client c(server.port());
    auto req = c.Get("/old.zip", RangeHeader(1, 3));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 206u);
    EXPECT_EQ(Body(*req), "bcd");
    std::string base = "127.0.0.1";
    std::vector<std::pair<uint32_t, std::string>> want = {
        {kStatusResolvingName, base},
        {kStatusNameResolved, base},
        {kStatusConnecting, base},
        {kStatusConnected, base},
        {kStatusRedirect, server.Url("/new.zip")}};
    EXPECT_EQ(c.notes, want);
    auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].target, "/new.zip");
    EXPECT_EQ(seen[1].Header("range"), "bytes=1-3");
}

// A header text that would smuggle a second header line in by a lone LF is refused before
// anything goes out, as a line without a colon is.
TEST(HttpSetup, HeaderTextWithLoneLineFeedIsRefused) {
    fennic::test::ScriptHttpServer server(
        [](const RawHttpRequest& req, HttpPeer& peer) { fennic::test::ServeBody(req, peer, "x"); });
    HttpSession s;
    ASSERT_TRUE(s.Open("a", kAccessDirect, ""));
    auto req = s.Connect("127.0.0.1", server.port(), "", "")->OpenRequest("/x", false);
    EXPECT_FALSE(req->Send("X-A: 1\nX-Injected: 2\r\n"));
    EXPECT_EQ(req->LastError(), kErrorInvalidOption);
    EXPECT_FALSE(req->Send("X-A: 1\r\nno colon here\r\n"));
    EXPECT_EQ(req->LastError(), kErrorInvalidOption);
    EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace fennic::inet
