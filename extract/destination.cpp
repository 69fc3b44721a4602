#include "extract/destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/text_convert.h"
#include "fs/file_io.h"
#include "fs/output_file.h"

namespace fennic::extract {
namespace {

using fs::UniqueFd;

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;

UniqueFd OpenAt(int dirFd, const std::string& name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dirFd, name.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

std::string Join(const std::vector<std::string>& components, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i) path += '/';
        path += components[i];
    }
    return path;
}

std::string SystemError(int err) {
    return std::strerror(err);
}

// ".NAME.TAG.part", with NAME cut (at a character boundary) so the whole stays a legal name.
std::string PartName(const std::string& name) {
    size_t keep = std::min(name.size(), kMaxComponent - 20);
    while (keep > 0 && keep < name.size() && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + "." + fs::RandomTag() + ".part";
}

// The umask without changing it, where /proc tells it; else by setting it back at once.
mode_t CurrentUmask() {
    std::string status;
    if (fs::ReadWholeFile("/proc/self/status", 1 << 20, status) == 0) {
        const size_t at = status.find("\nUmask:");
        if (at != std::string::npos) {
            char* end = nullptr;
            const unsigned long mask = std::strtoul(status.c_str() + at + 7, &end, 8);
            if (end != status.c_str() + at + 7) return static_cast<mode_t>(mask & 0777);
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// mkdir -p for the user's own folder: links in it are followed, as the user named them.
int MakeFolderChain(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/') continue;
        if (dir[i - 1] == '/') continue;
        if (::mkdir(dir.substr(0, i).c_str(), 0777) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

bool SetTimes(int fd, time_t modTime) {
    if (modTime == static_cast<time_t>(-1)) return true;
    const struct timespec times[2] = {{modTime, 0}, {modTime, 0}};
    return ::futimens(fd, times) == 0;
}

}  // namespace

FileWriter::~FileWriter() {
    Discard();
}

void FileWriter::Discard() {
    m_file.Reset();
    if (!m_partName.empty() && m_parent) ::unlinkat(m_parent.Get(), m_partName.c_str(), 0);
    m_partName.clear();
}

bool FileWriter::Write(const uint8_t* data, size_t size, std::string& why) {
    if (!m_file) {
        why = m_shownName + ": cannot write " + m_shownPath + ": it is closed";
        return false;
    }
    if (const int err = fs::WriteAll(m_file.Get(), data, size)) {
        why = m_shownName + ": cannot write " + m_shownPath + ": " + SystemError(err);
        return false;
    }
    return true;
}

bool FileWriter::Commit(std::string& why) {
    const auto fail = [&](const std::string& what, int err) {
        why = m_shownName + ": " + what + ": " + SystemError(err);
        Discard();
        return false;
    };
    if (!m_file) return fail("cannot write " + m_shownPath, EBADF);
    if (m_replaces && ::fsync(m_file.Get()) != 0)
        return fail("cannot flush " + m_shownPath + " to disk", errno);
    if (!SetTimes(m_file.Get(), m_modTime))
        return fail("cannot set the time of " + m_shownPath, errno);
    if (const int err = m_file.Close()) return fail("cannot write " + m_shownPath, err);
    // A stop that came meanwhile keeps what was there.
    if (!fs::CommitAllowed()) return fail("not saved", ECANCELED);
    const int dir = m_parent.Get();
    int rc;
    if (m_replaces) {
        rc = ::renameat(dir, m_partName.c_str(), dir, m_name.c_str());
    } else {
        // The name was free when the file was begun; whatever took it since is not replaced.
        rc = ::renameat2(dir, m_partName.c_str(), dir, m_name.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS))
            rc = ::renameat(dir, m_partName.c_str(), dir, m_name.c_str());
    }
    if (rc != 0) return fail("cannot put the new file in place as " + m_shownPath, errno);
    m_partName.clear();
    m_parent.Reset();
    return true;
}

std::unique_ptr<Destination> Destination::Open(const std::string& dir, Existing existing,
                                               AskFunction ask, std::string& error) {
    const std::string path = dir.empty() ? "." : dir;
    const std::string shown = TerminalText(path);
    UniqueFd root = fs::Open(path, O_RDONLY | O_DIRECTORY);
    if (!root && errno == ENOENT) {
        if (const int err = MakeFolderChain(path)) {
            error = "cannot create " + shown + ": " + SystemError(err);
            return nullptr;
        }
        root = fs::Open(path, O_RDONLY | O_DIRECTORY);
    }
    if (!root) {
        error = "cannot open " + shown + ": " + SystemError(errno);
        return nullptr;
    }
    std::unique_ptr<Destination> d(new Destination());
    d->m_root = std::move(root);
    d->m_dir = path;
    d->m_existing = existing;
    d->m_ask = std::move(ask);
    d->m_umask = CurrentUmask();
    return d;
}

std::string Destination::ShownPath(const std::string& relativePath) const {
    if (m_dir == ".") return TerminalText(relativePath);
    const bool slash = m_dir.back() == '/';
    return TerminalText(m_dir + (slash ? "" : "/") + relativePath);
}

std::string Destination::SafePath(const EntryTarget& e, std::string& why) const {
    std::vector<std::string> components;
    if (!SplitEntryPath(e, components, why)) return {};
    return Join(components, components.size());
}

UniqueFd Destination::WalkFolders(const std::vector<std::string>& components, size_t count,
                                  bool make, const std::string& shownName, std::string& why) {
    UniqueFd current(::fcntl(m_root.Get(), F_DUPFD_CLOEXEC, 0));
    if (!current) {
        why = shownName + ": cannot open " + TerminalText(m_dir) + ": " + SystemError(errno);
        return {};
    }
    for (size_t i = 0; i < count; ++i) {
        const std::string& name = components[i];
        // Built only for a message: a long name of one-letter folders would make it quadratic.
        const auto shownPath = [&] { return ShownPath(Join(components, i + 1)); };
        UniqueFd next = OpenAt(current.Get(), name, kOpenFolder);
        if (!next && errno == ENOENT && make) {
            const bool made = ::mkdirat(current.Get(), name.c_str(), 0755) == 0;
            if (!made && errno != EEXIST) {
                why = shownName + ": cannot create " + shownPath() + ": " + SystemError(errno);
                return {};
            }
            // Made here or by someone else meanwhile: either way opened without following.
            next = OpenAt(current.Get(), name, kOpenFolder);
            struct stat st {};
            if (made && next && ::fstat(next.Get(), &st) == 0)
                m_madeFolders.insert({st.st_dev, st.st_ino});
        }
        if (!next) {
            const int err = errno;
            struct stat st {};
            if (::fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(st.st_mode)) {
                    why = shownName + ": refused: " + shownPath() + " is a symbolic link";
                    return {};
                }
                if (!S_ISDIR(st.st_mode)) {
                    why = shownName + ": refused: " + shownPath() + " is not a folder";
                    return {};
                }
            }
            why = shownName + ": cannot open " + shownPath() + ": " + SystemError(err);
            return {};
        }
        current = std::move(next);
    }
    return current;
}

Destination::Decision Destination::DecideExisting(const std::string& shownPath) {
    switch (m_existing) {
        case Existing::kOverwrite:
            return Decision::kReplace;
        case Existing::kNever:
            return Decision::kSkip;
        case Existing::kAsk:
            break;
    }
    if (!m_ask) return Decision::kSkip;
    switch (m_ask(shownPath)) {
        case kAnswerYes:
            return Decision::kReplace;
        case kAnswerAll:
            m_existing = Existing::kOverwrite;
            return Decision::kReplace;
        case kAnswerNone:
            m_existing = Existing::kNever;
            return Decision::kSkip;
        default:
            return Decision::kSkip;
    }
}

bool Destination::Place(const EntryTarget& e, const std::string* linkTarget, Placement& p,
                        std::string& why, bool* skipped) {
    if (skipped) *skipped = false;
    std::vector<std::string> components;
    if (!SplitEntryPath(e, components, why)) return false;
    p.shownName = ShownName(e);
    std::string reason;
    if (linkTarget && !CheckLinkTarget(*linkTarget, components.size() - 1, reason)) {
        why = p.shownName + ": refused: " + reason;
        return false;
    }
    p.parent = WalkFolders(components, components.size() - 1, true, p.shownName, why);
    if (!p.parent) return false;
    p.name = components.back();
    p.shownPath = ShownPath(Join(components, components.size()));
    struct stat st {};
    if (::fstatat(p.parent.Get(), p.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return true;
        why = p.shownName + ": cannot look at " + p.shownPath + ": " + SystemError(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        why = p.shownName + ": refused: a folder " + p.shownPath + " is in its place";
        return false;
    }
    if (DecideExisting(p.shownPath) == Decision::kSkip) {
        why = p.shownName + ": skipped: exists";
        if (skipped) *skipped = true;
        return false;
    }
    p.replaces = true;
    return true;
}

std::unique_ptr<FileWriter> Destination::BeginFile(const EntryTarget& e, std::string& why,
                                                   bool* skipped) {
    Placement p;
    if (!Place(e, nullptr, p, why, skipped)) return nullptr;
    std::unique_ptr<FileWriter> writer(new FileWriter());
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        writer->m_partName = PartName(p.name);
        writer->m_file = OpenAt(p.parent.Get(), writer->m_partName,
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, PermissionBits(e));
        err = writer->m_file ? 0 : errno;
    }
    if (err) {
        why = p.shownName + ": cannot create a new file beside " + p.shownPath + ": " +
              SystemError(err);
        return nullptr;
    }
    writer->m_parent = std::move(p.parent);
    writer->m_name = p.name;
    writer->m_shownName = p.shownName;
    writer->m_shownPath = p.shownPath;
    writer->m_modTime = e.modTime;
    writer->m_replaces = p.replaces;
    return writer;
}

bool Destination::MakeDirectory(const EntryTarget& e, std::string& why) {
    std::vector<std::string> components;
    if (!SplitEntryPath(e, components, why)) return false;
    const std::string shownName = ShownName(e);
    UniqueFd parent = WalkFolders(components, components.size() - 1, true, shownName, why);
    if (!parent) return false;
    const std::string& name = components.back();
    const std::string relative = Join(components, components.size());
    const mode_t mode = PermissionBits(e);
    // The owner can always write into it until Finish() gives it its own bits.
    const bool made = ::mkdirat(parent.Get(), name.c_str(), mode | 0700) == 0;
    if (!made && errno != EEXIST) {
        why = shownName + ": cannot create " + ShownPath(relative) + ": " + SystemError(errno);
        return false;
    }
    struct stat st {};
    if (::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        why = shownName + ": cannot look at " + ShownPath(relative) + ": " + SystemError(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        why = shownName + ": refused: " + ShownPath(relative) + " is a symbolic link";
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = shownName + ": refused: a file " + ShownPath(relative) + " is in its place";
        return false;
    }
    const FolderId id{st.st_dev, st.st_ino};
    if (made) m_madeFolders.insert(id);
    m_folderEntries.push_back(
        {components, shownName, e.modTime, mode, m_madeFolders.count(id) > 0});
    return true;
}

bool Destination::MakeSymlink(const EntryTarget& e, const std::string& target, std::string& why,
                              bool* skipped) {
    Placement p;
    if (!Place(e, &target, p, why, skipped)) return false;
    const int dir = p.parent.Get();
    // A replacement is made beside and renamed over the old name, like a file.
    std::string made = p.name;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        if (p.replaces) made = PartName(p.name);
        err = ::symlinkat(target.c_str(), dir, made.c_str()) == 0 ? 0 : errno;
        if (!p.replaces) break;
    }
    if (err) {
        why = p.shownName + ": cannot create the link " + p.shownPath + ": " + SystemError(err);
        return false;
    }
    // A link's time is kept where the file system allows it; nothing depends on it.
    if (e.modTime != static_cast<time_t>(-1)) {
        const struct timespec times[2] = {{e.modTime, 0}, {e.modTime, 0}};
        ::utimensat(dir, made.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    if (p.replaces && ::renameat(dir, made.c_str(), dir, p.name.c_str()) != 0) {
        err = errno;
        ::unlinkat(dir, made.c_str(), 0);
        why = p.shownName + ": cannot put the link in place as " + p.shownPath + ": " +
              SystemError(err);
        return false;
    }
    return true;
}

bool Destination::Finish(std::string& why) {
    // Children before their parents: a parent's bits may shut them off.
    std::stable_sort(m_folderEntries.begin(), m_folderEntries.end(),
                     [](const FolderEntry& a, const FolderEntry& b) {
                         return a.components.size() > b.components.size();
                     });
    why.clear();
    const auto note = [&why](const std::string& problem) {
        if (why.empty()) why = problem;
    };
    for (const FolderEntry& f : m_folderEntries) {
        std::string problem;
        UniqueFd fd = WalkFolders(f.components, f.components.size(), false, f.shownName, problem);
        if (!fd) {
            note(problem);
            continue;
        }
        const std::string shown = ShownPath(Join(f.components, f.components.size()));
        if (f.setMode && ::fchmod(fd.Get(), f.mode & ~m_umask) != 0)
            note(f.shownName + ": cannot set the permissions of " + shown + ": " +
                 SystemError(errno));
        if (!SetTimes(fd.Get(), f.modTime))
            note(f.shownName + ": cannot set the time of " + shown + ": " + SystemError(errno));
    }
    m_folderEntries.clear();
    return why.empty();
}

}  // namespace fennic::extract
