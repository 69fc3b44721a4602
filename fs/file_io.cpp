#include "fs/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace fennic::fs {

UniqueFd Open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

int WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

ssize_t ReadFull(int fd, void* buffer, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<ssize_t>::max())) {
        errno = EINVAL;
        return -1;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

ssize_t ReadFullAt(int fd, void* buffer, size_t size, uint64_t offset) {
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
    if (size > static_cast<size_t>(std::numeric_limits<ssize_t>::max()) || offset > kMaxOffset ||
        size > kMaxOffset - offset) {
        errno = EOVERFLOW;
        return -1;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, p + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int ReadWholeFile(const std::string& path, size_t maxSize, std::string& content) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the kind is checked next.
    UniqueFd fd = Open(path, O_RDONLY | O_NONBLOCK);
    if (!fd) return errno;
    return ReadWholeFd(fd.Get(), maxSize, content);
}

int ReadWholeFd(int fd, size_t maxSize, std::string& content) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxSize) return EFBIG;
    std::string data;
    char buf[8192];
    for (;;) {
        const ssize_t n = ReadFull(fd, buf, sizeof buf);
        if (n < 0) return errno;
        if (n == 0) break;
        // The file may grow while it is read.
        if (static_cast<size_t>(n) > maxSize - data.size()) return EFBIG;
        data.append(buf, static_cast<size_t>(n));
    }
    content = std::move(data);
    return 0;
}

}  // namespace fennic::fs
