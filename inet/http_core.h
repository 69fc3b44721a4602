#pragma once
// Inside the HTTP client: what a session shares with its requests (one curl handle), and the
// state of one request. http.cpp sends requests and runs the transfer, http_headers.cpp reads
// the response's headers, http_body.cpp its body; http_session.cpp opens the session.

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "inet/curl_util.h"
#include "inet/errors.h"
#include "inet/http.h"
#include "inet/session_settings.h"
#include "inet/socket_util.h"
#include "inet/status.h"

namespace fennic::inet {

// The most header bytes one answer may carry. curl stops a single line at 100 KiB on its own,
// but says only "Out of memory"; the lines of an answer are not bounded by it at all.
constexpr size_t kMaxHeaderBytes = 64 * 1024;

struct HttpCore : FailureRecord, SessionSettings {
    HttpCore() : SessionSettings(30000, 60000) {}

    CurlEasy easy;
    CurlMulti multi;
    std::atomic<bool> cancelled{false};
    bool opened = false;
    std::string ca_file;
    bool insecure = false;
    bool netrc = false;
    std::string netrc_file;                      // empty: curl's own default, ~/.netrc
    std::string sigv4, sigv4_key, sigv4_secret;  // AWS signing, when sigv4 is not empty
    HttpRequest::State* active = nullptr;        // the request that owns the easy handle now
    std::string host;                            // for the resolving notification
    std::string proxy_host;                      // the named proxy's host: looked up instead
    bool resolving = false;                      // a name lookup started for this request
    bool new_socket = false;                     // a socket was opened since the last request start
    char errbuf[CURL_ERROR_SIZE] = {};
};

struct HttpRequest::State : FailureRecord {
    std::shared_ptr<HttpCore> core;
    std::string url;
    std::string host;
    bool secure = false;
    std::string user, password;              // the connection's, or set after a 401
    bool digest = false;                     // the server asked for Digest, not Basic
    std::string proxy_user, proxy_password;  // set after a 407
    CurlHeaders headers;

    // The transfer in progress.
    bool sent = false;
    bool in_multi = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    bool body_wanted = true;
    bool head = false;  // this attempt is a HEAD
    bool stopped_at_headers = false;
    bool progress = false;
    bool paused = false;
    int redirects = 0;

    // Headers of the response being received; "final" once no redirect or 1xx follows.
    int status = 0;
    bool have_length = false;
    uint64_t length = 0;
    std::string location;
    bool final_headers = false;
    size_t header_bytes = 0;        // of the answer being received
    bool headers_too_long = false;  // the answer passed kMaxHeaderBytes
    std::string redirect_target;    // the absolute address of the last redirect

    std::string body;
    size_t body_off = 0;
    uint64_t body_read = 0;
    std::string spool;  // the body SeekToEnd counted, replayed after SeekToBegin
    size_t spool_off = 0;
    bool spooled = false;
    bool replay = false;

    size_t Buffered() const { return body.size() - body_off; }

    void Detach();
    bool FailFromCurl(CURLcode code);
    // Runs curl until ready() holds, the transfer ends, it stalls or is cancelled.
    bool Pump(bool (*ready)(const State&));

    // Response ended with a failure that is not ours.
    bool TransferFailed() const {
        return done && result != CURLE_OK && !(stopped_at_headers && result == CURLE_WRITE_ERROR);
    }

    bool Read(void* buffer, size_t size, size_t& got);  // http_body.cpp
    size_t OnHeader(const char* data, size_t len);      // http_headers.cpp
    size_t OnBody(const char* data, size_t len);        // http_body.cpp
};

}  // namespace fennic::inet
