// CHttpDownloadDlg against our hostile servers: wrong ranges and lengths, a pace below the
// floor, bodies without end, and redirects that must not be shown or followed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/frontend.h"
#include "tests/transfer/http_download_support.h"

namespace fennic::test {
namespace {

// Our own servers with answers real servers never give: each must fail the run, leave no file
// behind and keep what they sent out of the message.
class HostileHttpTest : public HttpDownloadTest {
protected:
    int Run(HostileHttpOptions options, uint32_t start, uint32_t end) {
        options.body = body;
        HostileHttpServer server(options);
        CHttpDownloadDlg dlg(view);
        Prepare(dlg, server.Url("/a.zip"));
        dlg.m_dwRangeStart = start;
        dlg.m_dwRangeEnd = end;
        dlg.m_dwRateFloorSeconds = 2;
        const int result = dlg.DoModal();
        requests = server.Requests();
        return result;
    }
    const std::string body = PatternBytes(5000, 8);
    std::vector<RawHttpRequest> requests;
};

TEST_F(HostileHttpTest, RangedAnswersMustBeTheRangeAsked) {
    const std::string invalid = "Failed to receive a valid HTTP response from the server";
    const std::string body_error = "An error occurred while downloading the file, Error:";
    const struct {
        HttpFault fault;
        std::string box;
    } cases[] = {{HttpFault::kWrongRange, invalid},
                 {HttpFault::kGzip, invalid},
                 {HttpFault::kShortBody, body_error + "12030"},
                 {HttpFault::kLongBody, body_error + "12152"}};
    for (const auto& c : cases) {
        view.events.clear();
        dir.Write("out.bin", "old");
        EXPECT_EQ(Run(Playing(c.fault), 1000, 1999), IDCANCEL) << static_cast<int>(c.fault);
        EXPECT_EQ(view.Boxes(), std::vector<std::string>{c.box}) << static_cast<int>(c.fault);
        EXPECT_FALSE(Exists(local)) << static_cast<int>(c.fault);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Header("range"), "bytes=1000-1999");
        EXPECT_EQ(requests[0].Header("accept-encoding"), "");
    }
    // The same server's honest answer passes.
    HostileHttpOptions honest;
    honest.fault = HttpFault::kTrickle;
    honest.trickle_ms = 0;
    view.events.clear();
    ASSERT_EQ(Run(honest, 1000, 1009), IDOK);
    EXPECT_EQ(ReadFile(local), body.substr(1000, 10));
}

// Ranges around the size of one read arrive exactly; one byte short or one too many still
// fails the run.
TEST_F(HttpDownloadTest, RangesAroundTheReadBlockAreExact) {
    const std::string body = PatternBytes(300000, 9);
    for (const uint32_t length : {65535u, 65536u, 65537u, 131073u}) {
        for (const auto fault :
             {HttpFault::kTrickle, HttpFault::kShortBody, HttpFault::kLongBody}) {
            SCOPED_TRACE(std::to_string(length) + " " + std::to_string(static_cast<int>(fault)));
            HostileHttpOptions options;
            options.fault = fault;
            options.body = body;
            options.trickle_ms = 0;
            HostileHttpServer server(options);
            CHttpDownloadDlg dlg(view);
            Prepare(dlg, server.Url("/a.zip"));
            dlg.m_dwRangeStart = 1000;
            dlg.m_dwRangeEnd = 1000 + length - 1;
            if (fault == HttpFault::kTrickle) {
                ASSERT_EQ(dlg.DoModal(), IDOK);
                EXPECT_TRUE(ReadFile(local) == body.substr(1000, length));
                EXPECT_EQ(dlg.GetRemoteFileSize(), length);
            } else {
                EXPECT_EQ(dlg.DoModal(), IDCANCEL);
                EXPECT_FALSE(Exists(local));
            }
        }
    }
}

TEST_F(HostileHttpTest, TrickleBelowTheRateFloorIsATimeout) {
    HostileHttpOptions options;
    options.fault = HttpFault::kTrickle;
    options.trickle_ms = 300;
    // All 40 bytes are there after 12 s: only the floor of 2 s can end the run before.
    EXPECT_EQ(Run(options, 0, 39), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{
                                "An error occurred while downloading the file, Error:12002"});
    EXPECT_FALSE(Exists(local));
}

TEST_F(HostileHttpTest, EndlessBodyWithoutLengthFailsTheSizeRun) {
    HostileHttpServer server(Playing(HttpFault::kEndless));
    CHttpDownloadDlg dlg(view);
    PrepareSizeOnly(dlg, server.Url("/a.zip"));
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(), std::vector<std::string>{"Server can't support "
                                                     "HTTP_QUERY_CONTENT_LENGTH method, "
                                                     "Error:12150"});
    EXPECT_TRUE(WaitUntil([&] { return server.Served() == 2; }));
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
        HostileHttpOptions options;
        options.fault = HttpFault::kChallenge;
        options.body = body;
        options.status = c.status;
        options.reason = c.status == 407 ? "Proxy Authentication Required" : "Unauthorized";
        options.user = c.status == 407 ? "pu" : "ann";
        options.password = c.status == 407 ? "pp" : "pw";
        HostileHttpServer server(options);
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
        EXPECT_TRUE(WaitUntil([&] { return server.Served() == int(c.requests); }));
        EXPECT_LT(server.BodyBytesSent(), 32u << 20);
        const auto seen = server.Requests();
        ASSERT_EQ(seen.size(), c.requests);
        const std::string header = c.status == 407 ? "proxy-authorization" : "authorization";
        if (c.requests == 2 && !c.sizeOnly) {
            EXPECT_EQ(seen[1].Header(header), BasicAuth(c.user, c.password));
        }
        if (c.result == IDOK) {
            EXPECT_EQ(ReadFile(local), body.substr(1000, 10));
        } else {
            EXPECT_EQ(view.Boxes(), std::vector<std::string>{c.box});
            EXPECT_FALSE(Exists(local));
        }
    }
}

TEST_F(HostileHttpTest, EscapesInALocationAreNotShown) {
    HostileHttpOptions options;
    options.fault = HttpFault::kRedirect;
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
    ScriptFtpOptions ftpOptions;
    ftpOptions.files["/a.zip"] = body;
    ScriptFtpServer ftp(ftpOptions);
    HostileHttpOptions options;
    options.fault = HttpFault::kRedirect;
    options.location = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/a.zip";
    EXPECT_EQ(Run(options, 0, 9), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"An error occurred connecting to the server, Error:12156"});
    EXPECT_EQ(ftp.connections(), 0);
    EXPECT_TRUE(ftp.Commands().empty());
    EXPECT_FALSE(Exists(local));
}

}  // namespace
}  // namespace fennic::test
