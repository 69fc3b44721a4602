#include "inet/text_lines.h"

namespace fennic::inet {

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 2;
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace fennic::inet
