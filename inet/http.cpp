#include "inet/http.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "inet/curl_util.h"
#include "inet/errors.h"

namespace fennic::inet {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held for the reader before curl is paused.
constexpr size_t kMaxBuffered = 64 * 1024;
// A body without a length is counted in memory up to this much; a longer one fails, so a server
// cannot make us read (or store) without end.
constexpr size_t kMaxUnsizedBody = 64 * 1024;

// OpenSSL's verify results (X509_V_ERR_*) that have a closer meaning.
constexpr long kVerifyOk = 0;
constexpr long kVerifyUnspecified = 1;  // curl's "not yet OK" before its own host name check
constexpr long kVerifyNotYetValid = 9;
constexpr long kVerifyExpired = 10;
constexpr long kVerifyHostnameMismatch = 62;

std::once_flag g_init_once;
bool g_init_ok = false;

}  // namespace

bool InitNetwork() {
    std::call_once(g_init_once, [] { g_init_ok = curl_global_init(CURL_GLOBAL_DEFAULT) == 0; });
    return g_init_ok;
}

std::string RangeHeader(uint32_t start, uint32_t end) {
    return "Range: bytes=" + std::to_string(start) + "-" + std::to_string(end) + "\r\n";
}

struct HttpCore {
    CurlEasy easy;
    CurlMulti multi;
    std::atomic<bool> cancelled{false};
    bool opened = false;
    StatusCallback callback;
    uint32_t connect_ms = 30000;
    uint32_t idle_ms = 60000;
    uint32_t floor_bps = kRateFloorBytesPerSecond;
    uint32_t floor_seconds = kRateFloorSeconds;
    std::string ca_file;
    bool insecure = false;
    uint32_t error = 0;
    std::string error_text;
    HttpRequest::State* active = nullptr;  // the request that owns the easy handle now
    std::string host;                      // for the resolving notification
    std::string proxy_host;                // the named proxy's host: looked up instead
    bool resolving = false;                // a name lookup started for this request
    bool new_socket = false;               // a socket was opened since the last request start
    char errbuf[CURL_ERROR_SIZE] = {};

    void Notify(uint32_t status, const std::string& info) const {
        if (callback) callback(status, info);
    }
    bool Fail(uint32_t code, const std::string& detail = "") {
        error = code;
        error_text = ErrorText(code);
        if (!detail.empty()) error_text += ": " + detail;
        return false;
    }
};

struct HttpRequest::State {
    std::shared_ptr<HttpCore> core;
    std::string url;
    std::string host;
    bool secure = false;
    std::string user, password;              // the connection's, or set after a 401
    bool digest = false;                     // the server asked for Digest, not Basic
    std::string proxy_user, proxy_password;  // set after a 407
    CurlHeaders headers;
    uint32_t error = 0;
    std::string error_text;

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

    std::string body;
    size_t body_off = 0;
    uint64_t body_read = 0;
    std::string spool;  // the body SeekToEnd counted, replayed after SeekToBegin
    size_t spool_off = 0;
    bool spooled = false;
    bool replay = false;

    bool Fail(uint32_t code, const std::string& detail = "") {
        error = code;
        error_text = ErrorText(code);
        if (!detail.empty()) error_text += ": " + detail;
        return false;
    }
    size_t Buffered() const { return body.size() - body_off; }

    void Detach() {
        if (in_multi) curl_multi_remove_handle(core->multi.get(), core->easy.get());
        in_multi = false;
        if (!done) {
            done = true;
            result = CURLE_ABORTED_BY_CALLBACK;
        }
        if (core->active == this) core->active = nullptr;
    }

    bool FailFromCurl(CURLcode code) {
        std::string detail = core->errbuf[0] ? core->errbuf : curl_easy_strerror(code);
        if (code == CURLE_PEER_FAILED_VERIFICATION) {
            long verify = kVerifyOk;
            curl_easy_getinfo(core->easy.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
            if (verify == kVerifyNotYetValid || verify == kVerifyExpired) {
                return Fail(kErrorCertDateInvalid, detail);
            }
            // A chain that fails carries OpenSSL's own code; one that passed can fail afterwards
            // only on curl's host name check, which leaves the result unset (0) or "not OK" (1).
            if (verify == kVerifyHostnameMismatch || verify == kVerifyOk ||
                verify == kVerifyUnspecified) {
                return Fail(kErrorCertNameInvalid, detail);
            }
        }
        // A redirect to a scheme we do not follow.
        if (code == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
            return Fail(kErrorRedirectFailed, detail);
        }
        if (code == CURLE_ABORTED_BY_CALLBACK && core->cancelled) {
            return Fail(kErrorOperationCancelled);
        }
        return Fail(ErrorFromCurlCode(code), detail);
    }

    // Runs curl until ready() holds, the transfer ends, it stalls or is cancelled.
    template <typename Ready>
    bool Pump(Ready ready) {
        Clock::time_point last = Clock::now();
        const auto idle = std::chrono::milliseconds(core->idle_ms);
        while (!ready() && !done) {
            if (core->cancelled) {
                Detach();
                return Fail(kErrorOperationCancelled);
            }
            int running = 0;
            CURLMcode mc = curl_multi_perform(core->multi.get(), &running);
            if (mc != CURLM_OK) {
                Detach();
                return Fail(kErrorInternal, curl_multi_strerror(mc));
            }
            int queued = 0;
            while (CURLMsg* m = curl_multi_info_read(core->multi.get(), &queued)) {
                if (m->msg == CURLMSG_DONE && m->easy_handle == core->easy.get()) {
                    result = m->data.result;
                    done = true;
                }
            }
            if (done) {
                curl_multi_remove_handle(core->multi.get(), core->easy.get());
                in_multi = false;
                break;
            }
            if (progress) {
                last = Clock::now();
                progress = false;
            }
            if (ready()) break;
            if (!paused && Clock::now() - last > idle) {
                Detach();
                return Fail(kErrorTimeout);
            }
            curl_multi_poll(core->multi.get(), nullptr, 0, 100, nullptr);
        }
        return true;
    }

    // Response ended with a failure that is not ours.
    bool TransferFailed() const {
        return done && result != CURLE_OK && !(stopped_at_headers && result == CURLE_WRITE_ERROR);
    }

    bool Read(void* buffer, size_t size, size_t& got);
    size_t OnHeader(const char* data, size_t len);
    size_t OnBody(const char* data, size_t len);
};

namespace {

size_t HeaderThunk(char* data, size_t size, size_t n, void* user) {
    return static_cast<HttpRequest::State*>(user)->OnHeader(data, size * n);
}

size_t BodyThunk(char* data, size_t size, size_t n, void* user) {
    return static_cast<HttpRequest::State*>(user)->OnBody(data, size * n);
}

int ResolverStart(void*, void*, void* user) {
    auto* core = static_cast<HttpCore*>(user);
    core->resolving = true;
    core->Notify(kStatusResolvingName, core->proxy_host.empty() ? core->host : core->proxy_host);
    return 0;
}

curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* addr) {
    auto* core = static_cast<HttpCore*>(user);
    std::string text = AddressTextOf(&addr->addr);
    if (core->resolving) {
        core->Notify(kStatusNameResolved, text);
        core->resolving = false;
    }
    core->Notify(kStatusConnecting, text);
    int fd = ::socket(addr->family, addr->socktype | SOCK_CLOEXEC, addr->protocol);
    if (fd < 0) return CURL_SOCKET_BAD;
    core->new_socket = true;
    return fd;
}

int PreRequest(void* user, char* primary_ip, char*, int, int) {
    auto* core = static_cast<HttpCore*>(user);
    if (core->new_socket) {
        core->new_socket = false;
        core->Notify(kStatusConnected, primary_ip ? primary_ip : "");
    }
    return CURL_PREREQFUNC_OK;
}

bool StartsWithNoCase(const char* data, size_t len, const char* prefix) {
    size_t n = std::strlen(prefix);
    return len >= n && strncasecmp(data, prefix, n) == 0;
}

std::string TrimmedValue(const char* data, size_t len, size_t skip) {
    std::string v(data + skip, len - skip);
    size_t b = v.find_first_not_of(" \t");
    size_t e = v.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : v.substr(b, e - b + 1);
}

// Proxy list entry "host[:port]" (first of a list; "http=" prefixes allowed) as a curl proxy.
bool ProxyUrl(const std::string& list, std::string& url) {
    size_t b = list.find_first_not_of(" ;,");
    if (b == std::string::npos) return false;
    size_t e = list.find_first_of(" ;,", b);
    std::string entry = list.substr(b, e == std::string::npos ? std::string::npos : e - b);
    if (entry.compare(0, 5, "http=") == 0) entry.erase(0, 5);
    if (entry.compare(0, 7, "http://") == 0) entry.erase(0, 7);
    while (!entry.empty() && entry.back() == '/') entry.pop_back();
    if (entry.empty() || entry[0] == ':') return false;
    bool has_port = entry[0] == '[' ? entry.find("]:") != std::string::npos
                                    : entry.find(':') != std::string::npos;
    url = "http://" + entry + (has_port ? "" : ":80");
    return true;
}

}  // namespace

size_t HttpRequest::State::OnHeader(const char* data, size_t len) {
    progress = true;
    if (StartsWithNoCase(data, len, "HTTP/")) {
        // A new response: a redirect target or the answer after 100 Continue.
        const char* sp = static_cast<const char*>(std::memchr(data, ' ', len));
        status = 0;
        if (sp && sp + 4 <= data + len) {
            for (const char* p = sp + 1; p < sp + 4 && *p >= '0' && *p <= '9'; ++p) {
                status = status * 10 + (*p - '0');
            }
        }
        have_length = false;
        length = 0;
        location.clear();
        return len;
    }
    if (StartsWithNoCase(data, len, "Content-Length:")) {
        std::string v = TrimmedValue(data, len, 15);
        uint64_t n = 0;
        bool ok = !v.empty() && v.size() <= 19;
        for (char c : v) ok = ok && c >= '0' && c <= '9' && ((n = n * 10 + (c - '0')), true);
        have_length = ok;
        length = ok ? n : 0;
        return len;
    }
    if (StartsWithNoCase(data, len, "Location:")) {
        location = TrimmedValue(data, len, 9);
        return len;
    }
    if (len <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        if (status >= 100 && status < 200) return len;
        if (status >= 300 && status < 400 && !location.empty()) {
            CurlUrl u;
            std::string absolute = location;
            char* base = nullptr;
            curl_easy_getinfo(core->easy.get(), CURLINFO_EFFECTIVE_URL, &base);
            if (u && base && curl_url_set(u.get(), CURLUPART_URL, base, 0) == CURLUE_OK &&
                curl_url_set(u.get(), CURLUPART_URL, location.c_str(), 0) == CURLUE_OK) {
                char* full = nullptr;
                if (curl_url_get(u.get(), CURLUPART_URL, &full, 0) == CURLUE_OK) {
                    absolute = full;
                    curl_free(full);
                }
                char* h = nullptr;
                if (curl_url_get(u.get(), CURLUPART_HOST, &h, 0) == CURLUE_OK) {
                    core->host = h;
                    curl_free(h);
                }
            }
            ++redirects;
            core->Notify(kStatusRedirect, absolute);
            return len;
        }
        final_headers = true;
        if (!body_wanted && have_length && !head) {
            stopped_at_headers = true;
            return 0;  // ends the transfer before any body byte is taken
        }
    }
    return len;
}

size_t HttpRequest::State::OnBody(const char* data, size_t len) {
    progress = true;
    if (!final_headers) return len;  // the body of a redirect
    if (Buffered() >= kMaxBuffered) {
        paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (body_off > 0 && body_off == body.size()) {
        body.clear();
        body_off = 0;
    }
    body.append(data, len);
    return len;
}

bool HttpRequest::State::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (replay) {
        got = std::min(size, spool.size() - spool_off);
        std::memcpy(buffer, spool.data() + spool_off, got);
        spool_off += got;
        return true;
    }
    if (!sent || core->active != this) return Fail(kErrorIncorrectHandleState);
    if (size == 0) return true;
    while (true) {
        if (Buffered() > 0) {
            got = std::min(size, Buffered());
            std::memcpy(buffer, body.data() + body_off, got);
            body_off += got;
            body_read += got;
            if (paused && Buffered() < kMaxBuffered) {
                paused = false;
                curl_easy_pause(core->easy.get(), CURLPAUSE_CONT);
            }
            return true;
        }
        if (done) {
            if (TransferFailed()) return FailFromCurl(result);
            return true;
        }
        if (paused) {
            paused = false;
            curl_easy_pause(core->easy.get(), CURLPAUSE_CONT);
        }
        if (!Pump([this] { return Buffered() > 0; })) return false;
    }
}

// ---- HttpSession

HttpSession::HttpSession() : core_(std::make_shared<HttpCore>()) {}

HttpSession::~HttpSession() {
    Close();
}

bool HttpSession::Open(const std::string& agent, int access_type, const std::string& proxy) {
    HttpCore& c = *core_;
    if (!InitNetwork()) return c.Fail(kErrorInternal, "curl_global_init");
    if (access_type != kAccessPreconfig && access_type != kAccessDirect &&
        access_type != kAccessProxy) {
        return c.Fail(kErrorInvalidOption, "access type");
    }
    std::string proxy_url;
    if (access_type == kAccessProxy && !ProxyUrl(proxy, proxy_url)) {
        return c.Fail(kErrorInvalidOption, "proxy");
    }
    if (!c.easy.Init() || !c.multi.Init()) return c.Fail(kErrorOutOfHandles);
    CurlOptions o(c.easy.get());
    o.Set(CURLOPT_ERRORBUFFER, c.errbuf);
    o.Set(CURLOPT_USERAGENT, agent);
    o.Set(CURLOPT_NOSIGNAL, 1L);
    o.Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    o.Set(CURLOPT_PATH_AS_IS, 1L);
    o.Set(CURLOPT_FOLLOWLOCATION, 1L);
    o.Set(CURLOPT_MAXREDIRS, 10L);
    o.Set(CURLOPT_SSL_VERIFYPEER, 1L);
    o.Set(CURLOPT_SSL_VERIFYHOST, 2L);
    o.Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    o.Set(CURLOPT_RESOLVER_START_FUNCTION, &ResolverStart);
    o.Set(CURLOPT_RESOLVER_START_DATA, static_cast<void*>(&c));
    o.Set(CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
    o.Set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(&c));
    o.Set(CURLOPT_PREREQFUNCTION, &PreRequest);
    o.Set(CURLOPT_PREREQDATA, static_cast<void*>(&c));
    o.Set(CURLOPT_HEADERFUNCTION, &HeaderThunk);
    o.Set(CURLOPT_WRITEFUNCTION, &BodyThunk);
    // The handle outlives one opening (its connection serves the next run), so every access
    // type sets or clears all it touches.
    c.proxy_host.clear();
    if (access_type == kAccessPreconfig) {
        o.SetNull(CURLOPT_PROXY);  // the environment's
        o.SetNull(CURLOPT_NOPROXY);
    } else if (access_type == kAccessDirect) {
        o.Set(CURLOPT_PROXY, std::string());
    } else if (access_type == kAccessProxy) {
        o.Set(CURLOPT_PROXY, proxy_url);
        o.Set(CURLOPT_NOPROXY, std::string());
        std::string host = proxy_url.substr(7);  // after "http://"
        size_t colon = host[0] == '[' ? host.find("]:") + 1 : host.rfind(':');
        c.proxy_host = host.substr(host[0] == '[' ? 1 : 0, colon - (host[0] == '[' ? 2 : 0));
    }
    if (!o.ok()) return c.Fail(kErrorInternal, o.failed_option());
    c.opened = true;
    c.error = 0;
    c.error_text.clear();
    return true;
}

void HttpSession::SetStatusCallback(StatusCallback callback) {
    core_->callback = std::move(callback);
}

void HttpSession::SetTimeouts(uint32_t connect_ms, uint32_t idle_ms) {
    core_->connect_ms = connect_ms;
    core_->idle_ms = idle_ms;
}

void HttpSession::SetRateFloor(uint32_t bytes_per_second, uint32_t seconds) {
    core_->floor_bps = bytes_per_second;
    core_->floor_seconds = seconds;
}

void HttpSession::SetCaFile(const std::string& path) {
    core_->ca_file = path;
}

void HttpSession::SetInsecure(bool insecure) {
    core_->insecure = insecure;
}

void HttpSession::Cancel() {
    core_->cancelled = true;
    core_->multi.Wakeup();
}

void HttpSession::Close() {
    if (core_->active) core_->active->Detach();
    core_->opened = false;
}

uint32_t HttpSession::LastError() const {
    return core_->error;
}
std::string HttpSession::LastErrorText() const {
    return core_->error_text;
}

std::unique_ptr<HttpConnection> HttpSession::Connect(const std::string& server, uint16_t port,
                                                     const std::string& user,
                                                     const std::string& password) {
    if (!core_->opened) {
        core_->Fail(kErrorIncorrectHandleState);
        return nullptr;
    }
    if (server.empty() || port == 0) {
        core_->Fail(kErrorInvalidUrl);
        return nullptr;
    }
    std::unique_ptr<HttpConnection> conn(new HttpConnection());
    conn->core_ = core_;
    conn->server_ = server;
    conn->port_ = port;
    if (!user.empty()) {
        conn->user_ = user;
        conn->password_ = password;
    }
    return conn;
}

// ---- HttpConnection

HttpConnection::~HttpConnection() = default;
uint32_t HttpConnection::LastError() const {
    return error_;
}
std::string HttpConnection::LastErrorText() const {
    return error_text_;
}

std::unique_ptr<HttpRequest> HttpConnection::OpenRequest(const std::string& object, bool secure) {
    if (!core_->opened) {
        error_ = kErrorIncorrectHandleState;
        error_text_ = ErrorText(error_);
        return nullptr;
    }
    std::unique_ptr<HttpRequest> req(new HttpRequest());
    HttpRequest::State& s = *req->state_;
    s.core = core_;
    s.host = server_;
    s.secure = secure;
    bool v6 = server_.find(':') != std::string::npos;
    std::string path = object.empty() || object[0] != '/' ? "/" + object : object;
    s.url = std::string(secure ? "https://" : "http://") + (v6 ? "[" + server_ + "]" : server_) +
            ":" + std::to_string(port_) + path;
    s.user = user_;
    s.password = password_;
    return req;
}

// ---- HttpRequest

HttpRequest::HttpRequest() : state_(std::make_unique<State>()) {}

HttpRequest::~HttpRequest() {
    Close();
}

uint32_t HttpRequest::LastError() const {
    return state_->error;
}
std::string HttpRequest::LastErrorText() const {
    return state_->error_text;
}

bool HttpRequest::Send(const std::string& headers, bool body_wanted) {
    // A GET stopped after its headers still makes the server push a socket buffer's worth of
    // body (megabytes on a fast link), so the size is asked with a HEAD first. A server that
    // refuses HEAD, or answers it without a length, gets the GET.
    if (!body_wanted) {
        if (!SendOnce(headers, false, true)) return false;
        const int status = state_->status;
        if (state_->have_length && status != 405 && status != 501) return true;
    }
    return SendOnce(headers, body_wanted, false);
}

bool HttpRequest::SendOnce(const std::string& headers, bool body_wanted, bool head) {
    State& s = *state_;
    HttpCore& c = *s.core;
    if (c.cancelled) return s.Fail(kErrorOperationCancelled);
    if (!c.opened) return s.Fail(kErrorIncorrectHandleState);
    if (c.active) c.active->Detach();

    CurlHeaders list;
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find("\r\n", pos);
        std::string line =
            headers.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? headers.size() : end + 2;
        if (line.empty()) continue;
        if (line.find(':') == std::string::npos || line.find('\n') != std::string::npos) {
            return s.Fail(kErrorInvalidOption, "header");
        }
        if (!list.Append(line)) return s.Fail(kErrorOutOfHandles);
    }
    s.headers = std::move(list);

    // Fresh response state.
    s.sent = true;
    s.done = false;
    s.result = CURLE_OK;
    s.body_wanted = body_wanted;
    s.head = head;
    s.stopped_at_headers = false;
    s.paused = false;
    s.redirects = 0;
    s.status = 0;
    s.have_length = false;
    s.length = 0;
    s.location.clear();
    s.final_headers = false;
    s.body.clear();
    s.body_off = 0;
    s.body_read = 0;
    s.replay = false;
    s.spool.clear();
    s.spool_off = 0;
    s.spooled = false;
    c.errbuf[0] = 0;
    c.host = s.host;
    c.resolving = false;

    CurlOptions o(c.easy.get());
    o.Set(CURLOPT_URL, s.url);
    o.Set(CURLOPT_HTTPGET, 1L);
    o.Set(CURLOPT_NOBODY, head ? 1L : 0L);
    o.Set(CURLOPT_HTTPHEADER, s.headers.get());
    o.Set(CURLOPT_HEADERDATA, static_cast<void*>(&s));
    o.Set(CURLOPT_WRITEDATA, static_cast<void*>(&s));
    o.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(c.connect_ms));
    o.Set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(c.floor_bps));
    o.Set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(c.floor_seconds));
    // Never from https down to plain http, and never to another scheme (ftp://, file://...).
    o.Set(CURLOPT_PROTOCOLS_STR, std::string("http,https"));
    o.Set(CURLOPT_REDIR_PROTOCOLS_STR, std::string(s.secure ? "https" : "http,https"));
    if (!c.ca_file.empty()) o.Set(CURLOPT_CAINFO, c.ca_file);
    o.Set(CURLOPT_SSL_VERIFYPEER, c.insecure ? 0L : 1L);
    o.Set(CURLOPT_SSL_VERIFYHOST, c.insecure ? 0L : 2L);
    if (!s.user.empty()) {
        o.Set(CURLOPT_HTTPAUTH, static_cast<long>(s.digest ? CURLAUTH_DIGEST : CURLAUTH_BASIC));
        o.Set(CURLOPT_USERNAME, s.user);
        o.Set(CURLOPT_PASSWORD, s.password);
    } else {
        o.SetNull(CURLOPT_USERNAME);
        o.SetNull(CURLOPT_PASSWORD);
    }
    if (!s.proxy_user.empty()) {
        o.Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        o.Set(CURLOPT_PROXYUSERNAME, s.proxy_user);
        o.Set(CURLOPT_PROXYPASSWORD, s.proxy_password);
    } else {
        o.SetNull(CURLOPT_PROXYUSERNAME);
        o.SetNull(CURLOPT_PROXYPASSWORD);
    }
    if (!o.ok()) return s.Fail(kErrorInternal, o.failed_option());
    CURLMcode mc = curl_multi_add_handle(c.multi.get(), c.easy.get());
    if (mc != CURLM_OK) return s.Fail(kErrorInternal, curl_multi_strerror(mc));
    s.in_multi = true;
    c.active = &s;

    if (!s.Pump([&s] { return s.final_headers; })) return false;
    if (!s.final_headers) {
        if (s.TransferFailed()) return s.FailFromCurl(s.result);
        long code = 0;
        curl_easy_getinfo(c.easy.get(), CURLINFO_HTTP_CONNECTCODE, &code);
        if (code == 0) return s.Fail(kErrorInvalidServerResponse);
        s.status = static_cast<int>(code);  // the proxy refused the tunnel
        s.final_headers = true;
    }
    s.error = 0;
    s.error_text.clear();
    return true;
}

bool HttpRequest::QueryStatusCode(uint32_t& status) {
    State& s = *state_;
    if (!s.sent || !s.final_headers) return s.Fail(kErrorIncorrectHandleState);
    status = static_cast<uint32_t>(s.status);
    return true;
}

bool HttpRequest::QueryContentLength(uint64_t& length) {
    State& s = *state_;
    if (!s.sent || !s.final_headers) return s.Fail(kErrorIncorrectHandleState);
    if (!s.have_length) return s.Fail(kErrorHeaderNotFound);
    length = s.length;
    return true;
}

bool HttpRequest::Read(void* buffer, size_t size, size_t& got) {
    return state_->Read(buffer, size, got);
}

void HttpRequest::SetCredentials(const std::string& user, const std::string& password) {
    state_->user = user;
    state_->password = password;
}

void HttpRequest::SetDigest(bool digest) {
    state_->digest = digest;
}

void HttpRequest::SetProxyCredentials(const std::string& user, const std::string& password) {
    state_->proxy_user = user;
    state_->proxy_password = password;
}

bool HttpRequest::SeekToEnd(uint64_t& position) {
    State& s = *state_;
    if (!s.sent || s.body_read > 0 || s.replay) return s.Fail(kErrorIncorrectHandleState);
    char buf[16384];
    while (true) {
        // One byte past the limit tells a body of exactly the limit from a longer one.
        const size_t room = kMaxUnsizedBody + 1 - s.spool.size();
        size_t got = 0;
        if (!s.Read(buf, std::min(sizeof buf, room), got)) return false;
        if (got == 0) break;
        s.spool.append(buf, got);
        if (s.spool.size() > kMaxUnsizedBody) {
            s.spool.clear();
            s.Detach();
            return s.Fail(kErrorInvalidServerResponse, "body without length over 64 KiB");
        }
    }
    s.spooled = true;
    position = s.spool.size();
    return true;
}

bool HttpRequest::SeekToBegin() {
    State& s = *state_;
    if (!s.spooled) return s.Fail(kErrorIncorrectHandleState);
    s.spool_off = 0;
    s.replay = true;
    return true;
}

bool HttpRequest::QueryHeader(const std::string& name, std::string& value) {
    State& s = *state_;
    if (!s.sent || !s.final_headers || s.core->active != &s) {
        return s.Fail(kErrorIncorrectHandleState);
    }
    value.clear();
    curl_header* h = nullptr;
    size_t amount = 1;
    for (size_t i = 0; i < amount; ++i) {
        if (curl_easy_header(s.core->easy.get(), name.c_str(), i, CURLH_HEADER, -1, &h) !=
            CURLHE_OK) {
            return s.Fail(kErrorHeaderNotFound);
        }
        amount = h->amount;
        value += (i ? ", " : "") + std::string(h->value);
    }
    return true;
}

void HttpRequest::Close() {
    State& s = *state_;
    if (s.core && s.core->active == &s) s.Detach();
    s.sent = false;
}

}  // namespace fennic::inet
