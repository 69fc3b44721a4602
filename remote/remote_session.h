#pragma once
// The last accepted address, and the address split that turns the URL field's text into it.

#include <cstdint>
#include <string>

#include "inet/resource_version.h"

namespace fennic {

class CSettings;
class IFrontEnd;

constexpr int32_t kServiceFtp = 1;
constexpr int32_t kServiceHttp = 3;

struct RemoteSession {
    int32_t serviceType = 0;  // kServiceHttp, kServiceFtp; 0 before the first "Get"
    std::string server;       // host from the URL
    std::string object;       // path (with query) on the server, as the split returns it
    std::string user;
    std::string password;
    uint32_t port = 0;  // the URL's port or HttpPort's number; FTP uses the low 16 bits
    // The archive's size and validators when its list was read; an entry's run must show the
    // same, or its bytes would be another archive's.
    inet::ResourceVersion version;
};

// Shown when the path, user or password to be used holds CR, LF or NUL.
extern const char kLineBreakInAddress[];

// The number in a settings text as the C runtime's atoi reads it: blanks, a sign, leading
// decimal digits; 0 when there are none. Saturates instead of overflowing.
int32_t AtoiValue(const std::string& text);

// Splits urlText into session. Only http:// and ftp:// are accepted ("Only http/ftp protocols
// are supported" otherwise). When the URL's user, password or port differ from HttpUsr,
// HttpPwd and HttpPort, the front end is asked which set wins, all three together. A decoded
// path, user or password holding CR, LF or NUL is refused with kLineBreakInAddress. Returns 1
// on success; 0 leaves session as it was (no message when the text cannot be split).
int SplitAddress(const std::string& urlText, const std::string& httpUsr, const std::string& httpPwd,
                 const std::string& httpPort, IFrontEnd& frontEnd, RemoteSession& session);
int SplitAddress(const std::string& urlText, const CSettings& settings, IFrontEnd& frontEnd,
                 RemoteSession& session);

}  // namespace fennic
