#include "remote/direct/http_answers.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "remote/direct/range_source.h"

namespace fennic::remote {

std::string LengthMismatch(inet::HttpRequest& request, uint64_t want) {
    std::string text;
    if (!request.QueryHeader("Content-Length", text)) return {};
    // Several headers come joined by ", ": each must say the same.
    std::vector<uint64_t> lengths;
    std::string value;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',') {
            if (text[i] != ' ' || !value.empty()) value += text[i];
            continue;
        }
        value.erase(value.find_last_not_of(' ') + 1);
        if (value.empty() || value.size() > 19 ||
            value.find_first_not_of("0123456789") != std::string::npos)
            return "the server's Content-Length is not a number of bytes";
        lengths.push_back(std::stoull(value));
        value.clear();
    }
    for (uint64_t n : lengths) {
        if (n != lengths[0])
            return "the server sent Content-Length headers that differ (" +
                   std::to_string(lengths[0]) + " and " + std::to_string(n) + " bytes)";
    }
    if (lengths[0] == want) return {};
    return "the server's Content-Length of " + std::to_string(lengths[0]) +
           " bytes is not the length of the range asked for (" + std::to_string(want) + " bytes)";
}

bool CheckRequestHeader(const std::string& line, std::string& why) {
    const size_t colon = line.find(':');
    const std::string name = line.substr(0, colon);
    auto token = [](unsigned char c) {
        return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    };
    if (colon == std::string::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), token)) {
        why = "-H takes 'NAME: VALUE', NAME made of letters, digits and !#$%&'*+-.^_`|~";
        return false;
    }
    // A line break would start a header, or a request, of the text's own.
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        why = "-H takes one line: no line breaks or NUL bytes";
        return false;
    }
    for (const char* own :
         {"Range", "If-Range", "Accept-Encoding", "Content-Length", "Transfer-Encoding"}) {
        if (strcasecmp(name.c_str(), own) == 0) {
            why = "-H cannot set " + std::string(own) + ": the program sets it itself";
            return false;
        }
    }
    return true;
}

}  // namespace fennic::remote
