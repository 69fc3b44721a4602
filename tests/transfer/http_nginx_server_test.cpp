// CHttpDownloadDlg against nginx and tinyproxy: what went over the wire, the progress shown,
// and TLS on port 443.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "app/frontend.h"
#include "tests/transfer/http_download_support.h"

namespace fennic::test {
namespace {

class NginxTest : public HttpDownloadTest {
protected:
    NginxTest() : root(), body(PatternBytes(3 * 1000 * 1000, 7)) {
        root.Write("a.zip", body);
        root.Write("small.zip", body.substr(0, 100000));
    }
    TempDir root;
    std::string body;
};

TEST_F(NginxTest, SizeOnlyTakesNoBody) {
    // 64 MiB without data blocks: far more than the socket buffers can hold.
    ASSERT_EQ(::truncate(root.Write("big.zip", "").c_str(), 64 << 20), 0);
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    PrepareSizeOnly(dlg, nginx.Url("/big.zip"));
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 64u << 20);
    EXPECT_TRUE(Exists(local));
    EXPECT_EQ(ReadFile(local), "");
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
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    PrepareSizeOnly(dlg, nginx.Url("/a.zip"));
    ASSERT_EQ(dlg.DoModal(), IDOK);
    const uint32_t size = dlg.GetRemoteFileSize();
    ASSERT_EQ(size, body.size());
    dlg.m_bSizeOnly = false;
    dlg.m_bSendRange = true;
    dlg.m_dwRangeStart = size - 22;
    dlg.m_dwRangeEnd = size - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 22u);  // the length of the range
    EXPECT_EQ(ReadFile(local), body.substr(size - 22));
    // Then a tail, as a listing's third run takes the central directory.
    const std::string tail = dir.path() + "/tail.bin";
    dlg.m_strLocalFile = tail;
    dlg.m_dwRangeStart = 1000000;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ReadFile(tail) == body.substr(1000000));
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
    NginxServer nginx(root.path());
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
    view.WhenText("Retrieving the file", [&] { view.Cancel(); });
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
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    uint32_t tick = 0;
    dlg.SetTickClock([&tick] { return tick += 300; });  // past a second every fourth block
    Prepare(dlg, nginx.Url("/a.zip"));
    dlg.m_dwRangeStart = 1000000;
    dlg.m_dwRangeEnd = 1999999;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetRemoteFileSize(), 1000000u);
    EXPECT_TRUE(ReadFile(local) == body.substr(1000000, 1000000));
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
    NginxOptions options;
    options.max_ranges_zero = true;
    NginxServer nginx(root.path(), options);
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
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_bSendRange = false;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(view.Boxes(),
              std::vector<std::string>{"Failed to receive a valid HTTP response from the server"});
}

TEST_F(NginxTest, SizeOnlyAcceptsAnyStatus) {
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    PrepareSizeOnly(dlg, nginx.Url("/missing.zip"));
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_GT(dlg.GetRemoteFileSize(), 0u);  // the 404 page's length
    EXPECT_EQ(nginx.WaitForAccessLog(1).at(0).status, 404);
    EXPECT_EQ(dlg.GetStatusCode(), 404u);  // kept for callers that want a 2xx
    dlg.m_strUrl = nginx.Url("/small.zip");
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.GetStatusCode(), 200u);
}

TEST_F(NginxTest, AddressWithoutSchemeGetsHttpInFront) {
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    const std::string bare = "127.0.0.1:" + std::to_string(nginx.port()) + "/small.zip";
    Prepare(dlg, bare);
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strUrl, "http://" + bare);
    EXPECT_EQ(ReadFile(local), body.substr(0, 10));
}

TEST_F(NginxTest, LaterStartAppendsAndStartZeroTruncates) {
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dir.Write("out.bin", "old");
    dlg.m_dwRangeStart = 10;
    dlg.m_dwRangeEnd = 19;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), "old" + body.substr(10, 10));
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 4;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), body.substr(0, 5));
}

TEST_F(NginxTest, ThroughTinyproxy) {
    NginxServer nginx(root.path());
    TinyProxy proxy;
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, nginx.Url("/small.zip"));
    dlg.m_nAccessType = 2;
    dlg.m_strProxy = "127.0.0.1:" + std::to_string(proxy.port());
    dlg.m_dwRangeStart = 100000 - 22;
    dlg.m_dwRangeEnd = 100000 - 1;
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(ReadFile(local), body.substr(100000 - 22, 22));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=99978-99999");
    EXPECT_TRUE(WaitUntil([&] {
        return proxy.Log().find(nginx.Url("/small.zip")) != std::string::npos;
    })) << proxy.Log();
}

TEST_F(NginxTest, OffsetsPast2GiBGoOutUnsigned) {
    NginxServer nginx(root.path());
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
    NginxOptions options;
    options.tls = true;  // a self-signed certificate nobody trusts
    NginxServer nginx(root.path(), options);
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
    NginxServer nginx(root.path());
    CHttpDownloadDlg dlg(view);
    Prepare(dlg, "https://127.0.0.1:" + std::to_string(nginx.port()) + "/small.zip");
    dlg.m_dwRangeEnd = 9;
    ASSERT_EQ(dlg.DoModal(), IDOK);  // TLS follows the port alone
    EXPECT_EQ(ReadFile(local), body.substr(0, 10));
}
}  // namespace
}  // namespace fennic::test
