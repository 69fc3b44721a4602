#include "inet/http_text.h"

#include <strings.h>

#include <ctime>

namespace fennic::inet {

const char* HttpReasonPhrase(uint32_t status) {
    switch (status) {
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 407:
            return "Proxy Authentication Required";
        case 410:
            return "Gone";
        case 416:
            return "Range Not Satisfiable";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "";
    }
}

std::string ServerAnswered(uint32_t status) {
    const std::string reason = HttpReasonPhrase(status);
    return "the server answered " + std::to_string(status) + (reason.empty() ? "" : " " + reason);
}

bool IsIdentityCoding(const std::string& coding) {
    const size_t first = coding.find_first_not_of(" \t");
    if (first == std::string::npos) return true;
    const size_t last = coding.find_last_not_of(" \t");
    const std::string word = coding.substr(first, last - first + 1);
    return strcasecmp(word.c_str(), "identity") == 0;
}

bool IsTransientStatus(uint32_t status) {
    return status == 429 || status == 502 || status == 503 || status == 504;
}

bool RetryAfterSeconds(const std::string& value, int64_t now, uint64_t& seconds) {
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    const std::string v = value.substr(first, value.find_last_not_of(" \t") + 1 - first);
    if (v.find_first_not_of("0123456789") == std::string::npos) {
        if (v.size() > 9) return false;  // more than 31 years: not a wait
        seconds = std::stoull(v);
        return true;
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    std::tm tm{};
    const char* end = ::strptime(v.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (!end || *end != '\0') return false;
    const int64_t at = ::timegm(&tm);
    seconds = at > now ? static_cast<uint64_t>(at - now) : 0;
    return true;
}

}  // namespace fennic::inet
