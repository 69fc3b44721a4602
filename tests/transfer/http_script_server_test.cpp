// CHttpDownloadDlg against our own HTTP server: failures before any answer, credentials for
// the server and a proxy, redirects, a cut connection and the user stopping the run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/frontend.h"
#include "tests/transfer/http_download_support.h"

namespace fennic::test {
namespace {

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
    const uint16_t port = FreePort();  // nobody listens there
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
    ScriptHttpServer server(
        [](const RawHttpRequest& req, HttpPeer& peer) { ServeBody(req, peer, "0123456789"); });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/dir/"));
    dlg.m_dwRangeEnd = 3;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.FileName(), "");
    EXPECT_EQ(view.Texts(IDC_FILESTATUS), std::vector<std::string>{" from 127.0.0.1"});
    EXPECT_EQ(ReadFile(local), "0123");
}

TEST_F(HttpDownloadTest, NoContentLengthTakesTheSizeFromTheBody) {
    const std::string body = PatternBytes(5000, 3);
    ScriptHttpServer server([&](const RawHttpRequest& req, HttpPeer& peer) {
        ServeBody(req, peer, body, /*omit_length=*/true);
    });
    CHttpDownloadDlg dlg(view);
    uint32_t tick = 0;
    dlg.SetTickClock([&tick] { return tick += 700; });
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_dwRangeStart = 1000;
    dlg.m_dwRangeEnd = 4999;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 4000u);
    EXPECT_TRUE(ReadFile(local) == body.substr(1000));
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
    ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.Header("authorization") != BasicAuth("ann", "pw"))
            return (void)peer.Respond(401, "who are you?", {"WWW-Authenticate: Basic realm=\"x\""});
        ServeBody(req, peer, "abcdefghij");
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/a.zip"));
    dlg.m_strUser = "ann";
    dlg.m_strPassword = "pw";
    dlg.m_dwRangeStart = 2;
    dlg.m_dwRangeEnd = 5;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), "cdef");

    // Wrong credentials: tried again once, then the 401 stands as no valid answer.
    dlg.m_strPassword = "wrong";
    dlg.m_dwRangeStart = 0;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
    EXPECT_FALSE(Exists(local));
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests.back().Header("authorization"), BasicAuth("ann", "wrong"));
    EXPECT_LE(requests.size(), 4u);  // never a loop
}

// Our server as a proxy that wants Basic credentials before it serves anything.
class ProxyAuthTest : public HttpDownloadTest {
protected:
    ProxyAuthTest()
        : proxy([this](const RawHttpRequest& req, HttpPeer& peer) {
              if (req.Header("proxy-authorization") != BasicAuth("pu", "pp"))
                  return (void)peer.Respond(407, "proxy says no",
                                            {"Proxy-Authenticate: Basic realm=\"p\""});
              ServeBody(req, peer, "0123456789");
          }) {}
    void PrepareProxied(CHttpDownloadDlg& dlg) {
        Prepare(dlg, "http://files.invalid/a.zip");
        dlg.m_nAccessType = 2;
        dlg.m_strProxy = "127.0.0.1:" + std::to_string(proxy.port());
        dlg.m_dwRangeStart = 4;
        dlg.m_dwRangeEnd = 6;
    }
    ScriptHttpServer proxy;
};

TEST_F(ProxyAuthTest, ConfiguredCredentialsAreAttached) {
    CHttpDownloadDlg dlg(view);
    PrepareProxied(dlg);
    dlg.m_strProxyUser = "pu";
    dlg.m_strProxyPassword = "pp";
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), "456");
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
    EXPECT_EQ(ReadFile(local), "456");
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("proxy-authorization"), "");
    EXPECT_EQ(requests[1].Header("proxy-authorization"), BasicAuth("pu", "pp"));
}

TEST_F(ProxyAuthTest, DismissedPromptOrNoPromptFails) {
    for (bool prompt : {true, false}) {
        RecordingView v;
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
    ScriptHttpServer server([](const RawHttpRequest& req, HttpPeer& peer) {
        if (req.target == "/old.zip") return (void)peer.Respond(302, "", {"Location: /new.zip"});
        ServeBody(req, peer, "0123456789");
    });
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, server.Url("/old.zip"));
    dlg.m_dwRangeStart = 7;
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), "789");
    EXPECT_TRUE(Contains(view.Texts(IDC_STATUS), "Redirecting to " + server.Url("/new.zip")));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/new.zip");
    EXPECT_EQ(requests[1].Header("range"), "bytes=7-9");
}

TEST_F(HttpDownloadTest, CutConnectionFailsAndDeletesTheFile) {
    ScriptHttpServer server([](const RawHttpRequest&, HttpPeer& peer) {
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

// The server sends the head and a little of the body, and the rest only after the run; press
// (Cancel or the close box) goes once the body is coming.
class StoppedTransferTest : public HttpDownloadTest {
protected:
    int RunAndPress(const HeldBackHttpServer& server, void (RecordingView::*press)()) {
        CHttpDownloadDlg dlg(view);
        Prepare(dlg, server.Url("/a.zip"));
        dlg.m_dwRangeEnd = static_cast<uint32_t>(server.body().size() - 1);
        view.WhenText("Retrieving the file", [this, press] { (view.*press)(); });
        return dlg.DoModal();
    }
};

TEST_F(StoppedTransferTest, CancelWhileTheBodyFlows) {
    HeldBackHttpServer server(PatternBytes(100000, 5), 4096);
    EXPECT_EQ(RunAndPress(server, &RecordingView::Cancel), IDCANCEL);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "Aborting transfer");
    EXPECT_EQ(view.Values(ViewEvent::kCancelEnabled), std::vector<int>{0});
    ASSERT_TRUE(Exists(local));  // closed and kept
    const std::string got = ReadFile(local);
    EXPECT_LE(got.size(), 4096u);
    EXPECT_EQ(got, server.body().substr(0, got.size()));
}

TEST_F(StoppedTransferTest, CloseBoxDuringTheTransferActsAsCancel) {
    HeldBackHttpServer server(PatternBytes(100, 5), 10);
    EXPECT_EQ(RunAndPress(server, &RecordingView::Close), IDCANCEL);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(view.Texts(IDC_STATUS).back(), "Aborting transfer");
}

// Bytes 0 to 4294967295 are one more than a 32-bit size: refused before anything is sent.
TEST_F(HttpDownloadTest, RangeOf4GiBIsRefusedBeforeSending) {
    HostileHttpServer server(Playing(HttpFault::kRange4GiB));
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

}  // namespace
}  // namespace fennic::test
