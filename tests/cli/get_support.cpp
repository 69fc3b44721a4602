#include "tests/cli/get_support.h"

#include <cstdio>

namespace fennic::test {

std::string GetTest::MakeCommand(const std::string& dir) {
    return "/usr/bin/python3 " + Quote(std::string(FENNIC_CLI_TEST_DIR) + "/make_get_archives.py") +
           " " + Quote(dir) + " " +
           Quote(std::string(FENNIC_SOURCE_DIR) + "/tests/decompress/write_zip.py");
}

bool RangeAnswer(const std::string& body, const std::string& range, std::string& head,
                 std::string& part) {
    unsigned long long first = 0, last = 0;
    if (std::sscanf(range.c_str(), "bytes=-%llu", &last) == 1 && last <= body.size()) {
        first = body.size() - last;
        last = body.size() - 1;
    } else if (std::sscanf(range.c_str(), "bytes=%llu-%llu", &first, &last) != 2 || first > last ||
               last >= body.size()) {
        return false;
    }
    part = body.substr(first, last - first + 1);
    head = "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(part.size()) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(body.size()) + "\r\n\r\n";
    return true;
}

}  // namespace fennic::test
