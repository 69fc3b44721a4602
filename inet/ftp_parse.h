#pragma once
// Pure parsers of what an FTP server sends: replies and directory listing lines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fennic::inet {

// Longest reply we accept (all lines together); longer is a protocol error.
constexpr size_t kMaxReplyBytes = 64 * 1024;

struct FtpReply {
    int code = 0;      // 100..599
    std::string text;  // every line of the reply, each ending in "\r\n"
};

enum class ReplyParse { kIncomplete, kComplete, kMalformed };

// Looks for one complete reply at the start of input (single line "123 text", or multi-line
// "123-..." up to a line starting "123 "). Lines may end in "\r\n" or "\n". On kComplete,
// consumed is the number of bytes it used.
ReplyParse ParseFtpReply(std::string_view input, FtpReply& reply, size_t& consumed);

// One line of a LIST answer, Unix ("-rw-r--r-- 1 u g 1234 Jan 01 12:00 name") or DOS
// ("01-01-20  12:00PM  1234 name", "<DIR>"). False when the line is neither.
struct FtpListEntry {
    std::string name;
    uint64_t size = 0;
    bool is_dir = false;
};
bool ParseListLine(std::string_view line, FtpListEntry& entry);

// The size in a "213 1234" reply to SIZE.
bool ParseSizeReply(const FtpReply& reply, uint64_t& size);

}  // namespace fennic::inet
