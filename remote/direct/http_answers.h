#pragma once
// What the direct road checks of an HTTP answer's headers.

#include <cstdint>
#include <string>

#include "inet/http.h"

namespace fennic::remote {

// What is wrong with an answer's Content-Length for a body of `want` bytes; empty when it fits
// or there is none (the body then ends with the transfer, and is counted as it comes). A
// length past the range would leave the read waiting for bytes that never come.
std::string LengthMismatch(inet::HttpRequest& request, uint64_t want);

}  // namespace fennic::remote
