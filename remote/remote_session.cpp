#include "remote/remote_session.h"

#include <cctype>
#include <climits>

#include "app/frontend.h"
#include "app/settings.h"
#include "inet/url.h"

namespace fennic {

extern const char kLineBreakInAddress[] =
    "The address or its user name or password holds a line break or NUL character; nothing "
    "was sent";

int32_t AtoiValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) break;  // saturated below
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int SplitAddress(const std::string& urlText, const std::string& httpUsr, const std::string& httpPwd,
                 const std::string& httpPort, IFrontEnd& frontEnd, RemoteSession& session) {
    std::string canonical;
    inet::UrlParts parts;
    if (!inet::CanonicalizeUrl(urlText, canonical) || !inet::CrackUrl(canonical, parts)) return 0;

    int32_t serviceType = 0;
    if (parts.scheme == inet::Scheme::kHttp) {
        serviceType = kServiceHttp;
    } else if (parts.scheme == inet::Scheme::kFtp) {
        serviceType = kServiceFtp;
    } else {
        frontEnd.MessageBox("Only http/ftp protocols are supported", std::string(), MB_OK);
        return 0;
    }
    RemoteSession next;
    next.serviceType = serviceType;
    next.server = parts.host;
    next.object = parts.path;

    const int32_t settingsPort = AtoiValue(httpPort);
    const bool same = parts.user == httpUsr && parts.password == httpPwd &&
                      static_cast<int32_t>(parts.port) == settingsPort;
    if (same || frontEnd.Ask(IFrontEnd::Question::kUseAddressCredentials,
                             "Should i use entered port/user/pass rather than those used in "
                             "Settings",
                             "Differeny settings", MB_YESNO) == IDYES) {
        next.user = parts.user;
        next.password = parts.password;
        next.port = parts.port;
    } else {
        next.user = httpUsr;
        next.password = httpPwd;
        next.port = static_cast<uint32_t>(settingsPort);
    }
    // A line break in the path or the credentials would reach the server as a command of its
    // own; nothing is sent for such an address.
    if (inet::HasLineBreak(inet::PercentDecode(next.object)) || inet::HasLineBreak(next.user) ||
        inet::HasLineBreak(next.password)) {
        frontEnd.MessageBox(kLineBreakInAddress, std::string(), MB_OK);
        return 0;
    }
    session = next;
    return 1;
}

int SplitAddress(const std::string& urlText, const CSettings& settings, IFrontEnd& frontEnd,
                 RemoteSession& session) {
    return SplitAddress(urlText, settings.m_strHttpUsr, settings.m_strHttpPwd,
                        settings.m_strHttpPort, frontEnd, session);
}

}  // namespace fennic
