#include "remote/remote_session.h"

#include <cctype>
#include <climits>

#include "app/frontend.h"
#include "app/settings.h"
#include "inet/url.h"

namespace fennic {

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
    session.serviceType = serviceType;
    session.server = parts.host;
    session.object = parts.path;

    const int32_t settingsPort = AtoiValue(httpPort);
    const bool same = parts.user == httpUsr && parts.password == httpPwd &&
                      static_cast<int32_t>(parts.port) == settingsPort;
    if (same || frontEnd.MessageBox(
                    "Should i use entered port/user/pass rather than those used in Settings",
                    "Differeny settings", MB_YESNO) == IDYES) {
        session.user = parts.user;
        session.password = parts.password;
        session.port = parts.port;
    } else {
        session.user = httpUsr;
        session.password = httpPwd;
        session.port = static_cast<uint32_t>(settingsPort);
    }
    return 1;
}

int SplitAddress(const std::string& urlText, const CSettings& settings, IFrontEnd& frontEnd,
                 RemoteSession& session) {
    return SplitAddress(urlText, settings.m_strHttpUsr, settings.m_strHttpPwd,
                        settings.m_strHttpPort, frontEnd, session);
}

}  // namespace fennic
