#pragma once
// The words the program uses about HTTP answers, and the agent text it sends.

#include <cstdint>
#include <string>

namespace fennic::inet {

constexpr char kUserAgent[] = "Microsoft Internet Explorer";

// The reason phrase of a status code in our own words (the server's text is not shown); empty
// for codes not in the table.
const char* HttpReasonPhrase(uint32_t status);
// "the server answered 404 Not Found" ("the server answered 599" for a code not in the table).
std::string ServerAnswered(uint32_t status);
// A Content-Encoding value that leaves the bytes as stored: empty or "identity" (any case,
// blanks around it). We never ask for another, so any other is bytes that are not the file's.
bool IsIdentityCoding(const std::string& coding);
// A status worth asking again for the same bytes: 429, 502, 503, 504.
bool IsTransientStatus(uint32_t status);
// The wait a Retry-After value asks for, in seconds from `now` (delay seconds, or an HTTP date
// in the IMF-fixdate form); false for anything else. A date already past is 0.
bool RetryAfterSeconds(const std::string& value, int64_t now, uint64_t& seconds);

}  // namespace fennic::inet
