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

// The size in a "213 1234" reply to SIZE: decimal digits only, up to 2^64 - 1.
bool ParseSizeReply(const FtpReply& reply, uint64_t& size);
// 213 to MDTM: "YYYYMMDDHHMMSS" with an optional ".fraction", nothing else.
bool ParseMdtmReply(const FtpReply& reply, std::string& time);

// The port of a "229 ... (|||port|)" reply to EPSV. The delimiter may be any printable byte
// but a digit; the address fields must be empty. The port is 1..65535.
bool ParseEpsvReply(const FtpReply& reply, uint16_t& port);
// The port of a "227 ... (h1,h2,h3,h4,p1,p2)" reply to PASV; every number 0..255, the port
// 1..65535. The address is checked but not returned: the data connection goes to the host of
// the control connection whatever the server names.
bool ParsePasvReply(const FtpReply& reply, uint16_t& port);

}  // namespace fennic::inet
