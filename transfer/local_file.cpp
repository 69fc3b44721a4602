#include "transfer/local_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/file_io.h"

namespace fennic {
namespace {

// The file to write into, never through a link: an existing one is reopened, a missing one is
// created private to us. Invalid with errno set on failure.
fs::UniqueFd OpenTransferFile(const std::string& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        // O_NONBLOCK: a FIFO without a reader must not hang the open; it is refused below.
        fs::UniqueFd fd = fs::Open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd || errno != ENOENT) return fd;
        fd = fs::Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd || errno != EEXIST) return fd;
        // Made by someone else in between: reopen it as an existing file.
    }
    errno = EEXIST;
    return fs::UniqueFd();
}

}  // namespace

int CLocalFile::Open(const std::string& path, bool truncate) {
    Close();
    fs::UniqueFd fd = OpenTransferFile(path);
    if (!fd) return errno;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return errno;
    // Only plain files: a transfer seeks, cuts and may delete what it wrote.
    if (!S_ISREG(st.st_mode)) return EINVAL;
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
    // Truncate only once the lock is ours, so a file another writer holds is left intact.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || (truncate && ::ftruncate(fd.Get(), 0) != 0))
        return errno;
    m_fd = std::move(fd);
    m_path = path;
    return 0;
}

int CLocalFile::SeekToEnd() {
    if (!m_fd) return EBADF;
    return ::lseek(m_fd.Get(), 0, SEEK_END) < 0 ? errno : 0;
}

int CLocalFile::SeekAndCut(uint32_t offset) {
    if (!m_fd) return EBADF;
    if (::lseek(m_fd.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    return ::ftruncate(m_fd.Get(), static_cast<off_t>(offset)) != 0 ? errno : 0;
}

int CLocalFile::Write(const void* data, size_t size) {
    if (!m_fd) return EBADF;
    return fs::WriteAll(m_fd.Get(), data, size);
}

void CLocalFile::Close() {
    m_fd.Reset();
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
