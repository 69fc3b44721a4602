#include "inet/ftp_parse.h"

#include <cctype>
#include <vector>

namespace fennic::inet {

namespace {

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// The three-digit code at the start of line, or -1.
int LineCode(std::string_view line) {
    if (line.size() < 3 || !Digit(line[0]) || !Digit(line[1]) || !Digit(line[2])) return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// Decimal digits only, without overflow.
bool ParseUnsigned(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (!Digit(c)) return false;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

std::vector<std::string_view> Fields(std::string_view line, size_t max_fields,
                                     std::string_view& rest) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (out.size() < max_fields) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ') ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    // The name keeps inner blanks; one separating blank is dropped.
    if (i < line.size() && line[i] == ' ') ++i;
    rest = line.substr(i);
    return out;
}

bool IsPermissions(std::string_view f) {
    if (f.size() < 10) return false;
    if (std::string_view("-dlcbps").find(f[0]) == std::string_view::npos) return false;
    for (size_t i = 1; i < 10; ++i) {
        if (std::string_view("rwxsStTl-").find(f[i]) == std::string_view::npos) return false;
    }
    return true;
}

// The first line of a reply text, without its line end.
std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// The part of line between its first '(' and the ')' after it.
bool InParentheses(std::string_view line, std::string_view& inner) {
    size_t open = line.find('(');
    if (open == std::string_view::npos) return false;
    size_t close = line.find(')', open + 1);
    if (close == std::string_view::npos) return false;
    inner = line.substr(open + 1, close - open - 1);
    return true;
}

bool ParseUnix(std::string_view line, FtpListEntry& entry) {
    std::string_view rest;
    // perms links owner group size month day time|year name
    auto f = Fields(line, 8, rest);
    if (f.size() < 8 || !IsPermissions(f[0])) return false;
    uint64_t size = 0;
    if (!rest.empty() && ParseUnsigned(f[4], size)) {
        // perms links owner group size month day time|year name
    } else if (ParseUnsigned(f[3], size)) {
        // Some servers leave out the group; the name then starts at the eighth field.
        rest = std::string_view(f[7].data(),
                                static_cast<size_t>(line.data() + line.size() - f[7].data()));
    } else {
        return false;
    }
    std::string_view name = rest;
    if (f[0][0] == 'l') {
        size_t arrow = name.find(" -> ");
        if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    if (name.empty()) return false;
    entry.name = std::string(name);
    entry.size = size;
    entry.is_dir = f[0][0] == 'd';
    return true;
}

bool ParseDos(std::string_view line, FtpListEntry& entry) {
    std::string_view rest;
    auto f = Fields(line, 3, rest);
    if (f.size() < 3 || rest.empty()) return false;
    // 01-31-20 and 12:00PM shapes.
    std::string_view date = f[0], time = f[1];
    if (date.size() < 8 || !Digit(date[0]) || (date[2] != '-' && date[2] != '/')) return false;
    if (time.size() < 4 || !Digit(time[0]) || time.find(':') == std::string_view::npos) {
        return false;
    }
    if (f[2] == "<DIR>") {
        entry.is_dir = true;
        entry.size = 0;
    } else {
        uint64_t size = 0;
        if (!ParseUnsigned(f[2], size)) return false;
        entry.is_dir = false;
        entry.size = size;
    }
    entry.name = std::string(rest);
    return true;
}

}  // namespace

ReplyParse ParseFtpReply(std::string_view input, FtpReply& reply, size_t& consumed) {
    size_t pos = 0;
    int code = -1;
    bool multi = false;
    std::string text;
    bool first = true;
    while (true) {
        size_t nl = input.find('\n', pos);
        if (nl == std::string_view::npos) {
            return input.size() > kMaxReplyBytes ? ReplyParse::kMalformed : ReplyParse::kIncomplete;
        }
        if (nl + 1 > kMaxReplyBytes) return ReplyParse::kMalformed;
        std::string_view line = input.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (code < 0) {
            code = LineCode(line);
            if (code < 100 || code > 599) return ReplyParse::kMalformed;
            if (line.size() > 3 && line[3] == '-') {
                multi = true;
            } else if (line.size() > 3 && line[3] != ' ') {
                return ReplyParse::kMalformed;
            }
        }
        text.append(line.data(), line.size());
        text += "\r\n";
        pos = nl + 1;
        bool last = !multi;
        if (multi && !first) {
            // A later line ends the reply when it starts with the same code and a blank.
            last = LineCode(line) == code && (line.size() == 3 || line[3] == ' ');
        }
        first = false;
        if (last) {
            reply.code = code;
            reply.text = std::move(text);
            consumed = pos;
            return ReplyParse::kComplete;
        }
    }
}

bool ParseListLine(std::string_view line, FtpListEntry& entry) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty()) return false;
    FtpListEntry e;
    if (ParseUnix(line, e) || ParseDos(line, e)) {
        entry = std::move(e);
        return true;
    }
    return false;
}

bool ParseSizeReply(const FtpReply& reply, uint64_t& size) {
    if (reply.code != 213) return false;
    std::string_view t(reply.text);
    size_t end = t.find('\r');
    std::string_view line = t.substr(0, end);
    if (line.size() < 5 || line[3] != ' ') return false;
    std::string_view digits = line.substr(4);
    while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
    return ParseUnsigned(digits, size);
}

bool ParseMdtmReply(const FtpReply& reply, std::string& time) {
    if (reply.code != 213) return false;
    std::string_view line = FirstLine(reply.text);
    if (line.size() < 5 || line[3] != ' ') return false;
    std::string_view t = line.substr(4);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    // Fourteen digits, perhaps a fraction: anything else is not a time.
    if (t.size() < 14 || t.size() > 24) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if (!digit && !(i == 14 && t[i] == '.' && t.size() > 15)) return false;
    }
    time.assign(t);
    return true;
}

bool ParseEpsvReply(const FtpReply& reply, uint16_t& port) {
    if (reply.code != 229) return false;
    std::string_view line = FirstLine(reply.text);
    size_t open = line.find('(');
    if (open == std::string_view::npos) return false;
    std::string_view in = line.substr(open + 1);
    // d d d port d ')', the address fields left empty.
    if (in.size() < 6) return false;
    const char d = in[0];
    if (d < 33 || d > 126 || Digit(d) || in[1] != d || in[2] != d) return false;
    size_t end = in.find(d, 3);
    if (end == std::string_view::npos || end + 1 >= in.size() || in[end + 1] != ')') {
        return false;
    }
    std::string_view digits = in.substr(3, end - 3);
    uint64_t v = 0;
    if (digits.size() > 5 || !ParseUnsigned(digits, v) || v == 0 || v > 65535) return false;
    port = static_cast<uint16_t>(v);
    return true;
}

bool ParsePasvReply(const FtpReply& reply, uint16_t& port) {
    if (reply.code != 227) return false;
    std::string_view in;
    if (!InParentheses(FirstLine(reply.text), in)) return false;
    uint64_t n[6] = {};
    for (int i = 0; i < 6; ++i) {
        size_t comma = in.find(',');
        if ((i < 5) == (comma == std::string_view::npos)) return false;  // exactly six numbers
        std::string_view field = in.substr(0, comma);
        if (field.size() > 3 || !ParseUnsigned(field, n[i]) || n[i] > 255) return false;
        in = i < 5 ? in.substr(comma + 1) : std::string_view();
    }
    const uint64_t v = n[4] * 256 + n[5];
    if (v == 0) return false;
    port = static_cast<uint16_t>(v);
    return true;
}

}  // namespace fennic::inet
