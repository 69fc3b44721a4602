// Requests: sending one on the session's handle and running curl until what the caller waits
// for is in, with the idle limit, Cancel() and curl's failures turned into our errors.
#include <curl/curl.h>

#include <cctype>
#include <chrono>
#include <string>

#include "inet/http_core.h"
#include "inet/text_lines.h"
#include "inet/url.h"

namespace fennic::inet {

namespace {

// OpenSSL's verify results (X509_V_ERR_*) that have a closer meaning.
constexpr long kVerifyOk = 0;
constexpr long kVerifyUnspecified = 1;  // curl's "not yet OK" before its own host name check
constexpr long kVerifyNotYetValid = 9;
constexpr long kVerifyExpired = 10;
constexpr long kVerifyHostnameMismatch = 62;

// The caller's header lines as curl's list; a line without a colon, or with a lone LF in it,
// refuses the whole text.
bool TakeHeaders(HttpRequest::State& s, const std::string& text) {
    CurlHeaders list;
    for (const std::string& line : CrLfLines(text)) {
        if (line.find(':') == std::string::npos || line.find('\n') != std::string::npos) {
            return s.Fail(kErrorInvalidOption, "header");
        }
        if (!list.Append(line)) return s.Fail(kErrorOutOfHandles);
    }
    s.headers = std::move(list);
    return true;
}

// Fresh response state.
void Restart(HttpRequest::State& s, bool body_wanted, bool head) {
    HttpCore& c = *s.core;
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
    s.header_bytes = 0;
    s.headers_too_long = false;
    s.redirect_target.clear();
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
}

// The options of one send on the session's handle.
void SetRequestOptions(HttpRequest::State& s, CurlOptions& o) {
    const HttpCore& c = *s.core;
    o.Set(CURLOPT_URL, s.url);
    o.Set(CURLOPT_HTTPGET, 1L);
    o.Set(CURLOPT_NOBODY, s.head ? 1L : 0L);
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
    if (!c.sigv4.empty()) {
        o.Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_AWS_SIGV4));
        o.Set(CURLOPT_AWS_SIGV4, c.sigv4);
        o.Set(CURLOPT_USERNAME, c.sigv4_key);
        o.Set(CURLOPT_PASSWORD, c.sigv4_secret);
    } else if (!s.user.empty()) {
        o.Set(CURLOPT_HTTPAUTH, static_cast<long>(s.digest ? CURLAUTH_DIGEST : CURLAUTH_BASIC));
        o.Set(CURLOPT_USERNAME, s.user);
        o.Set(CURLOPT_PASSWORD, s.password);
    } else {
        o.SetNull(CURLOPT_USERNAME);
        o.SetNull(CURLOPT_PASSWORD);
    }
    o.Set(CURLOPT_NETRC, static_cast<long>(c.netrc ? CURL_NETRC_OPTIONAL : CURL_NETRC_IGNORED));
    if (c.netrc && !c.netrc_file.empty())
        o.Set(CURLOPT_NETRC_FILE, c.netrc_file);
    else
        o.SetNull(CURLOPT_NETRC_FILE);
    if (!s.proxy_user.empty()) {
        o.Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        o.Set(CURLOPT_PROXYUSERNAME, s.proxy_user);
        o.Set(CURLOPT_PROXYPASSWORD, s.proxy_password);
    } else {
        o.SetNull(CURLOPT_PROXYUSERNAME);
        o.SetNull(CURLOPT_PROXYPASSWORD);
    }
}

// Why a redirect curl would not follow was refused: its scheme, never libcurl's words about it.
std::string RedirectRefusal(bool secure, const std::string& target) {
    const size_t colon = target.find("://");
    std::string scheme = target.substr(0, colon == std::string::npos ? 0 : colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string where = " (" + WithoutSecrets(target).substr(0, 200) + ")";
    if (secure && scheme == "http")
        return "the redirect from https to plain http was refused" + where;
    return "the redirect to " + (scheme.empty() ? std::string("another scheme") : scheme) +
           " was refused: only http and https are followed" + where;
}

}  // namespace

void HttpRequest::State::Detach() {
    if (in_multi) curl_multi_remove_handle(core->multi.get(), core->easy.get());
    in_multi = false;
    if (!done) {
        done = true;
        result = CURLE_ABORTED_BY_CALLBACK;
    }
    if (core->active == this) core->active = nullptr;
}

bool HttpRequest::State::FailFromCurl(CURLcode code) {
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
    // curl's own bound on a header line fails as memory would, before the final headers.
    if (headers_too_long || (code == CURLE_OUT_OF_MEMORY && sent && !final_headers)) {
        return Fail(kErrorInvalidServerResponse, "the answer's headers are too long (more than " +
                                                     std::to_string(kMaxHeaderBytes >> 10) +
                                                     " KiB)");
    }
    // A redirect to a scheme we do not follow.
    if (code == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
        return Fail(kErrorRedirectFailed, RedirectRefusal(secure, redirect_target));
    }
    if (code == CURLE_ABORTED_BY_CALLBACK && core->cancelled) {
        return Fail(kErrorOperationCancelled);
    }
    return Fail(ErrorFromCurlCode(code), detail);
}

bool HttpRequest::State::Pump(bool (*ready)(const State&)) {
    Clock::time_point last = Clock::now();
    const auto idle = std::chrono::milliseconds(core->io_ms);
    while (!ready(*this) && !done) {
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
        if (ready(*this)) break;
        if (!paused && Clock::now() - last > idle) {
            Detach();
            return Fail(kErrorTimeout);
        }
        curl_multi_poll(core->multi.get(), nullptr, 0, 100, nullptr);
    }
    return true;
}

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

    if (!TakeHeaders(s, headers)) return false;
    Restart(s, body_wanted, head);

    CurlOptions o(c.easy.get());
    SetRequestOptions(s, o);
    if (!o.ok()) return s.Fail(kErrorInternal, o.failed_option());
    CURLMcode mc = curl_multi_add_handle(c.multi.get(), c.easy.get());
    if (mc != CURLM_OK) return s.Fail(kErrorInternal, curl_multi_strerror(mc));
    s.in_multi = true;
    c.active = &s;

    if (!s.Pump([](const State& r) { return r.final_headers; })) return false;
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

void HttpRequest::Close() {
    State& s = *state_;
    if (s.core && s.core->active == &s) s.Detach();
    s.sent = false;
}

}  // namespace fennic::inet
