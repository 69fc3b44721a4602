#pragma once
// The proxy part of the transfer requests, from the settings as they stand at the transfer.

#include <string>

namespace fennic {
class CSettings;
}

namespace fennic::remote {

struct HttpProxyFields {
    int accessType = 0;  // 0 the environment's settings, 2 the named proxy
    std::string proxy;   // "host" or "host:port"; empty without a proxy
    std::string user;
    std::string password;
};

// UseProxy off: access type 0 and empty fields; on: access type 2, ProxyStr[":" ProxyPort],
// ProxyUsr and ProxyPwd.
HttpProxyFields HttpProxyFor(const CSettings& settings);

// The FTP proxy name: ProxyStr[":" ProxyPort], preceded by ProxyUsr "@" ProxyPwd ":" when
// both are set. Only meaningful when FtpUseProxy() is true.
std::string FtpProxyFor(const CSettings& settings);
bool FtpUseProxy(const CSettings& settings);

}  // namespace fennic::remote
