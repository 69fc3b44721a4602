#include "remote/proxy_fields.h"

#include "app/settings.h"

namespace fennic::remote {

namespace {
std::string ProxyName(const CSettings& s) {
    std::string name = s.m_strProxyStr;
    if (!s.m_strProxyPort.empty()) name += ":" + s.m_strProxyPort;
    return name;
}
}  // namespace

HttpProxyFields HttpProxyFor(const CSettings& settings) {
    HttpProxyFields f;
    if (settings.m_nUseProxy == 0) return f;
    f.accessType = 2;
    f.proxy = ProxyName(settings);
    f.user = settings.m_strProxyUsr;
    f.password = settings.m_strProxyPwd;
    return f;
}

std::string FtpProxyFor(const CSettings& settings) {
    std::string name = ProxyName(settings);
    if (!settings.m_strProxyUsr.empty() && !settings.m_strProxyPwd.empty())
        name = settings.m_strProxyUsr + "@" + settings.m_strProxyPwd + ":" + name;
    return name;
}

bool FtpUseProxy(const CSettings& settings) {
    return settings.m_nUseProxy != 0;
}

}  // namespace fennic::remote
