#pragma once
// The Content-Range header of a 206 or 416 answer, read strictly: a server's text is outside
// bytes like any other.

#include <cstdint>
#include <string>

namespace fennic::inet {

struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;  // inclusive
    uint64_t total = 0;
    bool totalKnown = true;  // false for "bytes FIRST-LAST/*"
    uint64_t Length() const { return last - first + 1; }
};

// "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL, decimal numbers that fit 64 bits. TOTAL
// may be "*" (the size unknown to the server), which leaves totalKnown false; callers that
// need the archive's size from the answer refuse that.
bool ParseContentRange(const std::string& text, ContentRange& range);
// "bytes */TOTAL" of a 416 answer.
bool ParseUnsatisfiedRange(const std::string& text, uint64_t& total);

}  // namespace fennic::inet
