#include "fs/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "fs/file_io.h"

namespace fennic::fs {

std::string RandomTag() {
    uint64_t v = 0;
    if (::getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
        // Uniqueness comes from O_EXCL; the tag only has to differ between tries.
        static uint64_t counter = 0;
        v = (static_cast<uint64_t>(::getpid()) << 32) ^ ++counter;
    }
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string tag;
    for (int i = 0; i < 10; ++i, v /= 36) tag += kDigits[v % 36];
    return tag;
}

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit

OutputStatus Failed(OutputStep step, int error) {
    return {step, error};
}

}  // namespace

std::string DescribeOutputFailure(const OutputStatus& status, const std::string& path) {
    if (status.step == OutputStep::kNone) return {};
    if (status.step == OutputStep::kKind) {
        if (status.error == EISDIR) return path + " is a directory";
        if (status.error == ENOTSUP) return path + " is a block device; it is not written";
        return path + " changed while it was being opened";
    }
    // What was being done, around the path.
    static const struct {
        OutputStep step;
        const char* before;
        const char* after;
    } kTexts[] = {
        {OutputStep::kResolve, "cannot follow ", ""},
        {OutputStep::kCreate, "cannot create a new file beside ", ""},
        {OutputStep::kOpen, "cannot open ", " for writing"},
        {OutputStep::kWrite, "cannot write ", ""},
        {OutputStep::kSync, "cannot flush ", " to disk"},
        {OutputStep::kRename, "cannot put the new file in place of ", ""},
        {OutputStep::kSource, "cannot read the data for ", ""},
    };
    std::string text = path;
    for (const auto& t : kTexts) {
        if (t.step == status.step) text = t.before + path + t.after;
    }
    return text + ": " + std::strerror(status.error);
}

int ResolveLinks(const std::string& path, std::string& resolved) {
    if (path.empty()) return ENOENT;
    std::string p = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            resolved = p;  // missing: the new file is made here
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            resolved = p;
            return 0;
        }
        std::vector<char> buf(4096);
        ssize_t n;
        while ((n = ::readlink(p.c_str(), buf.data(), buf.size())) ==
               static_cast<ssize_t>(buf.size())) {
            if (buf.size() >= (1u << 20)) return ENAMETOOLONG;
            buf.resize(buf.size() * 2);
        }
        if (n < 0) return errno;
        if (n == 0) return ENOENT;
        const std::string link(buf.data(), static_cast<size_t>(n));
        if (link.front() == '/') {
            p = link;
        } else {
            const size_t slash = p.rfind('/');
            p = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + link;
        }
    }
    return ELOOP;
}

OutputStatus OutputFile::Open(const OutputTarget& target, const OutputOptions& options) {
    Abandon();
    if (target.fd >= 0) {
        m_fd = target.fd;
        m_target = target.path;
        return {};
    }
    std::string resolved = target.path;
    if (options.followLinks) {
        if (const int err = ResolveLinks(target.path, resolved))
            return Failed(OutputStep::kResolve, err);
    }
    m_target = resolved;
    struct stat st {};
    if (::lstat(resolved.c_str(), &st) != 0) {
        if (errno != ENOENT) return Failed(OutputStep::kResolve, errno);
        return OpenBeside(options, nullptr);
    }
    if (S_ISREG(st.st_mode)) return OpenBeside(options, &st);
    if (S_ISDIR(st.st_mode)) return Failed(OutputStep::kKind, EISDIR);
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return OpenDirect();
    if (S_ISLNK(st.st_mode)) {
        // Not followed by request, or made a link meanwhile.
        return Failed(OutputStep::kKind, options.followLinks ? EAGAIN : ELOOP);
    }
    return Failed(OutputStep::kKind, ENOTSUP);
}

OutputStatus OutputFile::OpenBeside(const OutputOptions& options, const struct stat* old) {
    const size_t slash = m_target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    // A new file of a new name takes the umask; otherwise the bits are set exactly afterwards.
    const bool exactMode = old || !options.keepOldMode;
    const mode_t mode = old && options.keepOldMode ? (old->st_mode & 0777) : options.newMode;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string part = dir + "." + base + "." + RandomTag() + ".part";
        UniqueFd fd =
            fs::Open(part, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, exactMode ? 0600 : mode);
        if (!fd) {
            if (errno == EEXIST) continue;
            return Failed(OutputStep::kCreate, errno);
        }
        m_partPath = part;
        m_owned = std::move(fd);
        m_fd = m_owned.Get();
        if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
            // Only root can hand a file to its old owner; anyone else keeps it as theirs.
            const int ignored = ::fchown(m_fd, old->st_uid, old->st_gid);
            (void)ignored;
        }
        if (exactMode && ::fchmod(m_fd, mode) != 0) {
            const int err = errno;
            Abandon();
            return Failed(OutputStep::kCreate, err);
        }
        return {};
    }
    return Failed(OutputStep::kCreate, EEXIST);
}

OutputStatus OutputFile::OpenDirect() {
    UniqueFd fd = fs::Open(m_target, O_WRONLY | O_NOCTTY);
    if (!fd) return Failed(OutputStep::kOpen, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return Failed(OutputStep::kOpen, errno);
    // Swapped for a file or folder after the check: never written in place.
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return Failed(OutputStep::kKind, EAGAIN);
    m_owned = std::move(fd);
    m_fd = m_owned.Get();
    return {};
}

OutputStatus OutputFile::Write(const void* data, size_t size) {
    if (m_fd < 0) return Failed(OutputStep::kWrite, EBADF);
    if (const int err = WriteAll(m_fd, data, size)) return Failed(OutputStep::kWrite, err);
    return {};
}

OutputStatus OutputFile::CopyFrom(int fd) {
    std::vector<uint8_t> buf(1 << 16);
    for (;;) {
        const ssize_t n = ReadFull(fd, buf.data(), buf.size());
        if (n < 0) return Failed(OutputStep::kSource, errno);
        if (n == 0) return {};
        if (OutputStatus s = Write(buf.data(), static_cast<size_t>(n)); !s.ok()) return s;
    }
}

namespace {
std::atomic<bool (*)()> g_commitGuard{nullptr};
}  // namespace

void SetCommitGuard(bool (*guard)()) {
    g_commitGuard = guard;
}

bool CommitAllowed() {
    bool (*guard)() = g_commitGuard.load();
    return guard == nullptr || guard();
}

OutputStatus OutputFile::Commit() {
    if (m_fd < 0) return Failed(OutputStep::kWrite, EBADF);
    if (m_partPath.empty()) {
        // A device or the caller's descriptor: nothing to flush or rename.
        m_fd = -1;
        if (const int err = m_owned.Close()) return Failed(OutputStep::kWrite, err);
        return {};
    }
    if (::fsync(m_fd) != 0) {
        const int err = errno;
        Abandon();
        return Failed(OutputStep::kSync, err);
    }
    m_fd = -1;
    if (const int err = m_owned.Close()) {
        Abandon();
        return Failed(OutputStep::kWrite, err);
    }
    // The last moment a stop can still keep the old file.
    if (!CommitAllowed()) {
        Abandon();
        return Failed(OutputStep::kRename, ECANCELED);
    }
    if (::rename(m_partPath.c_str(), m_target.c_str()) != 0) {
        const int err = errno;
        Abandon();
        return Failed(OutputStep::kRename, err);
    }
    m_partPath.clear();
    // The rename itself reaches the disk with the folder; a failure here loses nothing written.
    const size_t slash = m_target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    if (UniqueFd d = fs::Open(dir, O_RDONLY | O_DIRECTORY)) ::fsync(d.Get());
    return {};
}

void OutputFile::Abandon() {
    m_owned.Reset();
    m_fd = -1;
    if (!m_partPath.empty()) ::unlink(m_partPath.c_str());
    m_partPath.clear();
}

OutputStatus CopyFileToOutput(const std::string& sourcePath, const OutputTarget& target,
                              const OutputOptions& options) {
    UniqueFd in = fs::Open(sourcePath, O_RDONLY);
    if (!in) return Failed(OutputStep::kSource, errno);
    OutputFile out;
    if (OutputStatus s = out.Open(target, options); !s.ok()) return s;
    if (OutputStatus s = out.CopyFrom(in.Get()); !s.ok()) return s;
    return out.Commit();
}

}  // namespace fennic::fs
