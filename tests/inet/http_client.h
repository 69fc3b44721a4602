#pragma once
// A test client for one server (session, connection and the notes it was handed) and the
// small reads the HTTP tests share.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inet/http.h"

namespace fennic::inet::test_http {

struct Client {
    HttpSession session;
    std::unique_ptr<HttpConnection> conn;
    std::vector<std::pair<uint32_t, std::string>> notes;

    explicit Client(uint16_t port, int access = kAccessDirect, const std::string& proxy = "",
                    const std::string& host = "127.0.0.1") {
        EXPECT_TRUE(session.Open("Fennic test", access, proxy)) << session.LastErrorText();
        session.SetStatusCallback(
            [this](uint32_t s, const std::string& info) { notes.emplace_back(s, info); });
        conn = session.Connect(host, port, "", "");
        EXPECT_TRUE(conn);
    }
    std::unique_ptr<HttpRequest> Get(const std::string& path, const std::string& headers,
                                     bool body_wanted = true, bool secure = false) {
        auto req = conn->OpenRequest(path, secure);
        EXPECT_TRUE(req);
        if (req && !req->Send(headers, body_wanted)) {
            ADD_FAILURE() << "send: " << req->LastErrorText();
        }
        return req;
    }
};

inline uint32_t Status(HttpRequest& req) {
    uint32_t s = 0;
    EXPECT_TRUE(req.QueryStatusCode(s));
    return s;
}

inline std::string Body(HttpRequest& req, size_t chunk = 1024) {
    std::string out;
    std::vector<char> buf(chunk);
    size_t got = 0;
    while (req.Read(buf.data(), buf.size(), got) && got > 0) out.append(buf.data(), got);
    return out;
}

}  // namespace fennic::inet::test_http
