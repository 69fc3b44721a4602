// CHttpDownloadDlg against nginx, tinyproxy and our own HTTP server on 127.0.0.1.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/frontend.h"
#include "inet/http.h"
#include "tests/fixtures/fixtures.h"
#include "tests/transfer/recording_view.h"
#include "transfer/http_download.h"

namespace fennic {
namespace {

using test::AccessRecord;
using test::ViewEvent;

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class HttpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(inet::InitNetwork()); }
    void Prepare(CHttpDownloadDlg& dlg, const std::string& url) {
        dlg.m_strUrl = url;
        dlg.m_strLocalFile = local;
        dlg.m_nAccessType = 1;  // no proxy from the environment
    }
    test::TempDir dir;
    std::string local = dir.path() + "/out.bin";
    test::RecordingView view;
};

class NginxTest : public HttpDownloadTest {
protected:
    NginxTest() : root(), body(test::PatternBytes(3 * 1000 * 1000, 7)) {
        root.Write("a.zip", body);
        root.Write("small.zip", body.substr(0, 100000));
    }
    test::TempDir root;
    std::string body;
};

TEST_F(NginxTest, SizeOnlyTakesNoBody) {
    // 64 MiB without data blocks: far more than the socket buffers can hold.
    ASSERT_EQ(::truncate(root.Write("big.zip", "").c_str(), 64 << 20), 0);
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/big.zip"));
    dlg.m_bSizeOnly = true;
    dlg.m_bSendRange = false;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 64u << 20);
    EXPECT_TRUE(Exists(local));
    EXPECT_EQ(test::ReadFile(local), "");
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].request, "HEAD /big.zip HTTP/1.1");
    EXPECT_EQ(log[0].range, "-");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[0].body_bytes_sent, 0u);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_FILESTATUS), std::vector<std::string>{"big.zip from 127.0.0.1"});
    EXPECT_TRUE(Contains(view.Texts(IDC_STATUS), "Getting file information"));
    EXPECT_FALSE(Contains(view.Texts(IDC_STATUS), "Retrieving the file"));
}

TEST_F(NginxTest, SizeThenTheLast22BytesOnOneObject) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/a.zip"));
    dlg.m_bSizeOnly = true;
    dlg.m_bSendRange = false;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    const uint32_t size = dlg.GetRemoteFileSize();
    ASSERT_EQ(size, body.size());
    dlg.m_bSizeOnly = false;
    dlg.m_bSendRange = true;
    dlg.m_dwRangeStart = size - 22;
    dlg.m_dwRangeEnd = size - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 22u);  // the length of the range
    EXPECT_EQ(test::ReadFile(local), body.substr(size - 22));
    // Then a tail, as a listing's third run takes the central directory.
    const std::string tail = dir.path() + "/tail.bin";
    dlg.m_strLocalFile = tail;
    dlg.m_dwRangeStart = 1000000;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(test::ReadFile(tail) == body.substr(1000000));
    const auto log = nginx.WaitForAccessLog(3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].request, "GET /a.zip HTTP/1.1");
    EXPECT_EQ(log[1].range, "bytes=2999978-2999999");
    EXPECT_EQ(log[1].status, 206);
    EXPECT_EQ(log[1].body_bytes_sent, 22u);
    EXPECT_EQ(log[2].range, "bytes=1000000-2999999");
    EXPECT_EQ(log[2].body_bytes_sent, 2000000u);
    // The runs of one object go over one connection: a listing opens one, not three.
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].connection_requests, static_cast<int>(i + 1)) << log[i].request;
    }
    EXPECT_TRUE(view.Boxes().empty());
}

// A run that was cancelled or failed leaves its connection in a state nobody knows: the next
// run of the same object starts on a new one.
TEST_F(NginxTest, CancelledOrFailedRunLeavesNoConnectionBehind) {
    ASSERT_EQ(::truncate(root.Write("big.zip", "").c_str(), 64 << 20), 0);
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/big.zip"));
    int n = 0;
    auto run = [&](uint32_t start, uint32_t end) {
        dlg.m_strLocalFile = dir.path() + "/run" + std::to_string(++n);
        dlg.m_dwRangeStart = start;
        dlg.m_dwRangeEnd = end;
        return dlg.DoModal();
    };
    EXPECT_EQ(run(0, 21), IDOK);
    view.onEvent = [&](const ViewEvent& e) {
        if (e.kind == ViewEvent::kText && e.text == "Retrieving the file") view.Cancel();
    };
    EXPECT_EQ(run(0, (64u << 20) - 1), IDCANCEL);
    view.onEvent = nullptr;
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(run(0, 21), IDOK);
    EXPECT_EQ(run(64u << 20, (64u << 20) + 9), IDCANCEL);  // 416: no valid answer
    EXPECT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(run(22, 43), IDOK);

    const auto log = nginx.WaitForAccessLog(5);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[1].range, "bytes=0-67108863");
    EXPECT_LT(log[1].body_bytes_sent, 64u << 20);  // stopped, not read to the end
    EXPECT_EQ(log[3].status, 416);
    std::vector<int> counts;
    for (const auto& r : log) counts.push_back(r.connection_requests);
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 1, 2, 1}));
}

TEST_F(NginxTest, MiddleRangeOfOneMegabyte) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    uint32_t tick = 0;
    dlg.SetTickClock([&tick] { return tick += 300; });  // past a second every fourth block
    Prepare(dlg, nginx.Url("/a.zip"));
    dlg.m_dwRangeStart = 1000000;
    dlg.m_dwRangeEnd = 1999999;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 1000000u);
    EXPECT_TRUE(test::ReadFile(local) == body.substr(1000000, 1000000));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=1000000-1999999");
    EXPECT_EQ(log[0].status, 206);
    EXPECT_EQ(log[0].body_bytes_sent, 1000000u);

    // Caption once per percent, 1 to 100, against the range's length.
    const auto captions = view.Captions();
    ASSERT_EQ(captions.size(), 100u);
    EXPECT_EQ(captions.front(), "1% of a.zip Completed");
    EXPECT_EQ(captions.back(), "100% of a.zip Completed");
    EXPECT_EQ(view.Values(ViewEvent::kRange), std::vector<int>{977});  // KiB, rounded
    const auto pos = view.Values(ViewEvent::kPos);
    ASSERT_EQ(pos.size(), 100u);
    EXPECT_EQ(pos.back(), 976);
    EXPECT_FALSE(view.Texts(IDC_TRANSFER_RATE).empty());
    const auto left = view.Texts(IDC_TIMELEFT);
    ASSERT_FALSE(left.empty());
    EXPECT_NE(left.back().find(" copied)"), std::string::npos);
    EXPECT_NE(left.back().find(" of 976.6 KB"), std::string::npos);
    const auto status = view.Texts(IDC_STATUS);
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status[status.size() - 2], "Getting file information");
    EXPECT_EQ(status.back(), "Retrieving the file");
    EXPECT_EQ(view.Values(ViewEvent::kAnimStart).size(), 1u);
    EXPECT_EQ(view.Values(ViewEvent::kAnimStop).size(), 1u);
}

TEST_F(NginxTest, WholeAnswerToARangeFails) {
    test::NginxOptions options;
    options.max_ranges_zero = true;
    test::NginxServer nginx(root.path(), options);
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_dwRangeStart = 100000 - 22;
    dlg.m_dwRangeEnd = 100000 - 1;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
    EXPECT_FALSE(Exists(local));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=99978-99999");
    EXPECT_EQ(log[0].status, 200);
}

TEST_F(NginxTest, PlainGetIsNoValidAnswerOutsideSizeOnly) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_bSendRange = false;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
}

TEST_F(NginxTest, SizeOnlyAcceptsAnyStatus) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/missing.zip"));
    dlg.m_bSizeOnly = true;
    dlg.m_bSendRange = false;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_GT(dlg.GetRemoteFileSize(), 0u);  // the 404 page's length
    EXPECT_EQ(nginx.WaitForAccessLog(1).at(0).status, 404);
    EXPECT_EQ(dlg.GetStatusCode(), 404u);  // kept for callers that want a 2xx
    dlg.m_strUrl = nginx.Url("/small.zip");
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetStatusCode(), 200u);
}

TEST_F(NginxTest, AddressWithoutSchemeGetsHttpInFront) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    const std::string bare = "127.0.0.1:" + std::to_string(nginx.port()) + "/small.zip";
    Prepare(dlg, bare);
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strUrl, "http://" + bare);
    EXPECT_EQ(test::ReadFile(local), body.substr(0, 10));
}

TEST_F(NginxTest, LaterStartAppendsAndStartZeroTruncates) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dir.Write("out.bin", "old");
    dlg.m_dwRangeStart = 10;
    dlg.m_dwRangeEnd = 19;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), "old" + body.substr(10, 10));
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 4;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), body.substr(0, 5));
}

TEST_F(NginxTest, ThroughTinyproxy) {
    test::NginxServer nginx(root.path());
    test::TinyProxy proxy;
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_nAccessType = 2;
    dlg.m_strProxy = "127.0.0.1:" + std::to_string(proxy.port());
    dlg.m_dwRangeStart = 100000 - 22;
    dlg.m_dwRangeEnd = 100000 - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), body.substr(100000 - 22, 22));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=99978-99999");
    EXPECT_TRUE(test::WaitUntil([&] {
        return proxy.Log().find(nginx.Url("/small.zip")) != std::string::npos;
    })) << proxy.Log();
}

TEST_F(HttpDownloadTest, LocalFileThatCannotBeOpened) {
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "http://127.0.0.1:9/a.zip");
    dlg.m_strLocalFile = dir.path() + "/no/such/folder/out.bin";
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0], "An error occured while opening the file to be downloaded, Error:2");
    EXPECT_TRUE(view.Values(ViewEvent::kAnimStart).empty());  // no worker ran
}

TEST_F(HttpDownloadTest, RefusedConnection) {
    const uint16_t port = test::FreePort();  // nobody listens there
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "http://127.0.0.1:" + std::to_string(port) + "/a.zip");
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0], "An error occurred connecting to the server, Error:12029");
    EXPECT_FALSE(Exists(local));
}

TEST_F(HttpDownloadTest, UnknownAccessTypeOpensNoSession) {
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "http://127.0.0.1:9/a.zip");
    dlg.m_nAccessType = 5;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"An error occurred while attempting to "
                                                     "download the file, Error:12009"});
}

TEST_F(HttpDownloadTest, ObjectEndingInSlashHasNoFileName) {
    test::ScriptHttpServer server([](const test::RawHttpRequest& req, test::HttpPeer& peer) {
        test::ServeBody(req, peer, "0123456789");
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/dir/"));
    dlg.m_dwRangeEnd = 3;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.FileName(), "");
    EXPECT_EQ(view.Texts(IDC_FILESTATUS), std::vector<std::string>{" from 127.0.0.1"});
    EXPECT_EQ(test::ReadFile(local), "0123");
}

TEST_F(HttpDownloadTest, NoContentLengthTakesTheSizeFromTheBody) {
    const std::string body = test::PatternBytes(5000, 3);
    test::ScriptHttpServer server([&](const test::RawHttpRequest& req, test::HttpPeer& peer) {
        test::ServeBody(req, peer, body, /*omit_length=*/true);
    });
    CHttpDownloadDlg dlg(view);
    uint32_t tick = 0;
    dlg.SetTickClock([&tick] { return tick += 700; });
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeStart = 1000;
    dlg.m_dwRangeEnd = 4999;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 4000u);
    EXPECT_TRUE(test::ReadFile(local) == body.substr(1000));
    EXPECT_TRUE(view.Captions().empty());
    EXPECT_TRUE(view.Texts(IDC_TIMELEFT).empty());
    EXPECT_TRUE(view.Values(ViewEvent::kPos).empty());
    EXPECT_TRUE(view.Values(ViewEvent::kRange).empty());
    EXPECT_FALSE(view.Texts(IDC_TRANSFER_RATE).empty());
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("range"), "bytes=1000-4999");
}

TEST_F(HttpDownloadTest, ServerCredentialsOn401) {
    test::ScriptHttpServer server([](const test::RawHttpRequest& req, test::HttpPeer& peer) {
        if (req.Header("authorization") != test::BasicAuth("ann", "pw"))
            return (void)peer.Respond(401, "who are you?", {"WWW-Authenticate: Basic realm=\"x\""});
        test::ServeBody(req, peer, "abcdefghij");
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_strUser = "ann";
    dlg.m_strPassword = "pw";
    dlg.m_dwRangeStart = 2;
    dlg.m_dwRangeEnd = 5;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), "cdef");

    // Wrong credentials: tried again once, then the 401 stands as no valid answer.
    dlg.m_strPassword = "wrong";
    dlg.m_dwRangeStart = 0;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
    EXPECT_FALSE(Exists(local));
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests.back().Header("authorization"), test::BasicAuth("ann", "wrong"));
    EXPECT_LE(requests.size(), 4u);  // never a loop
}

// Our server as a proxy that wants Basic credentials before it serves anything.
class ProxyAuthTest : public HttpDownloadTest {
protected:
    ProxyAuthTest()
        : proxy([this](const test::RawHttpRequest& req, test::HttpPeer& peer) {
              if (req.Header("proxy-authorization") != test::BasicAuth("pu", "pp"))
                  return (void)peer.Respond(407, "proxy says no",
                                            {"Proxy-Authenticate: Basic realm=\"p\""});
              test::ServeBody(req, peer, "0123456789");
          }) {}
    void PrepareProxied(CHttpDownloadDlg& dlg) {
        Prepare(dlg, "http://files.invalid/a.zip");
        dlg.m_nAccessType = 2;
        dlg.m_strProxy = "127.0.0.1:" + std::to_string(proxy.port());
        dlg.m_dwRangeStart = 4;
        dlg.m_dwRangeEnd = 6;
    }
    test::ScriptHttpServer proxy;
};

TEST_F(ProxyAuthTest, ConfiguredCredentialsAreAttached) {
    CHttpDownloadDlg dlg(view);
    PrepareProxied(dlg);
    dlg.m_strProxyUser = "pu";
    dlg.m_strProxyPassword = "pp";
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), "456");
    EXPECT_EQ(view.prompts, 0);
    const auto requests = proxy.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().target, "http://files.invalid/a.zip");
    EXPECT_EQ(requests.back().Header("range"), "bytes=4-6");
}

TEST_F(ProxyAuthTest, PromptGivesCredentialsAndRetries) {
    CHttpDownloadDlg dlg(view);
    PrepareProxied(dlg);
    view.promptAnswers.push_back({true, "pu", "pp"});
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(view.prompts, 1);
    EXPECT_EQ(test::ReadFile(local), "456");
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("proxy-authorization"), "");
    EXPECT_EQ(requests[1].Header("proxy-authorization"), test::BasicAuth("pu", "pp"));
}

TEST_F(ProxyAuthTest, DismissedPromptOrNoPromptFails) {
    for (bool prompt : {true, false}) {
        test::RecordingView v;
        CHttpDownloadDlg dlg(v);
        PrepareProxied(dlg);
        dlg.m_strLocalFile = local;
        dlg.m_bPromptProxyLogin = prompt;
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(v.prompts, prompt ? 1 : 0);
        EXPECT_EQ(v.Boxes(), std::vector<std::string>{
                                 "Failed to receive a valid HTTP response from the server"});
        EXPECT_FALSE(Exists(local));
    }
}

TEST_F(HttpDownloadTest, RedirectIsFollowedAndShown) {
    test::ScriptHttpServer server([](const test::RawHttpRequest& req, test::HttpPeer& peer) {
        if (req.target == "/old.zip") return (void)peer.Respond(302, "", {"Location: /new.zip"});
        test::ServeBody(req, peer, "0123456789");
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/old.zip"));
    dlg.m_dwRangeStart = 7;
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(test::ReadFile(local), "789");
    EXPECT_TRUE(Contains(view.Texts(IDC_STATUS), "Redirecting to " + server.Url("/new.zip")));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/new.zip");
    EXPECT_EQ(requests[1].Header("range"), "bytes=7-9");
}

TEST_F(HttpDownloadTest, CutConnectionFailsAndDeletesTheFile) {
    test::ScriptHttpServer server([](const test::RawHttpRequest&, test::HttpPeer& peer) {
        peer.Send(
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 10000\r\n"
            "Content-Range: bytes 0-9999/20000\r\n\r\n" +
            std::string(3000, 'x'));
        peer.Cut();
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeEnd = 9999;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].rfind("An error occurred while downloading the file, Error:", 0), 0u)
        << view.Boxes()[0];
    EXPECT_FALSE(Exists(local));
}

TEST_F(HttpDownloadTest, CancelWhileTheBodyFlows) {
    test::Gate gate;
    const std::string body = test::PatternBytes(100000, 5);
    test::ScriptHttpServer server([&](const test::RawHttpRequest&, test::HttpPeer& peer) {
        peer.Send(
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 100000\r\n"
            "Content-Range: bytes 0-99999/100000\r\n\r\n" +
            body.substr(0, 4096));
        peer.Wait(gate);  // the rest waits until the test is over
        peer.Send(body.substr(4096));
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeEnd = 99999;
    view.onEvent = [&](const ViewEvent& e) {
        if (e.kind == ViewEvent::kText && e.text == "Retrieving the file") view.Cancel();
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    gate.Open();
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "Aborting transfer");
    EXPECT_EQ(view.Values(ViewEvent::kCancelEnabled), std::vector<int>{0});
    ASSERT_TRUE(Exists(local));  // closed and kept
    const std::string got = test::ReadFile(local);
    EXPECT_LE(got.size(), 4096u);
    EXPECT_EQ(got, body.substr(0, got.size()));
}

TEST_F(HttpDownloadTest, CloseBoxDuringTheTransferActsAsCancel) {
    test::Gate gate;
    test::ScriptHttpServer server([&](const test::RawHttpRequest&, test::HttpPeer& peer) {
        peer.Send(
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 100\r\n"
            "Content-Range: bytes 0-99/100\r\n\r\n0123456789");
        peer.Wait(gate);
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeEnd = 99;
    view.onEvent = [&](const ViewEvent& e) {
        if (e.kind == ViewEvent::kText && e.text == "Retrieving the file") view.Close();
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    gate.Open();
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "Aborting transfer");
}

}  // namespace
}  // namespace fennic

namespace fennic {
namespace {

TEST_F(NginxTest, OffsetsPast2GiBGoOutUnsigned) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_dwRangeStart = 3000000000u;
    dlg.m_dwRangeEnd = 4294967294u;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // nginx: 416, no valid answer
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=3000000000-4294967294");
    EXPECT_EQ(log[0].status, 416);
}

// Relays one connection at a time from addr:443 to 127.0.0.1:target (the port decides TLS).
class Port443Relay {
public:
    Port443Relay(const char* addr, uint16_t target) : target_(target) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(443);
        ::inet_pton(AF_INET, addr, &sa.sin_addr);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
              ::listen(fd_, 4) == 0 && ::pipe2(wake_, O_CLOEXEC) == 0;
        if (ok_) thread_ = std::thread([this] { Serve(); });
    }
    ~Port443Relay() {
        if (thread_.joinable()) {
            (void)!::write(wake_[1], "x", 1);
            thread_.join();
        }
        for (int fd : {fd_, wake_[0], wake_[1]})
            if (fd >= 0) ::close(fd);
    }
    bool ok() const { return ok_; }

private:
    void Serve() {
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(p, 2, 10000) <= 0 || p[1].revents) return;
            const int in = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (in < 0) return;
            const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in sa = {};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(target_);
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(out, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) Pump(in, out);
            ::close(in);
            ::close(out);
        }
    }
    void Pump(int a, int b) {
        char buf[16384];
        for (;;) {
            pollfd p[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(p, 3, 10000) <= 0 || p[2].revents) return;
            for (int i = 0; i < 2; ++i) {
                if (!p[i].revents) continue;
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n <= 0 || ::write(p[1 - i].fd, buf, static_cast<size_t>(n)) != n) return;
            }
        }
    }
    uint16_t target_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    bool ok_ = false;
    std::thread thread_;
};

TEST_F(NginxTest, Port443MeansTlsWithTheCertificateChecked) {
    test::NginxOptions options;
    options.tls = true;  // a self-signed certificate nobody trusts
    test::NginxServer nginx(root.path(), options);
    Port443Relay relay("127.0.0.2", nginx.port());
    if (!relay.ok()) GTEST_SKIP() << "127.0.0.2:443 is not free";
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "http://127.0.0.2:443/small.zip");
    dlg.m_dwRangeEnd = 9;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(view.Boxes().size(), 1u);
    const std::string box = view.Boxes()[0];
    EXPECT_EQ(box.rfind("An error occurred connecting to the server, Error:120", 0), 0u) << box;
    EXPECT_NE(box.find("certificate"), std::string::npos) << box;
    EXPECT_FALSE(Exists(local));
    EXPECT_TRUE(nginx.AccessLog().empty());  // no request went out over the unchecked channel
}

TEST_F(NginxTest, OtherPortsStayPlainEvenWithHttpsScheme) {
    test::NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "https://127.0.0.1:" + std::to_string(nginx.port()) + "/small.zip");
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);  // TLS follows the port alone
    EXPECT_EQ(test::ReadFile(local), body.substr(0, 10));
}

}  // namespace
}  // namespace fennic

namespace fennic {
namespace {

// Our own servers with answers real servers never give: each must fail the run, leave no file
// behind and keep what they sent out of the message.
class HostileHttpTest : public HttpDownloadTest {
protected:
    int Run(test::HostileHttpOptions options, uint32_t start, uint32_t end) {
        options.body = body;
        test::HostileHttpServer server(options);
        CHttpDownloadDlg dlg(view);
        Prepare(dlg, server.Url("/a.zip"));
        dlg.m_dwRangeStart = start;
        dlg.m_dwRangeEnd = end;
        dlg.m_dwRateFloorSeconds = 2;
        const int result = dlg.DoModal();
        requests = server.Requests();
        return result;
    }
    const std::string body = test::PatternBytes(5000, 8);
    std::vector<test::RawHttpRequest> requests;
};

TEST_F(HostileHttpTest, RangedAnswersMustBeTheRangeAsked) {
    const std::string invalid = "Failed to receive a valid HTTP response from the server";
    const std::string body_error = "An error occurred while downloading the file, Error:";
    const struct {
        test::HttpFault fault;
        std::string box;
    } cases[] = {{test::HttpFault::kWrongRange, invalid},
                 {test::HttpFault::kGzip, invalid},
                 {test::HttpFault::kShortBody, body_error + "12030"},
                 {test::HttpFault::kLongBody, body_error + "12152"}};
    for (const auto& c : cases) {
        view.events.clear();
        dir.Write("out.bin", "old");
        test::HostileHttpOptions options;
        options.fault = c.fault;
        EXPECT_EQ(Run(options, 1000, 1999), IDCANCEL) << static_cast<int>(c.fault);
        EXPECT_EQ(view.Boxes(), std::vector<std::string>{c.box}) << static_cast<int>(c.fault);
        EXPECT_FALSE(Exists(local)) << static_cast<int>(c.fault);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Header("range"), "bytes=1000-1999");
        EXPECT_EQ(requests[0].Header("accept-encoding"), "");
    }
    // The same server's honest answer passes.
    test::HostileHttpOptions honest;
    honest.fault = test::HttpFault::kTrickle;
    honest.trickle_ms = 0;
    view.events.clear();
    ASSERT_EQ(Run(honest, 1000, 1009), IDOK);
    EXPECT_EQ(test::ReadFile(local), body.substr(1000, 10));
}

// Ranges around the size of one read arrive exactly; one byte short or one too many still
// fails the run.
TEST_F(HttpDownloadTest, RangesAroundTheReadBlockAreExact) {
    const std::string body = test::PatternBytes(300000, 9);
    for (const uint32_t length : {65535u, 65536u, 65537u, 131073u}) {
        for (const auto fault : {test::HttpFault::kTrickle, test::HttpFault::kShortBody,
                                 test::HttpFault::kLongBody}) {
            SCOPED_TRACE(std::to_string(length) + " " + std::to_string(static_cast<int>(fault)));
            test::HostileHttpOptions options;
            options.fault = fault;
            options.body = body;
            options.trickle_ms = 0;
            test::HostileHttpServer server(options);
            CHttpDownloadDlg dlg(view);
            Prepare(dlg, server.Url("/a.zip"));
            dlg.m_dwRangeStart = 1000;
            dlg.m_dwRangeEnd = 1000 + length - 1;
            if (fault == test::HttpFault::kTrickle) {
                ASSERT_EQ(dlg.DoModal(), IDOK);
                EXPECT_TRUE(test::ReadFile(local) == body.substr(1000, length));
                EXPECT_EQ(dlg.GetRemoteFileSize(), length);
            } else {
                EXPECT_EQ(dlg.DoModal(), IDCANCEL);
                EXPECT_FALSE(Exists(local));
            }
        }
    }
}

TEST_F(HostileHttpTest, TrickleBelowTheRateFloorIsATimeout) {
    test::HostileHttpOptions options;
    options.fault = test::HttpFault::kTrickle;
    options.trickle_ms = 300;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(options, 0, 4999), IDCANCEL);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{
                                "An error occurred while downloading the file, Error:12002"});
    EXPECT_FALSE(Exists(local));
}

TEST_F(HostileHttpTest, EndlessBodyWithoutLengthFailsTheSizeRun) {
    test::HostileHttpOptions options;
    options.fault = test::HttpFault::kEndless;
    test::HostileHttpServer server(options);
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_bSizeOnly = true;
    dlg.m_bSendRange = false;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"Server can't support "
                                                     "HTTP_QUERY_CONTENT_LENGTH method, "
                                                     "Error:12150"});
    EXPECT_TRUE(test::WaitUntil([&] { return server.Served() == 2; }));
    EXPECT_LT(server.BodyBytesSent(), 32u << 20);
}

// An authentication answer whose body has no end: a little of it is read, the rest dropped
// with its connection, and the run goes on as after any such answer (a retry with credentials,
// or the failure).
TEST_F(HostileHttpTest, EndlessAuthenticationBodiesAreDropped) {
    const std::string invalid = "Failed to receive a valid HTTP response from the server";
    const struct {
        int status;
        bool sizeOnly;
        std::string user, password;  // ours; the server wants ann/pw (proxy: pu/pp)
        int result;
        size_t requests;
        std::string box;
    } cases[] = {
        {407, false, "pu", "pp", IDOK, 2, ""},
        {401, false, "ann", "wrong", IDCANCEL, 2, invalid},
        {401, false, "", "", IDCANCEL, 1, invalid},
        // The HEAD has no length, so the GET follows; its body is no size either.
        {401, true, "", "", IDCANCEL, 2,
         "Server can't support HTTP_QUERY_CONTENT_LENGTH method, Error:12150"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.user);
        view.events.clear();
        test::HostileHttpOptions options;
        options.fault = test::HttpFault::kChallenge;
        options.body = body;
        options.status = c.status;
        options.reason = c.status == 407 ? "Proxy Authentication Required" : "Unauthorized";
        options.user = c.status == 407 ? "pu" : "ann";
        options.password = c.status == 407 ? "pp" : "pw";
        test::HostileHttpServer server(options);
        CHttpDownloadDlg dlg(view);
        if (c.status == 407) {
            Prepare(dlg, "http://files.invalid/a.zip");
            dlg.m_nAccessType = 2;
            dlg.m_strProxy = "127.0.0.1:" + std::to_string(server.port());
            dlg.m_strProxyUser = c.user;
            dlg.m_strProxyPassword = c.password;
        } else {
            Prepare(dlg, server.Url("/a.zip"));
            dlg.m_strUser = c.user;
            dlg.m_strPassword = c.password;
        }
        dlg.m_bSizeOnly = c.sizeOnly;
        dlg.m_bSendRange = !c.sizeOnly;
        dlg.m_dwRangeStart = 1000;
        dlg.m_dwRangeEnd = 1009;
        EXPECT_EQ(dlg.DoModal(), c.result);
        // Each endless body ended because we left, far below the server's 64 MiB.
        EXPECT_TRUE(test::WaitUntil([&] { return server.Served() == int(c.requests); }));
        EXPECT_LT(server.BodyBytesSent(), 32u << 20);
        const auto seen = server.Requests();
        ASSERT_EQ(seen.size(), c.requests);
        const std::string header = c.status == 407 ? "proxy-authorization" : "authorization";
        if (c.requests == 2 && !c.sizeOnly) {
            EXPECT_EQ(seen[1].Header(header), test::BasicAuth(c.user, c.password));
        }
        if (c.result == IDOK) {
            EXPECT_EQ(test::ReadFile(local), body.substr(1000, 10));
        } else {
            EXPECT_EQ(view.Boxes(), std::vector<std::string>{c.box});
            EXPECT_FALSE(Exists(local));
        }
    }
}

// Bytes 0 to 4294967295 are one more than a 32-bit size: refused before anything is sent.
TEST_F(HttpDownloadTest, RangeOf4GiBIsRefusedBeforeSending) {
    test::ScriptHttpServer server([](const test::RawHttpRequest&, test::HttpPeer& peer) {
        peer.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-4294967295/*\r\n"
                  "Connection: close\r\n\r\n" +
                  std::string(1000, 'b'));
        peer.Cut();
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 4294967295u;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"An error occurred while attempting to "
                                                     "download the file, Error:12009"});
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(Exists(local));
}

TEST_F(HostileHttpTest, EscapesInALocationAreNotShown) {
    test::HostileHttpOptions options;
    options.fault = test::HttpFault::kRedirect;
    options.location = "/\x1b]0;title\x07\x1b[2Jx.zip";
    EXPECT_EQ(Run(options, 0, 9), IDCANCEL);
    bool shown = false;
    for (const auto& text : view.Texts(IDC_STATUS)) {
        shown = shown || text.rfind("Redirecting to ", 0) == 0;
        EXPECT_EQ(text.find_first_of("\x1b\x07"), std::string::npos) << text;
    }
    EXPECT_TRUE(shown);
}

TEST_F(HostileHttpTest, RedirectToFtpIsNotFollowed) {
    test::ScriptFtpOptions ftpOptions;
    ftpOptions.files["/a.zip"] = body;
    test::ScriptFtpServer ftp(ftpOptions);
    test::HostileHttpOptions options;
    options.fault = test::HttpFault::kRedirect;
    options.location = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/a.zip";
    EXPECT_EQ(Run(options, 0, 9), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{
                                "An error occurred connecting to the server, Error:12156"});
    EXPECT_EQ(ftp.connections(), 0);
    EXPECT_TRUE(ftp.Commands().empty());
    EXPECT_FALSE(Exists(local));
}

}  // namespace
}  // namespace fennic
