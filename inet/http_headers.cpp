// The response's headers as curl hands them over: status, length and redirects as they come,
// and the queries of the final response.
#include <curl/curl.h>
#include <strings.h>

#include <cstring>

#include "inet/http_core.h"

namespace fennic::inet {

namespace {

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

// The absolute form of a redirect's Location, taken against the address just asked; its host
// is the one the next resolving notification names.
std::string RedirectTarget(HttpCore& core, const std::string& location) {
    CurlUrl u;
    std::string absolute = location;
    char* base = nullptr;
    curl_easy_getinfo(core.easy.get(), CURLINFO_EFFECTIVE_URL, &base);
    if (u && base && curl_url_set(u.get(), CURLUPART_URL, base, 0) == CURLUE_OK &&
        curl_url_set(u.get(), CURLUPART_URL, location.c_str(), 0) == CURLUE_OK) {
        char* full = nullptr;
        if (curl_url_get(u.get(), CURLUPART_URL, &full, 0) == CURLUE_OK) {
            absolute = full;
            curl_free(full);
        }
        char* h = nullptr;
        if (curl_url_get(u.get(), CURLUPART_HOST, &h, 0) == CURLUE_OK) {
            core.host = h;
            curl_free(h);
        }
    }
    return absolute;
}

}  // namespace

size_t HttpRequest::State::OnHeader(const char* data, size_t len) {
    progress = true;
    const bool statusLine = StartsWithNoCase(data, len, "HTTP/");
    if (statusLine) header_bytes = 0;
    header_bytes += len;
    if (header_bytes > kMaxHeaderBytes) {
        headers_too_long = true;
        return 0;  // ends the transfer
    }
    if (statusLine) {
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
            redirect_target = RedirectTarget(*core, location);
            ++redirects;
            core->Notify(kStatusRedirect, redirect_target);
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

}  // namespace fennic::inet
