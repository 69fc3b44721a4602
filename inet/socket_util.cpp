#include "inet/socket_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace fennic::inet {

WakePipe::WakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_.Reset(fds[0]);
        write_.Reset(fds[1]);
    }
}

void WakePipe::Signal() {
    if (write_) {
        char c = 1;
        [[maybe_unused]] ssize_t n = ::write(write_.Get(), &c, 1);
    }
}

WaitResult WaitFor(int fd, short events, int fd2, short events2, int wake_fd,
                   Clock::time_point deadline, int* ready) {
    while (true) {
        pollfd p[3] = {{fd, events, 0}, {fd2, events2, 0}, {wake_fd, POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        int rc = ::poll(p, 3, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
        if (rc < 0) {
            if (errno == EINTR) continue;
            return WaitResult::kError;
        }
        if (p[2].revents) return WaitResult::kWoken;
        int r = (p[0].revents ? 1 : 0) | (p[1].revents ? 2 : 0);
        if (r) {
            if (ready) *ready = r;
            return WaitResult::kReady;
        }
        if (Clock::now() >= deadline) return WaitResult::kTimeout;
    }
}

WaitResult ConnectWithin(int fd, const sockaddr* to, socklen_t len, int wake_fd,
                         Clock::time_point deadline, int& err) {
    err = 0;
    if (::connect(fd, to, len) == 0) return WaitResult::kReady;
    if (errno != EINPROGRESS) {
        err = errno;
        return WaitResult::kReady;
    }
    const WaitResult r = WaitFor(fd, POLLOUT, -1, 0, wake_fd, deadline);
    if (r == WaitResult::kError) err = errno;
    if (r != WaitResult::kReady) return r;
    socklen_t err_len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0) err = errno;
    return WaitResult::kReady;
}

std::string AddressText(const sockaddr* addr) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (addr->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, buf,
                    sizeof buf);
    } else if (addr->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, buf,
                    sizeof buf);
    }
    return buf;
}

}  // namespace fennic::inet
