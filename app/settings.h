#pragma once
// The eight per-user settings, kept in an INI file and written through at every change.

#include <cstdint>
#include <string>

namespace fennic {

class CSettings {
public:
    virtual ~CSettings() = default;

    std::string m_strHttpPort;   // HttpPort
    std::string m_strHttpUsr;    // HttpUsr
    std::string m_strHttpPwd;    // HttpPwd
    std::string m_strProxyStr;   // ProxyStr
    std::string m_strProxyPort;  // ProxyPort
    std::string m_strProxyUsr;   // ProxyUsr
    std::string m_strProxyPwd;   // ProxyPwd
    int32_t m_nUseProxy = 0;     // UseProxy

    // Reads the eight values, each with its default when missing.
    void LoadSettings();
    // Writes one value of section [Settings] by its name; a failed write is ignored.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInt(const std::string& name, int32_t value);

    // Seven letters from p to y and ".zip"; names drawn within one second are equal.
    std::string MakeTempName();
    // The folder of the program file, without a trailing slash.
    static std::string GetProgramDir();
};

// The one settings object of the program.
CSettings& Settings();

// This run's private temporary folder (mode 0700, removed at exit), with a trailing '/'.
std::string GetTempPath();

}  // namespace fennic
