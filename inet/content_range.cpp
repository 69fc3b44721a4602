#include "inet/content_range.h"

namespace fennic::inet {
namespace {

// A decimal number at text[pos..], advancing pos; false for no digit or overflow.
bool Number(const std::string& text, size_t& pos, uint64_t& value) {
    const size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        const auto digit = static_cast<uint64_t>(text[pos] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
        ++pos;
    }
    return pos != start;
}

bool Unit(const std::string& text, size_t& pos) {
    static const char kUnit[] = "bytes ";
    if (text.compare(0, sizeof kUnit - 1, kUnit) != 0) return false;
    pos = sizeof kUnit - 1;
    return true;
}

}  // namespace

bool ParseContentRange(const std::string& text, ContentRange& range) {
    size_t pos = 0;
    if (!Unit(text, pos) || !Number(text, pos, range.first)) return false;
    if (pos >= text.size() || text[pos++] != '-' || !Number(text, pos, range.last)) return false;
    if (pos >= text.size() || text[pos++] != '/') return false;
    if (range.first > range.last) return false;
    if (text.compare(pos, std::string::npos, "*") == 0) {
        range.totalKnown = false;
        range.total = 0;
        return true;
    }
    range.totalKnown = true;
    if (!Number(text, pos, range.total)) return false;
    return pos == text.size() && range.last < range.total;
}

bool ParseUnsatisfiedRange(const std::string& text, uint64_t& total) {
    size_t pos = 0;
    if (!Unit(text, pos) || text.compare(pos, 2, "*/") != 0) return false;
    pos += 2;
    return Number(text, pos, total) && pos == text.size();
}

}  // namespace fennic::inet
