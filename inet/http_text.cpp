#include "inet/http_text.h"

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

}  // namespace fennic::inet
