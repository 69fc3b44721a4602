// Reply, size, passive-port and listing-line parsers on arbitrary server bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "inet/ftp_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    // Replies one after another, as the control connection would deliver them.
    std::string_view rest = in;
    while (!rest.empty()) {
        fennic::inet::FtpReply reply;
        size_t used = 0;
        if (fennic::inet::ParseFtpReply(rest, reply, used) != fennic::inet::ReplyParse::kComplete) {
            break;
        }
        if (used == 0 || used > rest.size()) __builtin_trap();
        if (reply.code < 100 || reply.code > 599) __builtin_trap();
        uint64_t n = 0;
        fennic::inet::ParseSizeReply(reply, n);
        // Passive replies: whatever they say, a port we would connect to is never 0.
        uint16_t port = 0;
        if (fennic::inet::ParseEpsvReply(reply, port) && port == 0) __builtin_trap();
        port = 0;
        if (fennic::inet::ParsePasvReply(reply, port) && port == 0) __builtin_trap();
        rest.remove_prefix(used);
    }
    // Every line as a listing line.
    size_t pos = 0;
    while (pos <= in.size()) {
        size_t nl = in.find('\n', pos);
        if (nl == std::string_view::npos) nl = in.size();
        fennic::inet::FtpListEntry entry;
        if (fennic::inet::ParseListLine(in.substr(pos, nl - pos), entry) && entry.name.empty()) {
            __builtin_trap();
        }
        pos = nl + 1;
    }
    return 0;
}
