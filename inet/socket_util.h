#pragma once
// Small POSIX socket helpers for the FTP client: a wake-up pipe, waits and connects with a
// deadline, and address texts.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "fs/unique_fd.h"

namespace fennic::inet {

using Clock = std::chrono::steady_clock;

// A pipe whose read end becomes readable, and stays so, once Signal() was called.
class WakePipe {
public:
    WakePipe();  // check ok() afterwards
    bool ok() const { return bool(read_) && bool(write_); }
    int read_fd() const { return read_.Get(); }
    void Signal();  // async-signal and thread safe

private:
    fs::UniqueFd read_, write_;
};

enum class WaitResult { kReady, kTimeout, kWoken, kError };

// Waits until fd has events (POLLIN/POLLOUT), the wake fd is readable or the deadline passes.
// A second fd (-1 for none) may be waited on too; ready tells which are ready (bit 0: fd,
// bit 1: fd2).
WaitResult WaitFor(int fd, short events, int fd2, short events2, int wake_fd,
                   Clock::time_point deadline, int* ready = nullptr);

// Connects the non-blocking socket fd to the address, waiting as WaitFor does. kReady with err 0:
// connected; kReady with err set: the connect failed with that errno; kError: the wait failed
// (err: its errno); kTimeout and kWoken as WaitFor.
WaitResult ConnectWithin(int fd, const sockaddr* to, socklen_t len, int wake_fd,
                         Clock::time_point deadline, int& err);

// "127.0.0.1" or "::1".
std::string AddressText(const sockaddr* addr);

}  // namespace fennic::inet
