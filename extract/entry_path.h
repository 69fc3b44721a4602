#pragma once
// From an archive entry's stored name to a relative path that stays inside the destination.
//
// Names come from the archive and are hostile. A name becomes a path by these rules:
//   decoding    UTF-8 when flag bit 11 says so (bytes that are not valid UTF-8 become U+FFFD);
//               else the UTF-8 name of a Unicode path extra field whose CRC matches (TargetOf
//               fills it in); else code page 437 for names from DOS and Windows makers (hosts
//               0, 11, 14) and for bytes that are not valid UTF-8; else the maker's UTF-8. This
//               is the rule the listing shows names by, so files get the names listed.
//   separators  '/' and '\' both. A DOS or Windows maker wrote '\' as its separator; a Unix
//               maker's name could hold a literal '\', but it is split too, so that no name can
//               mean one thing here and another to a later tool (a file "a\b" becomes a/b).
//   refused     an empty name (nothing left once "." and empty components are dropped), a NUL
//               byte, a leading separator ("/x", "\x", "\\server\share"), a drive letter
//               ("C:", "C:x", "C:\x"), any ".." component (even "a/../b"), a component
//               longer than 255 bytes after decoding.
//   dropped     "." components and empty ones ("a//b", a folder's trailing '/').
// The file system rules (no path through a symbolic link, no file where a folder goes) are
// the destination's: see destination.h.

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace fennic {
class CZipEntryHeader;
}

namespace fennic::extract {

constexpr size_t kMaxComponent = 255;    // bytes in one file name on Linux
constexpr size_t kMaxLinkTarget = 4095;  // bytes in a symbolic link's target

// What the destination needs to know of one entry.
struct EntryTarget {
    std::string storedName;  // the name's bytes as the archive stores them
    bool utf8 = false;       // general purpose flag bit 11
    uint8_t hostSystem = 0;  // high byte of "version made by": 0 DOS, 3 Unix, 11 NTFS, 14 VFAT...
    uint32_t externalAttributes = 0;
    bool isDirectory = false;
    time_t modTime = 0;  // local time from the DOS date and time; -1 (no valid date): left alone
    std::string unicodeName;  // a Unicode path extra field's UTF-8 name, its CRC checked; or ""
};

// The target of one central directory header; isDirectory is the engine's answer for it.
EntryTarget TargetOf(const CZipEntryHeader& header, bool isDirectory);

// The name decoded to UTF-8 as stored (separators kept as they are).
std::string DecodeEntryName(const EntryTarget& e);
// The decoded name escaped for a terminal: how messages name the entry.
std::string ShownName(const EntryTarget& e);

// The components of the entry's relative path, or false with `why` ("NAME: refused: ...").
bool SplitEntryPath(const EntryTarget& e, std::vector<std::string>& components, std::string& why);

// A Unix maker's mode: the high 16 bits of the external attributes; 0 when there is none.
uint32_t UnixMode(const EntryTarget& e);
// The entry is a symbolic link: Unix maker and S_IFLNK in its mode.
bool IsSymlink(const EntryTarget& e);
// Permission bits for the entry: a Unix mode's 0777 bits (never setuid, setgid or sticky; a
// folder always with u+rwx), else 0644 for a file and 0755 for a folder. The umask applies on
// top when it is made.
mode_t PermissionBits(const EntryTarget& e);

// Whether a link placed `linkDepth` folders below the destination may point at `target`:
// not empty, no NUL, at most kMaxLinkTarget bytes, not absolute, and ".." only as leading
// components and no more of them than linkDepth. Only '/' separates: the kernel reads a '\'
// in a target as part of a name. A ".." after a name is refused even when it would stay
// inside on paper, because that name may be (or later become) another link, and ".." then
// climbs from where that link points: "x -> d/up/.." with "d/up -> .." leaves the folder.
// With ".." only in front, a target climbs real folders (the walk refuses links on the way to
// the link itself) and then descends, so every link the destination makes resolves inside it
// (links the user already had in the folder are the user's own and are not looked into).
bool CheckLinkTarget(const std::string& target, size_t linkDepth, std::string& why);

}  // namespace fennic::extract
