#include "zip/zip_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace fennic {

CFileException::CFileException(int cause, int osError, std::string path)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(path)) {
    m_what = m_strFileName + ": " + std::strerror(m_lOsError);
}

const char* CFileException::what() const noexcept {
    return m_what.c_str();
}

int CFileException::CauseFromErrno(int err) {
    switch (err) {
        case 0:
            return none;
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return accessDenied;
        case EBADF:
            return invalidFile;
        case EWOULDBLOCK:
            return sharingViolation;
        case ENOSPC:
        case EDQUOT:
            return diskFull;
        case EINVAL:
        case ESPIPE:
            return badSeek;
        case EIO:
            return hardIO;
        default:
            return genericException;
    }
}

CFile::~CFile() {
    Abort();
}

bool CFile::Open(const std::string& path, unsigned flags, CFileException* error) {
    Abort();
    int oflags = O_CLOEXEC;
    const bool writing = (flags & (modeWrite | modeReadWrite)) != 0;
    if (flags & modeReadWrite)
        oflags |= O_RDWR;
    else if (flags & modeWrite)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;
    if (flags & modeCreate) {
        oflags |= O_CREAT;
        if (!(flags & modeNoTruncate)) oflags |= O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), oflags, 0644);
    } while (fd < 0 && errno == EINTR);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode))
            err = EISDIR;
        else if ((flags & shareDenyWrite) &&
                 ::flock(fd, (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
            err = errno;
        if (err != 0) ::close(fd);
    }
    if (err != 0) {
        if (error) *error = CFileException(CFileException::CauseFromErrno(err), err, path);
        return false;
    }
    m_fd = fd;
    SetFilePath(path);
    return true;
}

void CFile::OpenOrThrow(const std::string& path, unsigned flags) {
    CFileException error(CFileException::none, 0, path);
    if (!Open(path, flags, &error)) throw error;
}

void CFile::ThrowErrno(int err) const {
    throw CFileException(CFileException::CauseFromErrno(err), err, m_path);
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
    if (m_fd < 0) ThrowErrno(EBADF);
    uint32_t done = 0;
    char* out = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(m_fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, uint32_t count) {
    if (m_fd < 0) ThrowErrno(EBADF);
    const char* in = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(m_fd, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        done += static_cast<uint32_t>(n);
    }
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    if (m_fd < 0) ThrowErrno(EBADF);
    int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<uint64_t>(pos);
}

uint64_t CFile::GetPosition() const {
    if (m_fd < 0) ThrowErrno(EBADF);
    off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<uint64_t>(pos);
}

uint64_t CFile::GetLength() const {
    if (m_fd < 0) ThrowErrno(EBADF);
    struct stat st;
    if (::fstat(m_fd, &st) != 0) ThrowErrno(errno);
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Close() {
    if (m_fd < 0) return;
    int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() {
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
}

}  // namespace fennic
