#include "zip/zip_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "fs/file_io.h"

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
    int oflags = 0;
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
    // An archive is read by seeking: a FIFO or socket is refused, and O_NONBLOCK keeps the
    // open of a FIFO for reading from waiting for a writer that may never come. Cleared once
    // checked.
    fs::UniqueFd fd = fs::Open(path, writing ? oflags : oflags | O_NONBLOCK, 0644);
    int err = fd ? 0 : errno;
    if (fd) {
        struct stat st;
        if (::fstat(fd.Get(), &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode))
            err = EISDIR;
        else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
            err = ESPIPE;
        else if (const int fl = ::fcntl(fd.Get(), F_GETFL);
                 fl < 0 || ::fcntl(fd.Get(), F_SETFL, fl & ~O_NONBLOCK) != 0)
            err = errno;
        else if ((flags & shareDenyWrite) &&
                 ::flock(fd.Get(), (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
            err = errno;
    }
    if (err != 0) {
        if (error) *error = CFileException(CFileException::CauseFromErrno(err), err, path);
        return false;
    }
    m_fd = std::move(fd);
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
    if (!m_fd) ThrowErrno(EBADF);
    const ssize_t n = fs::ReadFull(m_fd.Get(), buffer, count);
    if (n < 0) ThrowErrno(errno);
    return static_cast<uint32_t>(n);
}

void CFile::Write(const void* buffer, uint32_t count) {
    if (!m_fd) ThrowErrno(EBADF);
    if (const int err = fs::WriteAll(m_fd.Get(), buffer, count)) ThrowErrno(err);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    if (!m_fd) ThrowErrno(EBADF);
    int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(m_fd.Get(), static_cast<off_t>(offset), whence);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<uint64_t>(pos);
}

uint64_t CFile::GetPosition() const {
    if (!m_fd) ThrowErrno(EBADF);
    off_t pos = ::lseek(m_fd.Get(), 0, SEEK_CUR);
    if (pos < 0) ThrowErrno(errno);
    return static_cast<uint64_t>(pos);
}

uint64_t CFile::GetLength() const {
    if (!m_fd) ThrowErrno(EBADF);
    struct stat st;
    if (::fstat(m_fd.Get(), &st) != 0) ThrowErrno(errno);
    return static_cast<uint64_t>(st.st_size);
}

void CFile::Close() {
    if (const int err = m_fd.Close()) ThrowErrno(err);
}

void CFile::Abort() {
    m_fd.Reset();
}

}  // namespace fennic
