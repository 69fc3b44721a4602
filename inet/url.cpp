#include "inet/url.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace fennic::inet {

namespace {

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

bool IsUnsafe(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return true;
    switch (c) {
        case '<':
        case '>':
        case '"':
        case '{':
        case '}':
        case '|':
        case '\\':
        case '^':
        case '`':
            return true;
        default:
            return false;
    }
}

// Encodes unsafe bytes of text; '%' stays only when it starts a valid escape.
std::string Encode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool escape_start =
            c == '%' && i + 2 < text.size() && IsHex(text[i + 1]) && IsHex(text[i + 2]);
        if (IsUnsafe(c) || (c == '%' && !escape_start)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Scheme letters up to the first ':'; false when text does not start with one.
bool ParseScheme(const std::string& text, std::string& scheme, size_t& rest) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    size_t i = 1;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ':') break;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
        ++i;
    }
    if (i >= text.size()) return false;
    scheme.clear();
    for (size_t k = 0; k < i; ++k) {
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(text[k])));
    }
    rest = i + 1;
    return true;
}

Scheme SchemeOf(const std::string& name) {
    if (name == "http") return Scheme::kHttp;
    if (name == "ftp") return Scheme::kFtp;
    if (name == "https") return Scheme::kHttps;
    if (name == "gopher") return Scheme::kGopher;
    if (name == "file") return Scheme::kFile;
    if (name == "news") return Scheme::kNews;
    if (name == "mailto") return Scheme::kMailto;
    return Scheme::kUnknown;
}

bool NeedsHost(Scheme s) {
    return s == Scheme::kHttp || s == Scheme::kHttps || s == Scheme::kFtp || s == Scheme::kGopher;
}

// Removes "." and ".." segments of an absolute path.
std::string RemoveDotSegments(const std::string& path) {
    std::vector<std::string> out;
    size_t i = 0;
    bool trailing_slash = false;
    while (i < path.size()) {
        size_t j = path.find('/', i + 1);
        if (j == std::string::npos) j = path.size();
        std::string seg = path.substr(i + 1, j - i - 1);  // path[i] is '/'
        trailing_slash = false;
        if (seg == ".") {
            trailing_slash = true;
        } else if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailing_slash = true;
        } else {
            out.push_back(seg);
        }
        i = j;
    }
    std::string result;
    for (const auto& seg : out) result += "/" + seg;
    if (trailing_slash || result.empty()) result += "/";
    return result;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool ValidHost(const std::string& host, bool bracketed) {
    for (char ch : host) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool ok = std::isalnum(c) || c == '-' || c == '.' || c == '_' ||
                  (bracketed && (c == ':' || c == '%'));
        if (!ok) return false;
    }
    return true;
}

}  // namespace

uint16_t DefaultPort(Scheme scheme) {
    switch (scheme) {
        case Scheme::kHttp:
            return 80;
        case Scheme::kFtp:
            return 21;
        case Scheme::kHttps:
            return 443;
        case Scheme::kGopher:
            return 70;
        case Scheme::kNews:
            return 119;
        default:
            return 0;
    }
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && IsHex(text[i + 1]) && IsHex(text[i + 2])) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool LocalPathOfFileUrl(const std::string& text, std::string& path) {
    if (text.size() < 6 || !std::equal(text.begin(), text.begin() + 5, "file:", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
        return false;
    }
    std::string rest = text.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) return false;
        const std::string host = rest.substr(2, slash - 2);
        if (!host.empty() && host != "localhost") return false;
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/') return false;
    // A query or fragment is not part of a file's name.
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string decoded = PercentDecode(rest);
    if (decoded.find('\0') != std::string::npos) return false;
    path = std::move(decoded);
    return true;
}

bool CanonicalizeUrl(const std::string& url, std::string& canonical) {
    std::string text = Trim(url);
    std::string scheme;
    size_t rest = 0;
    if (!ParseScheme(text, scheme, rest)) return false;
    std::string out = scheme + ":";
    if (text.compare(rest, 2, "//") != 0) {
        out += Encode(text.substr(rest));
        canonical = out;
        return true;
    }
    size_t auth_begin = rest + 2;
    size_t auth_end = text.find_first_of("/?#", auth_begin);
    if (auth_end == std::string::npos) auth_end = text.size();
    out += "//" + Encode(text.substr(auth_begin, auth_end - auth_begin));
    size_t path_end = text.find_first_of("?#", auth_end);
    if (path_end == std::string::npos) path_end = text.size();
    std::string path = text.substr(auth_end, path_end - auth_end);
    out += RemoveDotSegments(Encode(path.empty() ? "/" : path));
    out += Encode(text.substr(path_end));
    canonical = out;
    return true;
}

bool CrackUrl(const std::string& canonical, UrlParts& parts) {
    UrlParts p;
    size_t rest = 0;
    if (!ParseScheme(canonical, p.scheme_name, rest)) return false;
    p.scheme = SchemeOf(p.scheme_name);
    p.port = DefaultPort(p.scheme);
    std::string tail;
    if (canonical.compare(rest, 2, "//") == 0) {
        size_t auth_begin = rest + 2;
        size_t auth_end = canonical.find_first_of("/?#", auth_begin);
        if (auth_end == std::string::npos) auth_end = canonical.size();
        std::string auth = canonical.substr(auth_begin, auth_end - auth_begin);
        size_t at = auth.rfind('@');
        if (at != std::string::npos) {
            std::string info = auth.substr(0, at);
            auth = auth.substr(at + 1);
            size_t colon = info.find(':');
            std::string user = info.substr(0, colon);
            std::string password = colon == std::string::npos ? "" : info.substr(colon + 1);
            if (user.size() > kMaxUser || password.size() > kMaxPassword) return false;
            p.user = PercentDecode(user);
            p.password = PercentDecode(password);
        }
        std::string port_text;
        bool has_port = false;
        bool bracketed = !auth.empty() && auth[0] == '[';
        if (bracketed) {
            size_t close = auth.find(']');
            if (close == std::string::npos) return false;
            p.host = auth.substr(1, close - 1);
            std::string after = auth.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return false;
                has_port = true;
                port_text = after.substr(1);
            }
            if (p.host.empty()) return false;
        } else {
            size_t colon = auth.find(':');
            p.host = auth.substr(0, colon);
            if (colon != std::string::npos) {
                has_port = true;
                port_text = auth.substr(colon + 1);
            }
        }
        if (!ValidHost(p.host, bracketed)) return false;
        if (p.host.empty() && NeedsHost(p.scheme)) return false;
        if (p.host.size() > kMaxHost) return false;
        if (has_port && !port_text.empty()) {
            if (port_text.size() > 5) return false;
            unsigned long value = 0;
            for (char c : port_text) {
                if (c < '0' || c > '9') return false;
                value = value * 10 + static_cast<unsigned long>(c - '0');
            }
            if (value == 0 || value > 65535) return false;
            p.port = static_cast<uint16_t>(value);
            p.port_given = true;
        }
        tail = canonical.substr(auth_end);
    } else {
        // Without "//" only the known opaque forms (mailto:x@y, news:group) are addresses.
        if (p.scheme == Scheme::kUnknown || NeedsHost(p.scheme)) return false;
        tail = canonical.substr(rest);
    }
    size_t hash = tail.find('#');
    if (hash != std::string::npos) tail.resize(hash);
    if (tail.empty() || tail[0] == '?') tail.insert(0, "/");
    if (tail.size() > kMaxPath) return false;
    p.path = tail;
    parts = p;
    return true;
}

bool SplitUrl(const std::string& url, UrlParts& parts) {
    std::string canonical;
    return CanonicalizeUrl(url, canonical) && CrackUrl(canonical, parts);
}

namespace {

std::string MaskPassword(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t colon = url.find(':', start);
    auto masked = [&](size_t at) { return url.substr(0, colon + 1) + "***" + url.substr(at); };
    // The last '@' of the authority ends the user part; a password may hold '@' itself.
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = end == start ? std::string::npos : url.rfind('@', end - 1);
    if (at != std::string::npos && at >= start && colon != std::string::npos && colon < at)
        return masked(at);
    // A password holding '/', '?' or '#' ends the authority early, and the address then does
    // not split as typed: everything up to the last '@' may be secret.
    const size_t last = url.rfind('@');
    UrlParts parts;
    if (last == std::string::npos || last < start || colon == std::string::npos || colon > last ||
        (SplitUrl(url, parts) && parts.password.empty())) {
        return url;
    }
    return masked(last);
}

// A query or fragment parameter carries a secret when its name, decoded and in any case, holds
// one of these: signatures (X-Amz-Signature, Signature, Azure's sig), keys and credentials
// (X-Amz-Credential, AWSAccessKeyId, Key-Pair-Id, api_key), tokens (X-Amz-Security-Token,
// access_token), passwords, authorizations and sessions. A harmless parameter caught by the
// rule costs a word of a message; a secret missed costs the secret.
bool IsSecretName(const std::string& name) {
    std::string lower = PercentDecode(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const kWords[] = {"sig",  "key", "credential", "token",  "secret",
                                         "pass", "pwd", "auth",       "session"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* word) { return lower.find(word) != std::string::npos; });
}

}  // namespace

std::string WithoutSecretQuery(const std::string& target) {
    const size_t query = target.find_first_of("?#");
    if (query == std::string::npos) return target;
    std::string out = target.substr(0, query + 1);
    // Parameters are split at '&' and at the start of the fragment.
    for (size_t at = query + 1; at <= target.size();) {
        const size_t end = std::min(target.find_first_of("&#", at), target.size());
        const std::string param = target.substr(at, end - at);
        const size_t eq = param.find('=');
        if (eq != std::string::npos && eq + 1 < param.size() && IsSecretName(param.substr(0, eq)))
            out += param.substr(0, eq + 1) + "***";
        else
            out += param;
        if (end == target.size()) break;
        out += target[end];
        at = end + 1;
    }
    return out;
}

std::string WithoutSecrets(const std::string& url) {
    return WithoutSecretQuery(MaskPassword(url));
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool HasLineBreak(const UrlParts& parts) {
    return HasLineBreak(PercentDecode(parts.path)) || HasLineBreak(parts.user) ||
           HasLineBreak(parts.password);
}

}  // namespace fennic::inet
