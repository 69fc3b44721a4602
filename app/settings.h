#pragma once
// The eight per-user settings, kept in an INI file of the user's own and written through at
// every change.

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

    // Reads the eight values, each with its default when missing; writes nothing. A settings
    // file or folder that is not safe to use (a link, another user's, writable by others) is
    // neither read nor written: the defaults are used and Problem() says why.
    void LoadSettings();
    const std::string& Problem() const { return m_strProblem; }
    // Writes one value of section [Settings] by its name; a failed write is ignored.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInt(const std::string& name, int32_t value);

    // Seven letters from p to y and ".zip"; names drawn within one second are equal.
    std::string MakeTempName();
    // The folder of the program file, without a trailing slash.
    static std::string GetProgramDir();
    // An installed folder as the program finds it: an absolute path as it is, a relative one
    // from programDir (so that a moved install tree still works).
    static std::string FromProgramDir(const std::string& programDir, const std::string& path);

    // The INI file: $XDG_CONFIG_HOME/FennicExpl/FennicExpl.ini, ~/.config/... when unset.
    static std::string ProfilePath();
    // One value of a section; the default when the value, the section or the file is missing
    // or unreadable. An integer that is not a decimal number also gives the default.
    static std::string ReadString(const std::string& section, const std::string& name,
                                  const std::string& def);
    static int32_t ReadInt(const std::string& section, const std::string& name, int32_t def);
    // Writes one value (the section is created when missing); false when the file could not be
    // replaced. Other sections and values are kept.
    static bool WriteValue(const std::string& section, const std::string& name,
                           const std::string& value);
    // Makes sure a section exists in the file, creating the file when missing (the window does
    // this at its start; the command line never).
    static void BindSection(const std::string& section);

private:
    std::string m_strProblem;
};

// The one settings object of the program.
CSettings& Settings();

// This run's private temporary folder (mode 0700, removed at exit), with a trailing '/'.
// Empty when it could not be made: callers then report TempPathProblem() and give up.
std::string GetTempPath();
// Why the private temporary folder could not be made; empty when it was.
std::string TempPathProblem();

}  // namespace fennic
