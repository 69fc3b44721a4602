#include "extract/entry_path.h"

#include <sys/stat.h>

#include "app/entry_columns.h"
#include "app/text_convert.h"
#include "zip/zip_entry_header.h"

namespace fennic::extract {
namespace {

bool Refuse(const EntryTarget& e, const std::string& reason, std::string& why) {
    why = ShownName(e) + ": refused: " + reason;
    return false;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

EntryTarget TargetOf(const CZipEntryHeader& header, bool isDirectory) {
    EntryTarget e;
    e.storedName = header.GetRawFileName();
    e.utf8 = header.IsUtf8();
    e.hostSystem = header.HostSystem();
    e.externalAttributes = header.externalAttributes;
    e.isDirectory = isDirectory;
    e.modTime = header.GetModTime();
    e.unicodeName = UnicodeExtraOf(header, kUnicodePathExtraId, e.storedName).value_or("");
    return e;
}

std::string DecodeEntryName(const EntryTarget& e) {
    std::optional<std::string> unicode;
    if (!e.unicodeName.empty()) unicode = e.unicodeName;
    return DecodeArchiveText(e.storedName, e.utf8, e.hostSystem, unicode);
}

std::string ShownName(const EntryTarget& e) {
    return TerminalText(DecodeEntryName(e));
}

bool SplitEntryPath(const EntryTarget& e, std::vector<std::string>& components, std::string& why) {
    components.clear();
    const std::string name = DecodeEntryName(e);
    if (name.find('\0') != std::string::npos) return Refuse(e, "the name holds a NUL byte", why);
    if (!name.empty() && IsSeparator(name[0])) return Refuse(e, "the name is absolute", why);
    if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':')
        return Refuse(e, "the name starts with a drive letter", why);
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return Refuse(e, "the name has a \"..\" component", why);
        if (part.size() > kMaxComponent) {
            return Refuse(e, "a component of the name is longer than 255 bytes", why);
        }
        components.push_back(part);
    }
    if (components.empty()) return Refuse(e, "the name is empty", why);
    return true;
}

uint32_t UnixMode(const EntryTarget& e) {
    return e.hostSystem == kHostUnix ? e.externalAttributes >> 16 : 0;
}

bool IsSymlink(const EntryTarget& e) {
    return S_ISLNK(UnixMode(e));
}

mode_t PermissionBits(const EntryTarget& e) {
    if (const uint32_t mode = UnixMode(e)) {
        // A folder its owner cannot enter or fill is no use to anyone; a file's bits are its own.
        return (mode & 0777) | (e.isDirectory ? S_IRWXU : 0);
    }
    return e.isDirectory ? 0755 : 0644;
}

bool CheckLinkTarget(const std::string& target, size_t linkDepth, std::string& why) {
    const std::string shown = "the link's target \"" + TerminalText(target) + "\"";
    const auto fail = [&why](const std::string& reason) {
        why = reason;
        return false;
    };
    if (target.empty()) return fail("the link's target is empty");
    if (target.find('\0') != std::string::npos) return fail(shown + " holds a NUL byte");
    if (target.size() > kMaxLinkTarget) return fail("the link's target is too long");
    if (target[0] == '/') return fail(shown + " is absolute");
    size_t ups = 0;
    bool descended = false;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos) end = target.size();
        const std::string part = target.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part != "..") {
            descended = true;
        } else if (descended) {
            return fail(shown + " has \"..\" after a name");
        } else if (++ups > linkDepth) {
            return fail(shown + " leads out of the destination");
        }
    }
    return true;
}

}  // namespace fennic::extract
