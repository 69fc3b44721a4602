#pragma once
// The address split: canonical form of a typed URL and its parts.

#include <cstdint>
#include <string>

namespace fennic::inet {

enum class Scheme { kUnknown, kHttp, kFtp, kHttps, kGopher, kFile, kNews, kMailto };

// Field limits of the split, in characters (the buffers hold one more for the terminator).
constexpr size_t kMaxHost = 255;
constexpr size_t kMaxPath = 2047;
constexpr size_t kMaxUser = 127;
constexpr size_t kMaxPassword = 127;

struct UrlParts {
    std::string scheme_name;  // lower case, without ':' ("http", "foo", ...)
    Scheme scheme = Scheme::kUnknown;
    std::string host;         // as typed (IPv6 literals without brackets)
    uint16_t port = 0;        // the URL's port, else the scheme's default (0 when it has none)
    bool port_given = false;  // the URL named a port
    std::string user;         // percent-decoded; empty when absent
    std::string password;     // percent-decoded; empty when absent
    std::string path;         // path with query, still percent-encoded; "/" for a bare host
};

// Default port of a known scheme: 80 http, 21 ftp, 443 https, 70 gopher, 119 news; 0 otherwise.
uint16_t DefaultPort(Scheme scheme);

// Percent-encodes unsafe characters (space, control, non-ASCII, "<>\"{}|\\^`", a '%' not
// followed by two hex digits), keeps existing %XX, lower-cases the scheme, resolves "." and
// ".." path segments and gives a bare "http://host" its "/". False on malformed text.
bool CanonicalizeUrl(const std::string& url, std::string& canonical);

// Splits a canonical URL. Fails on malformed text (no scheme, an unknown scheme without "//",
// empty host for http/https/ftp/gopher, bad port) and on fields longer than the limits above.
// Unknown schemes written with "//" crack, so callers can refuse them by scheme.
bool CrackUrl(const std::string& canonical, UrlParts& parts);

// CanonicalizeUrl then CrackUrl.
bool SplitUrl(const std::string& url, UrlParts& parts);

// Decodes %XX escapes; malformed escapes are kept as they are.
std::string PercentDecode(const std::string& text);

// The path a file: URL names on this machine (file:/p, file:///p, file://localhost/p), decoded;
// false for any other text, another host, or a path that would decode to a NUL.
bool LocalPathOfFileUrl(const std::string& text, std::string& path);

// The URL text as typed, with the password of its user part and the values of its secret query
// parameters (signatures, keys, credentials, tokens: the rule is in url.cpp) replaced by "***",
// for messages and logs; text without either comes back unchanged.
std::string WithoutSecrets(const std::string& url);
// A request target ("/a.zip?X-Amz-Signature=...") with its secret query values masked the same
// way.
std::string WithoutSecretQuery(const std::string& target);

// True when text holds CR, LF or NUL: such a text would end a protocol line early and let the
// rest pass as a command or header of its own.
bool HasLineBreak(const std::string& text);

// True when the decoded path, the user or the password of parts holds CR, LF or NUL.
bool HasLineBreak(const UrlParts& parts);

}  // namespace fennic::inet
