#include "transfer/local_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fennic {

int CLocalFile::Open(const std::string& path, bool truncate) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    // Truncate only once the lock is ours, so a file another writer holds is left intact.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (truncate && ::ftruncate(fd, 0) != 0)) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    m_fd = fd;
    m_path = path;
    return 0;
}

int CLocalFile::SeekToEnd() {
    if (m_fd < 0) return EBADF;
    return ::lseek(m_fd, 0, SEEK_END) < 0 ? errno : 0;
}

int CLocalFile::SeekAndCut(uint32_t offset) {
    if (m_fd < 0) return EBADF;
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    return ::ftruncate(m_fd, static_cast<off_t>(offset)) != 0 ? errno : 0;
}

int CLocalFile::Write(const void* data, size_t size) {
    if (m_fd < 0) return EBADF;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void CLocalFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void CLocalFile::CloseAndDelete() {
    Close();
    if (!m_path.empty()) ::unlink(m_path.c_str());
    m_path.clear();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace fennic
