#pragma once
// Status notifications that sessions hand to their callback while they work.

#include <cstdint>
#include <functional>
#include <string>

namespace fennic::inet {

enum StatusCode : uint32_t {
    kStatusResolvingName = 10,  // info: the host name
    kStatusNameResolved = 11,   // info: the address text ("127.0.0.1")
    kStatusConnecting = 20,     // info: the address text
    kStatusConnected = 21,      // info: the address text
    kStatusRedirect = 110,      // info: the absolute URL redirected to (HTTP only)
};

// Called on the thread that makes the session call which caused the notification.
using StatusCallback = std::function<void(uint32_t status, const std::string& info)>;

}  // namespace fennic::inet
