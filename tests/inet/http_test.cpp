#include "inet/http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "inet/errors.h"
#include "tests/fixtures/fixtures.h"
#include "tests/inet/http_client.h"

namespace fennic::inet {
namespace {

using fennic::test::AccessRecord;
using fennic::test::HttpPeer;
using fennic::test::PatternBytes;
using fennic::test::RawHttpRequest;
using std::chrono::milliseconds;
using test_http::Body;
using test_http::Client;
using test_http::Status;

constexpr size_t kMiB = 1 << 20;

// Reads until the end or a failure; false on failure, with what came before it in got.
bool ReadUntilEnd(HttpRequest& req, std::string& got, size_t chunk) {
    std::vector<char> buf(chunk);
    size_t n = 0;
    bool ok = true;
    while ((ok = req.Read(buf.data(), buf.size(), n)) && n > 0) got.append(buf.data(), n);
    return ok;
}

class Nginx : public ::testing::Test {
protected:
    void SetUp() override {
        content_ = PatternBytes(3 * kMiB, 11);
        root_.Write("a.zip", content_);
    }
    fennic::test::TempDir root_;
    std::string content_;
};

TEST_F(Nginx, SizeOnlyStopsAtTheHeaders) {
    fennic::test::NginxServer server(root_.path());
    Client c(server.port());
    auto req = c.Get("/a.zip", "", false);
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 200u);
    uint64_t len = 0;
    ASSERT_TRUE(req->QueryContentLength(len));
    EXPECT_EQ(len, content_.size());
    char buf[64];
    size_t got = 99;
    ASSERT_TRUE(req->Read(buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);  // not one body byte reaches the caller
    auto log = server.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    // The length comes from a HEAD: the server sends no body byte at all.
    EXPECT_EQ(log[0].request, "HEAD /a.zip HTTP/1.1");
    EXPECT_EQ(log[0].range, "-");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[0].body_bytes_sent, 0u);
    // Nothing was cut off, so the next request reuses the connection.
    auto next = c.Get("/a.zip", RangeHeader(0, 0));
    ASSERT_TRUE(next);
    EXPECT_EQ(Body(*next), content_.substr(0, 1));
    log = server.WaitForAccessLog(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].connection_requests, 2);
    std::cout << "size-only: status " << log[0].status << ", body_bytes_sent "
              << log[0].body_bytes_sent << " of " << content_.size() << "\n";
}

TEST_F(Nginx, TailAndMiddleRangesShareOneConnection) {
    fennic::test::NginxServer server(root_.path());
    Client c(server.port());
    const uint32_t n = static_cast<uint32_t>(content_.size());
    auto tail = c.Get("/a.zip", RangeHeader(n - 22, n - 1));
    ASSERT_TRUE(tail);
    EXPECT_EQ(Status(*tail), 206u);
    uint64_t len = 0;
    ASSERT_TRUE(tail->QueryContentLength(len));
    EXPECT_EQ(len, 22u);
    EXPECT_EQ(Body(*tail), content_.substr(n - 22));

    auto mid = c.Get("/a.zip", RangeHeader(kMiB, 2 * kMiB - 1));
    ASSERT_TRUE(mid);
    EXPECT_EQ(Status(*mid), 206u);
    ASSERT_TRUE(mid->QueryContentLength(len));
    EXPECT_EQ(len, kMiB);
    EXPECT_EQ(Body(*mid, 1024), content_.substr(kMiB, kMiB));

    auto log = server.WaitForAccessLog(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].range, "bytes=3145706-3145727");
    EXPECT_EQ(log[0].status, 206);
    EXPECT_EQ(log[0].body_bytes_sent, 22u);
    EXPECT_EQ(log[1].range, "bytes=1048576-2097151");
    EXPECT_EQ(log[1].status, 206);
    EXPECT_EQ(log[1].body_bytes_sent, kMiB);
    EXPECT_EQ(log[0].connection_requests, 1);
    EXPECT_EQ(log[1].connection_requests, 2);  // the second request reused the connection
    for (const AccessRecord& r : log) {
        std::cout << "nginx: " << r.request << " | " << r.range << " | " << r.status << " | "
                  << r.body_bytes_sent << " | " << r.connection_requests << "\n";
    }
}

TEST_F(Nginx, IgnoredRangeAndUnsatisfiableRangeExposeTheirStatus) {
    fennic::test::NginxServer plain(root_.path(), {true, false});
    Client c(plain.port());
    auto req = c.Get("/a.zip", RangeHeader(0, 21));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 200u);
    uint64_t len = 0;
    ASSERT_TRUE(req->QueryContentLength(len));
    EXPECT_EQ(len, content_.size());

    fennic::test::NginxServer ranged(root_.path());
    Client d(ranged.port());
    auto beyond = d.Get("/a.zip", RangeHeader(4000000000u, 4294967295u));
    ASSERT_TRUE(beyond);
    EXPECT_EQ(Status(*beyond), 416u);
    auto log = ranged.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=4000000000-4294967295");
}

TEST_F(Nginx, TlsVerifiesTheCertificate) {
    fennic::test::NginxServer server(root_.path(), {false, true});
    {
        Client c(server.port());
        auto req = c.conn->OpenRequest("/a.zip", true);
        ASSERT_TRUE(req);
        EXPECT_FALSE(req->Send(RangeHeader(0, 9)));
        EXPECT_EQ(req->LastError(), kErrorInvalidCa) << req->LastErrorText();
        EXPECT_NE(req->LastErrorText().find("not trusted"), std::string::npos);
    }
    Client c(server.port());
    c.session.SetCaFile(server.cert_path());
    auto req = c.Get("/a.zip", RangeHeader(0, 9), true, true);
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 206u);
    EXPECT_EQ(Body(*req), content_.substr(0, 10));
}

TEST_F(Nginx, CertificateForAnotherNameIsANameError) {
    fennic::test::NginxServer server(root_.path(), {false, true});
    Client c(server.port(), kAccessDirect, "", "localhost");  // the certificate names 127.0.0.1
    c.session.SetCaFile(server.cert_path());
    auto req = c.conn->OpenRequest("/a.zip", true);
    ASSERT_TRUE(req);
    EXPECT_FALSE(req->Send(RangeHeader(0, 9)));
    EXPECT_EQ(req->LastError(), kErrorCertNameInvalid) << req->LastErrorText();
    EXPECT_TRUE(server.AccessLog().empty());
}

TEST_F(Nginx, NamedProxyCarriesTheRequest) {
    fennic::test::NginxServer server(root_.path());
    fennic::test::TinyProxy proxy;
    Client c(server.port(), kAccessProxy, "127.0.0.1:" + std::to_string(proxy.port()));
    const uint32_t n = static_cast<uint32_t>(content_.size());
    auto req = c.Get("/a.zip", RangeHeader(n - 22, n - 1));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 206u);
    EXPECT_EQ(Body(*req), content_.substr(n - 22));
    std::string want = "GET http://127.0.0.1:" + std::to_string(server.port()) + "/a.zip";
    ASSERT_TRUE(fennic::test::WaitUntil([&] {
        return proxy.Log().find(want) != std::string::npos;
    })) << proxy.Log();
    auto log = server.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=3145706-3145727");
    EXPECT_EQ(log[0].body_bytes_sent, 22u);
}

// Two requests reached the server, the second for bytes 4-7, and only the first went through
// the proxy.
void ExpectOnlyTheFirstProxied(fennic::test::NginxServer& server, fennic::test::TinyProxy& proxy) {
    auto log = server.WaitForAccessLog(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].range, "bytes=4-7");
    const std::string via = "GET http://127.0.0.1:" + std::to_string(server.port()) + "/a.zip";
    ASSERT_TRUE(fennic::test::WaitUntil([&] { return proxy.Log().find(via) != std::string::npos; }))
        << proxy.Log();
    const size_t first = proxy.Log().find(via);
    EXPECT_EQ(proxy.Log().find(via, first + 1), std::string::npos) << proxy.Log();
}

// A session is opened again for each transfer run it carries; a proxy named by an earlier
// opening must not outlive it.
TEST_F(Nginx, ReopenedSessionTakesTheNewAccessType) {
    fennic::test::NginxServer server(root_.path());
    fennic::test::TinyProxy proxy;
    ::unsetenv("http_proxy");
    Client c(server.port(), kAccessProxy, "127.0.0.1:" + std::to_string(proxy.port()));
    auto first = c.Get("/a.zip", RangeHeader(0, 3));
    ASSERT_TRUE(first);
    EXPECT_EQ(Body(*first), content_.substr(0, 4));
    first.reset();
    ASSERT_TRUE(c.session.Open("Fennic test", kAccessPreconfig, "")) << c.session.LastErrorText();
    auto second = c.Get("/a.zip", RangeHeader(4, 7));
    ASSERT_TRUE(second);
    EXPECT_EQ(Body(*second), content_.substr(4, 4));
    ExpectOnlyTheFirstProxied(server, proxy);
}

TEST_F(Nginx, PreconfiguredAccessHonoursTheEnvironmentAndDirectDoesNot) {
    fennic::test::NginxServer server(root_.path());
    fennic::test::TinyProxy proxy;
    struct EnvProxy {
        explicit EnvProxy(const std::string& v) { ::setenv("http_proxy", v.c_str(), 1); }
        ~EnvProxy() { ::unsetenv("http_proxy"); }
    } env("http://127.0.0.1:" + std::to_string(proxy.port()));
    {
        Client c(server.port(), kAccessPreconfig);
        auto req = c.Get("/a.zip", RangeHeader(0, 3));
        ASSERT_TRUE(req);
        EXPECT_EQ(Body(*req), content_.substr(0, 4));
    }
    std::string via = "GET http://127.0.0.1:" + std::to_string(server.port()) + "/a.zip";
    ASSERT_TRUE(
        fennic::test::WaitUntil([&] { return proxy.Log().find(via) != std::string::npos; }));
    {
        Client c(server.port(), kAccessDirect);
        auto req = c.Get("/a.zip", RangeHeader(4, 7));
        ASSERT_TRUE(req);
        EXPECT_EQ(Body(*req), content_.substr(4, 4));
    }
    ExpectOnlyTheFirstProxied(server, proxy);
}

TEST(OwnHttp, ExactRangeHeaderOnTheWire) {
    fennic::test::ScriptHttpServer server(
        [](const RawHttpRequest& req, HttpPeer& peer) { fennic::test::ServeBody(req, peer, "x"); });
    Client c(server.port());
    auto req = c.Get("/f.zip", RangeHeader(4294967294u, 4294967295u));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 416u);
    auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 1u);
    const std::string& raw = seen[0].raw;
    EXPECT_EQ(raw.substr(0, raw.find("\r\n")), "GET /f.zip HTTP/1.1");
    EXPECT_NE(raw.find("\r\nRange: bytes=4294967294-4294967295\r\n"), std::string::npos) << raw;
    EXPECT_EQ(raw.find("Range:"), raw.rfind("Range:"));
    EXPECT_EQ(raw.find("Accept-Encoding"), std::string::npos) << raw;
    EXPECT_EQ(raw.find("Authorization"), std::string::npos) << raw;
    EXPECT_EQ(seen[0].Header("user-agent"), "Fennic test");
    EXPECT_EQ(RangeHeader(0, 0), "Range: bytes=0-0\r\n");
}

TEST(OwnHttp, NoContentLengthSeeksToTheEnd) {
    const std::string body = PatternBytes(64 * 1024 + 1, 4);
    fennic::test::ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
        fennic::test::ServeBody(req, peer, body, true);
    });
    Client c(server.port());
    auto req = c.Get("/x.zip", RangeHeader(1000, 50999));
    ASSERT_TRUE(req);
    EXPECT_EQ(Status(*req), 206u);
    uint64_t len = 0;
    EXPECT_FALSE(req->QueryContentLength(len));
    EXPECT_EQ(req->LastError(), kErrorHeaderNotFound);
    uint64_t end = 0;
    ASSERT_TRUE(req->SeekToEnd(end)) << req->LastErrorText();
    EXPECT_EQ(end, 50000u);
    ASSERT_TRUE(req->SeekToBegin());
    EXPECT_EQ(Body(*req), body.substr(1000, 50000));

    // Size-only without a length must still read to learn it: 64 KiB at most.
    auto size_only = c.Get("/x.zip", RangeHeader(1, 64 * 1024), false);
    ASSERT_TRUE(size_only);
    ASSERT_TRUE(size_only->SeekToEnd(end)) << size_only->LastErrorText();
    EXPECT_EQ(end, 64u * 1024);
    auto too_long = c.Get("/x.zip", "", false);
    ASSERT_TRUE(too_long);
    EXPECT_FALSE(too_long->SeekToEnd(end));
    EXPECT_EQ(too_long->LastError(), kErrorInvalidServerResponse);
    EXPECT_FALSE(too_long->SeekToBegin());
}

TEST(OwnHttp, EndlessBodyWithoutLengthIsCutAt64KiB) {
    fennic::test::HostileHttpOptions opt;
    opt.fault = fennic::test::HttpFault::kEndless;
    fennic::test::HostileHttpServer server(opt);
    Client c(server.port());
    const auto t0 = std::chrono::steady_clock::now();
    auto req = c.Get("/x.zip", "", false);
    ASSERT_TRUE(req);
    uint64_t end = 0;
    EXPECT_FALSE(req->SeekToEnd(end));
    EXPECT_EQ(req->LastError(), kErrorInvalidServerResponse) << req->LastErrorText();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    // The connection is dropped, so the server's writes fail: it pushed no more than the
    // socket buffers hold.
    EXPECT_TRUE(fennic::test::WaitUntil([&] { return server.Served() == 2; }));
    EXPECT_LT(server.BodyBytesSent(), 32u * kMiB);
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "HEAD");
    EXPECT_EQ(seen[1].method, "GET");
}

TEST(OwnHttp, TrickleBelowTheRateFloorTimesOut) {
    fennic::test::HostileHttpOptions opt;
    opt.fault = fennic::test::HttpFault::kTrickle;
    opt.body = PatternBytes(200, 1);
    opt.trickle_ms = 200;  // 5 bytes/s: never idle for the 60 s idle limit
    fennic::test::HostileHttpServer server(opt);
    Client c(server.port());
    c.session.SetRateFloor(1024, 2);
    const auto t0 = std::chrono::steady_clock::now();
    auto req = c.Get("/x.zip", RangeHeader(0, 199));
    ASSERT_TRUE(req);
    std::string got;
    EXPECT_FALSE(ReadUntilEnd(*req, got, 64));
    EXPECT_EQ(req->LastError(), kErrorTimeout) << req->LastErrorText();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
    EXPECT_LT(got.size(), 60u);
}

TEST(OwnHttp, HostNameIsResolvedAndAnnounced) {
    fennic::test::ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        fennic::test::ServeBody(req, peer, "ok");
    });
    Client c(server.port(), kAccessDirect, "", "localhost");
    auto req = c.Get("/", "");
    ASSERT_TRUE(req);
    ASSERT_GE(c.notes.size(), 4u);
    EXPECT_EQ(c.notes[0], std::make_pair(uint32_t{kStatusResolvingName}, std::string("localhost")));
    EXPECT_EQ(c.notes[1].first, kStatusNameResolved);
    EXPECT_EQ(c.notes.back(), std::make_pair(uint32_t{kStatusConnected}, std::string("127.0.0.1")));
}

TEST(OwnHttp, CutConnectionIsAReadError) {
    fennic::test::ScriptHttpServer server([](const RawHttpRequest&, HttpPeer& peer) {
        peer.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 100000\r\n\r\n" +
                  std::string(5000, 'z'));
        peer.Cut();
    });
    Client c(server.port());
    auto req = c.Get("/x.zip", RangeHeader(0, 99999));
    ASSERT_TRUE(req);
    std::string got;
    EXPECT_FALSE(ReadUntilEnd(*req, got, 1024));
    EXPECT_EQ(got, std::string(5000, 'z'));
    EXPECT_EQ(req->LastError(), kErrorConnectionAborted) << req->LastErrorText();
}

TEST(OwnHttp, CancelWakesABlockedRead) {
    fennic::test::Gate gate;
    fennic::test::ScriptHttpServer server([&](const RawHttpRequest&, HttpPeer& peer) {
        peer.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 4000\r\n\r\n" +
                  std::string(2000, 'a'));
        if (peer.Wait(gate)) peer.Send(std::string(2000, 'b'));
    });
    Client c(server.port());
    auto req = c.Get("/x.zip", RangeHeader(0, 3999));
    ASSERT_TRUE(req);
    char buf[4096];
    size_t got = 0;
    std::string first;
    while (first.size() < 2000 && req->Read(buf, sizeof buf, got) && got > 0)
        first.append(buf, got);
    EXPECT_EQ(first, std::string(2000, 'a'));  // reads return what is there, without waiting
    auto reader = std::async(std::launch::async, [&] { return req->Read(buf, sizeof buf, got); });
    EXPECT_EQ(reader.wait_for(milliseconds(100)), std::future_status::timeout);
    c.session.Cancel();
    ASSERT_EQ(reader.wait_for(milliseconds(500)), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_EQ(req->LastError(), kErrorOperationCancelled);
    gate.Open();
}

TEST(OwnHttp, LargeBodyIsNotHeldInMemory) {
    // A pull reader that is slow must see curl paused, not the whole body buffered: the server
    // then blocks on a full socket and cannot finish early.
    std::atomic<bool> finished{false};
    const std::string body = PatternBytes(16 * kMiB, 2);
    fennic::test::ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
        fennic::test::ServeBody(req, peer, body);
        finished = true;
    });
    Client c(server.port());
    auto req = c.Get("/x.zip", "");
    ASSERT_TRUE(req);
    char buf[1024];
    size_t got = 0;
    ASSERT_TRUE(req->Read(buf, sizeof buf, got));
    EXPECT_FALSE(fennic::test::WaitUntil([&] { return finished.load(); }, 300));
    std::string rest(buf, got);
    rest += Body(*req, 65536);
    EXPECT_EQ(rest, body);
}

// Cancel comes from the window thread while the worker may still be opening the session; the
// thread sanitizer build shows any unguarded handle, and the cancel must still hold.
TEST(HttpSetup, CancelWhileTheSessionOpens) {
    fennic::test::ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        fennic::test::ServeBody(req, peer, "body");
    });
    HttpSession session;
    std::atomic<bool> started{false}, opened{false};
    std::thread canceller([&] {
        started = true;
        while (!opened) session.Cancel();
    });
    ASSERT_TRUE(fennic::test::WaitUntil([&] { return started.load(); }));
    const bool ok = session.Open("a", kAccessDirect, "");
    opened = true;
    canceller.join();
    ASSERT_TRUE(ok) << session.LastErrorText();
    auto req = session.Connect("127.0.0.1", server.port(), "", "")->OpenRequest("/x", false);
    EXPECT_FALSE(req->Send(""));
    EXPECT_EQ(req->LastError(), kErrorOperationCancelled);
    EXPECT_TRUE(server.Requests().empty());
}

TEST(HttpSetup, BadOptionsFailClearly) {
    HttpSession s;
    EXPECT_FALSE(s.Open("a", 3, ""));
    EXPECT_EQ(s.LastError(), kErrorInvalidOption);
    EXPECT_FALSE(s.Open("a", kAccessProxy, ""));
    EXPECT_EQ(s.LastError(), kErrorInvalidOption);
    EXPECT_FALSE(s.Connect("h", 80, "", ""));
    EXPECT_EQ(s.LastError(), kErrorIncorrectHandleState);
    ASSERT_TRUE(s.Open("a", kAccessDirect, ""));
    auto conn = s.Connect("127.0.0.1", fennic::test::FreePort(), "", "");
    auto req = conn->OpenRequest("/x", false);
    EXPECT_FALSE(req->Send(""));
    EXPECT_EQ(req->LastError(), kErrorCannotConnect) << req->LastErrorText();
    EXPECT_FALSE(req->Send("Bad header line\r\n"));
    EXPECT_EQ(req->LastError(), kErrorInvalidOption);
    char b[4];
    size_t got = 0;
    HttpSession s3;
    ASSERT_TRUE(s3.Open("a", kAccessDirect, ""));
    auto r3 = s3.Connect("127.0.0.1", 1, "", "")->OpenRequest("/", false);
    EXPECT_FALSE(r3->Read(b, sizeof b, got));
    EXPECT_EQ(r3->LastError(), kErrorIncorrectHandleState);
}

}  // namespace
}  // namespace fennic::inet
