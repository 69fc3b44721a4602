// The HTTP session (its curl handle and the callbacks that turn curl's steps into status
// notifications) and the connection that names one server.
#include <curl/curl.h>
#include <sys/socket.h>

#include <mutex>

#include "inet/http_core.h"

namespace fennic::inet {

namespace {

std::once_flag g_init_once;
bool g_init_ok = false;

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

bool InitNetwork() {
    std::call_once(g_init_once, [] { g_init_ok = curl_global_init(CURL_GLOBAL_DEFAULT) == 0; });
    return g_init_ok;
}

std::string RangeHeader(uint32_t start, uint32_t end) {
    return "Range: bytes=" + std::to_string(start) + "-" + std::to_string(end) + "\r\n";
}

HttpSession::HttpSession() : HttpSession(std::make_shared<HttpCore>()) {}

HttpSession::HttpSession(std::shared_ptr<HttpCore> core)
    : SessionSetters(*core), core_(std::move(core)) {}

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

void HttpSession::SetCaFile(const std::string& path) {
    core_->ca_file = path;
}

void HttpSession::SetInsecure(bool insecure) {
    core_->insecure = insecure;
}

void HttpSession::SetNetrc(const std::string& file) {
    core_->netrc = true;
    core_->netrc_file = file;
}

void HttpSession::SetAwsSigV4(const std::string& provider, const std::string& key,
                              const std::string& secret) {
    core_->sigv4 = provider;
    core_->sigv4_key = key;
    core_->sigv4_secret = secret;
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

}  // namespace fennic::inet
