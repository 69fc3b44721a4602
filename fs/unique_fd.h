#pragma once
// The one owner of a POSIX file descriptor: move-only, closed when it goes.

#include <unistd.h>

namespace fennic::fs {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    int Get() const noexcept { return m_fd; }
    bool Valid() const noexcept { return m_fd >= 0; }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives the descriptor up without closing it.
    int Release() noexcept {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes the held descriptor (its error is lost) and holds fd instead.
    void Reset(int fd = -1) noexcept {
        if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
        m_fd = fd;
    }
    // Closes now; 0 or the errno value. For files written to, close's error is a write error.
    int Close() noexcept;

private:
    int m_fd = -1;
};

}  // namespace fennic::fs
