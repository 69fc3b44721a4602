#pragma once
// What an object store says in the body of an error answer: an expired presigned address gets
// "403 Forbidden" and, in the body, why. Only the known shapes are read, from a bounded start
// of the body; any other body stays unshown.

#include <cstddef>
#include <string>

namespace fennic::inet {
class HttpRequest;
}

namespace fennic::remote {

// No more of an error body is ever read.
constexpr size_t kErrorBodyBytes = 4096;

// "Code: Message" from an XML body <Error><Code>..</Code><Message>..</Message></Error> or a JSON
// body {"error": {"code": .., "message": ..}} or {"code": .., "message": ..}; the code or the
// message alone when only one is there; "" for any other body. The server's text comes out as
// one line: white space runs become one blank, each part is cut to a bound, and every control
// character is escaped for the terminal.
std::string ErrorBodyCause(const std::string& body);

// The cause of an error answer whose Content-Type is absent or names XML or JSON, from at most
// kErrorBodyBytes of its body, read for two seconds at most (one read that waits is bounded by
// the session's idle limit); "" otherwise.
std::string ReadErrorBodyCause(inet::HttpRequest& request);

}  // namespace fennic::remote
