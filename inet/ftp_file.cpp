// The data file of a transfer: reads under the idle limit and the rate floor, and its end by
// Close (the replies still due) or Abort (ABOR).
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "inet/ftp_core.h"

namespace fennic::inet {

FtpFile::~FtpFile() {
    Close();
}

bool FtpFile::Mine() const {
    return conn_ && conn_->file_open && conn_->file_serial == serial_;
}

bool FtpFile::Read(void* buffer, size_t size, size_t& got) {
    got = 0;
    auto fail = [&](uint32_t code) {
        error_ = code;
        error_text_ = ErrorText(code);
        return false;
    };
    if (!Mine()) return fail(kErrorIncorrectHandleState);
    if (eof_ || size == 0) return true;
    const int fd = conn_->data.Get();
    const FtpCore& core = *conn_->core;
    const Clock::time_point idle_deadline = conn_->IoDeadline();
    const auto window = std::chrono::seconds(core.floor_seconds);
    if (!window_started_) {
        window_started_ = true;
        window_start_ = Clock::now();
    }
    // Each window must bring its share; a new one starts when the last was good enough.
    auto below_floor = [&] {
        if (core.floor_seconds == 0 || Clock::now() - window_start_ < window) return false;
        if (window_bytes_ < uint64_t{core.floor_bps} * core.floor_seconds) return true;
        window_start_ = Clock::now();
        window_bytes_ = 0;
        return false;
    };
    while (true) {
        ssize_t n = ::recv(fd, buffer, size, 0);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            window_bytes_ += got;
            if (n == 0) {
                eof_ = true;
            } else if (below_floor()) {
                got = 0;
                return fail(kErrorTimeout);
            }
            return true;
        }
        if (errno != EAGAIN && errno != EINTR) return fail(ErrorFromErrno(errno));
        if (below_floor()) return fail(kErrorTimeout);
        Clock::time_point deadline = idle_deadline;
        if (core.floor_seconds != 0) deadline = std::min(deadline, window_start_ + window);
        WaitResult r = WaitFor(fd, POLLIN, -1, 0, core.wake.read_fd(), deadline);
        if (r == WaitResult::kTimeout && Clock::now() < idle_deadline) continue;  // window end
        if (r == WaitResult::kTimeout) return fail(kErrorTimeout);
        if (r == WaitResult::kWoken) return fail(kErrorOperationCancelled);
        if (r != WaitResult::kReady) return fail(kErrorInternal);
    }
}

bool FtpFile::Close() {
    bool ok = true;
    if (Mine()) {
        conn_->CloseData(!eof_);
        // Only data read to its end is judged: after we stopped early, a 426 is our own doing.
        const FtpReply& reply = conn_->own_final;
        if (eof_ && reply.code >= 400) {
            error_ = kErrorExtended;
            error_text_ = ErrorText(error_);
            response_ = reply.text;
            reply_ = reply.text;
            ok = false;
        }
    }
    conn_.reset();
    return ok;
}

bool FtpFile::Abort() {
    if (!Mine() || eof_) return Close();
    const bool ok = conn_->AbortTransfer();
    if (!ok) {
        error_ = conn_->error;
        error_text_ = conn_->error_text;
    }
    conn_.reset();
    return ok;
}

}  // namespace fennic::inet
