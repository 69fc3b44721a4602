#include "app/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "fs/file_io.h"
#include "fs/output_file.h"

namespace fennic {
namespace {

constexpr const char* kSection = "Settings";
// A settings file this large is not ours: it is read as empty and never rewritten.
constexpr size_t kMaxFileSize = 4 << 20;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string ConfigDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base = (xdg && *xdg == '/') ? xdg : HomeDir() + "/.config";
    return base + "/FennicExpl";
}

// Creates every missing folder of `path` (the last ones private to the user).
bool MakeDirs(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class Load { kMissing, kRead, kUnreadable, kRefused };

const char kNotUsed[] = "; it is neither read nor written, and the defaults are used";

// Why the settings folder may not hold the settings; empty when it may (or is still missing:
// it is then made private to the user).
std::string FolderProblem(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return "the settings folder " + dir + " cannot be examined: " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) return dir + " is not a folder";
    // Whoever can write the folder can swap the file for a link to any file of ours.
    if (st.st_uid != ::geteuid()) return "the settings folder " + dir + " belongs to another user";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "others can write the settings folder " + dir;
    return {};
}

// The file's lines when it is a regular file of the user's own that no one else can write,
// opened without following a link. `problem` says why it was refused.
Load ReadLines(const std::string& path, std::vector<std::string>& lines, std::string* problem) {
    lines.clear();
    auto refuse = [&](std::string why) {
        if (problem) *problem = std::move(why);
        return Load::kRefused;
    };
    const size_t slash = path.rfind('/');
    if (std::string why = FolderProblem(path.substr(0, slash)); !why.empty()) return refuse(why);
    fs::UniqueFd fd = fs::Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) {
        if (errno == ENOENT) return Load::kMissing;
        if (errno == ELOOP) return refuse("the settings file " + path + " is a symbolic link");
        return Load::kUnreadable;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return Load::kUnreadable;
    if (!S_ISREG(st.st_mode)) return refuse("the settings file " + path + " is not a file");
    if (st.st_uid != ::geteuid())
        return refuse("the settings file " + path + " belongs to another user");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return refuse("others can write the settings file " + path);
    std::string data;
    if (fs::ReadWholeFd(fd.Get(), kMaxFileSize, data) != 0) return Load::kUnreadable;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        lines.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return Load::kRead;
}

std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
    return Trim(line.substr(1, line.size() - 2));
}

std::optional<std::string> FindValue(const std::vector<std::string>& lines,
                                     const std::string& section, const std::string& name) {
    bool inside = false;
    for (const std::string& line : lines) {
        if (auto sec = SectionName(line)) {
            inside = SameName(*sec, section);
            continue;
        }
        if (!inside) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !SameName(Trim(std::string_view(line).substr(0, eq)), name))
            continue;
        std::string value = line.substr(eq + 1);
        if (!value.empty() && value.back() == '\r') value.pop_back();
        return value;
    }
    return std::nullopt;
}

// Replaces the file in one step, so that a crash leaves either the old file or the new one.
bool ReplaceFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string data;
    for (const std::string& line : lines) data += line + '\n';
    fs::OutputFile out;
    // The file holds passwords: 0600 whatever the old file's bits were.
    // Never through a link: the file was checked to be the user's own, a link's target was not.
    return out.Open(fs::OutputTarget::Path(path), {0600, false, false}).ok() &&
           out.Write(data.data(), data.size()).ok() && out.Commit().ok();
}

// Inserts or replaces `name=value` in `section`, adding the section at the end when missing.
void SetValue(std::vector<std::string>& lines, const std::string& section, const std::string& name,
              const std::string& value) {
    const std::string entry = name + "=" + value;
    bool inside = false;
    std::optional<size_t> lastInSection;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto sec = SectionName(lines[i])) {
            if (inside) break;
            inside = SameName(*sec, section);
            if (inside) lastInSection = i;
            continue;
        }
        if (!inside) continue;
        const size_t eq = lines[i].find('=');
        if (eq != std::string::npos &&
            SameName(Trim(std::string_view(lines[i]).substr(0, eq)), name)) {
            lines[i] = entry;
            return;
        }
        if (!Trim(lines[i]).empty()) lastInSection = i;
    }
    if (lastInSection) {
        lines.insert(lines.begin() + static_cast<long>(*lastInSection) + 1, entry);
        return;
    }
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    if (!name.empty()) lines.push_back(entry);
}

bool HasSection(const std::vector<std::string>& lines, const std::string& section) {
    for (const std::string& line : lines) {
        if (auto sec = SectionName(line); sec && SameName(*sec, section)) return true;
    }
    return false;
}

// A decimal 32-bit number, blanks around it allowed; def for anything else.
int32_t ParseInt(const std::string& text, int32_t def) {
    std::string_view t = Trim(text);
    if (t.empty()) return def;
    const std::string digits(t);
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(digits.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return def;
    return static_cast<int32_t>(v);
}

}  // namespace

std::string CSettings::ProfilePath() {
    return ConfigDir() + "/FennicExpl.ini";
}

std::string CSettings::ReadString(const std::string& section, const std::string& name,
                                  const std::string& def) {
    std::vector<std::string> lines;
    if (ReadLines(ProfilePath(), lines, nullptr) != Load::kRead) return def;
    return FindValue(lines, section, name).value_or(def);
}

int32_t CSettings::ReadInt(const std::string& section, const std::string& name, int32_t def) {
    return ParseInt(ReadString(section, name, {}), def);
}

bool CSettings::WriteValue(const std::string& section, const std::string& name,
                           const std::string& value) {
    const std::string dir = ConfigDir();
    if (!MakeDirs(dir)) return false;
    const std::string path = ProfilePath();
    std::vector<std::string> lines;
    // A file that exists but can't be read is left alone rather than replaced by a stub.
    const Load state = ReadLines(path, lines, nullptr);
    if (state == Load::kUnreadable || state == Load::kRefused) return false;
    // Line breaks would start new lines in the file; the fields never hold them.
    std::string clean;
    for (char c : value) {
        if (c != '\n' && c != '\r') clean += c;
    }
    SetValue(lines, section, name, clean);
    return ReplaceFile(path, lines);
}

void CSettings::BindSection(const std::string& section) {
    const std::string path = ProfilePath();
    std::vector<std::string> lines;
    const Load state = ReadLines(path, lines, nullptr);
    if (state == Load::kUnreadable || state == Load::kRefused ||
        (state == Load::kRead && HasSection(lines, section)))
        return;
    if (!MakeDirs(ConfigDir())) return;
    SetValue(lines, section, {}, {});
    ReplaceFile(path, lines);
}

void CSettings::LoadSettings() {
    m_strProblem.clear();
    std::vector<std::string> lines;
    std::string problem;
    if (ReadLines(ProfilePath(), lines, &problem) == Load::kRefused)
        m_strProblem = problem + kNotUsed;
    // One read of the file for all eight values.
    auto value = [&lines](const char* name, const char* def) {
        return FindValue(lines, kSection, name).value_or(def);
    };
    m_strHttpPort = value("HttpPort", "80");
    m_strHttpUsr = value("HttpUsr", "");
    m_strHttpPwd = value("HttpPwd", "");
    m_strProxyStr = value("ProxyStr", "192.168.0.1");
    m_strProxyPort = value("ProxyPort", "8080");
    m_strProxyUsr = value("ProxyUsr", "");
    m_strProxyPwd = value("ProxyPwd", "");
    m_nUseProxy = ParseInt(value("UseProxy", ""), 0);
}

void CSettings::WriteString(const std::string& name, const std::string& value) {
    WriteValue(kSection, name, value);
}

void CSettings::WriteInt(const std::string& name, int32_t value) {
    WriteValue(kSection, name, std::to_string(value));
}

std::string CSettings::MakeTempName() {
    // Reseeded from the clock on every call: names drawn within one second are equal.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::string name;
    for (int i = 0; i < 7; ++i) name += static_cast<char>('P' + std::rand() % 10);
    name += ".zip";
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string CSettings::GetProgramDir() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return {};
    path.resize(static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string CSettings::FromProgramDir(const std::string& programDir, const std::string& path) {
    return path.rfind('/', 0) == 0 ? path : programDir + "/" + path;
}

CSettings& Settings() {
    static CSettings settings;
    return settings;
}

}  // namespace fennic
