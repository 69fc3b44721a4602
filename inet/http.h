#pragma once
// HTTP over libcurl: a session, a connection to one server and requests on it.
//
// Every call blocks on the calling thread (status notifications arrive there) and returns
// false on failure with LastError()/LastErrorText() set on the object that failed. Cancel() may
// be called from any thread; the pending and later calls then fail with
// kErrorOperationCancelled. All requests of one session share one curl handle, so they reuse
// the connection. Children keep the session's internals alive, so any destruction order is safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "inet/session_settings.h"
#include "inet/status.h"

namespace fennic::inet {

struct HttpCore;
class HttpConnection;
class HttpRequest;

enum HttpAccessType : int {
    kAccessPreconfig = 0,  // the environment's proxy settings (http_proxy, no_proxy)
    kAccessDirect = 1,     // never a proxy
    kAccessProxy = 2,      // the named proxy, "host[:port]" (port 80 when none)
};

// Initialises the network layer once per process (curl_global_init); false when it fails.
bool InitNetwork();

// The exact range header of a transfer: "Range: bytes=START-END\r\n", unsigned decimals.
std::string RangeHeader(uint32_t start, uint32_t end);

// SetTimeouts: the connect limit and the idle limit (no byte moved) in milliseconds; defaults
// 30000 and 60000. SetRateFloor: a transfer slower than bytes_per_second for seconds on end
// fails with kErrorTimeout (bytes held back by a slow reader do not count against it).
// Defaults kRateFloorBytesPerSecond and kRateFloorSeconds; seconds 0 switches it off.
class HttpSession : public SessionSetters {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // access_type is one of HttpAccessType; any other value fails with kErrorInvalidOption.
    bool Open(const std::string& agent, int access_type, const std::string& proxy);
    // CA bundle for TLS peers instead of the system's.
    void SetCaFile(const std::string& path);
    // No certificate or host name checks (the user asked for it).
    void SetInsecure(bool insecure);
    // Credentials for a server the address gives none for, from a .netrc file (empty: the
    // user's ~/.netrc). Like the address's own, they are never sent to another host.
    void SetNetrc(const std::string& file);
    // Signs every request with AWS Signature Version 4 (provider "aws:amz:REGION:SERVICE") by
    // key and secret, in place of any other credentials.
    void SetAwsSigV4(const std::string& provider, const std::string& key,
                     const std::string& secret);

    // Records the server; nothing goes over the wire until a request is sent. user/password
    // are sent as Basic credentials with every request when user is not empty.
    std::unique_ptr<HttpConnection> Connect(const std::string& server, uint16_t port,
                                            const std::string& user, const std::string& password);

    void Cancel();  // any thread
    void Close();   // ends the session's transfers and its curl handle

    uint32_t LastError() const;
    std::string LastErrorText() const;

private:
    explicit HttpSession(std::shared_ptr<HttpCore> core);

    std::shared_ptr<HttpCore> core_;
};

class HttpConnection {
public:
    ~HttpConnection();
    // A GET for object (path with query). secure: TLS with full certificate checks.
    std::unique_ptr<HttpRequest> OpenRequest(const std::string& object, bool secure);

    uint32_t LastError() const;
    std::string LastErrorText() const;

private:
    friend class HttpSession;
    HttpConnection() = default;
    std::shared_ptr<HttpCore> core_;
    std::string server_, user_, password_;
    uint16_t port_ = 0;
    uint32_t error_ = 0;
    std::string error_text_;
};

class HttpRequest {
public:
    ~HttpRequest();

    // Sends the GET with headers: empty, or lines each ending in "\r\n" (e.g. RangeHeader()).
    // Redirects are followed (each one notified as kStatusRedirect) to http and https only, and
    // from https to https only; another target fails with kErrorRedirectFailed. Returns once
    // the final response's headers are in. body_wanted false: a HEAD asks for the length first;
    // only when its answer has no Content-Length (or the server refuses HEAD) the GET is sent,
    // stopped at the end of its headers when it has a length, so no body byte is taken.
    // An answer whose headers pass kMaxHeaderBytes (64 KiB) fails with
    // kErrorInvalidServerResponse. A new call sends the request again (after SetCredentials,
    // for instance).
    bool Send(const std::string& headers, bool body_wanted = true);

    // Status code of the final response (every status, 416 included).
    bool QueryStatusCode(uint32_t& status);
    // Content-Length of the final response; false with kErrorHeaderNotFound when it has none.
    bool QueryContentLength(uint64_t& length);
    // Value of a header of the final response (several of the same name joined by ", ");
    // false with kErrorHeaderNotFound when it has none.
    bool QueryHeader(const std::string& name, std::string& value);

    // Reads up to size body bytes; got = 0 at the end of the body. Incremental: never waits
    // for more than the first available bytes.
    bool Read(void* buffer, size_t size, size_t& got);

    // Credentials for the next Send: the server's (answer to 401) and the proxy's (407).
    void SetCredentials(const std::string& user, const std::string& password);
    void SetProxyCredentials(const std::string& user, const std::string& password);
    // Digest instead of Basic for the server's credentials, for a server that asked for it.
    void SetDigest(bool digest);

    // Body length from the current position to the end: reads the rest of the body into memory
    // and returns its length. A body over 64 KiB fails (kErrorInvalidServerResponse) after
    // reading no more than one byte past that, and ends the transfer. SeekToBegin() then
    // replays the body from its first byte. Only before the first Read.
    bool SeekToEnd(uint64_t& position);
    bool SeekToBegin();

    void Close();

    uint32_t LastError() const;
    std::string LastErrorText() const;

    struct State;  // internal

private:
    friend class HttpConnection;
    HttpRequest();
    bool SendOnce(const std::string& headers, bool body_wanted, bool head);
    std::unique_ptr<State> state_;
};

}  // namespace fennic::inet
