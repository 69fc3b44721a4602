// The control channel of one login: commands out, replies in, each wait bounded and wakeable,
// and the replies a transfer still owes when its file is closed or aborted.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "inet/ftp_core.h"

namespace fennic::inet {

bool FtpConnection::State::WaitResultFail(WaitResult r, uint32_t timeout_code) {
    switch (r) {
        case WaitResult::kTimeout:
            return Break(timeout_code);
        case WaitResult::kWoken:
            return Break(kErrorOperationCancelled);
        default:
            return Break(kErrorInternal, std::strerror(errno));
    }
}

bool FtpConnection::State::SendLine(const std::string& line, Clock::time_point deadline,
                                    uint32_t timeout_code) {
    size_t off = 0;
    while (off < line.size()) {
        ssize_t n = ::send(ctrl.Get(), line.data() + off, line.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Break(ErrorFromErrno(errno), std::strerror(errno));
        }
        WaitResult r = WaitFor(ctrl.Get(), POLLOUT, -1, 0, core->wake.read_fd(), deadline);
        if (r != WaitResult::kReady) return WaitResultFail(r, timeout_code);
    }
    return true;
}

bool FtpConnection::State::ReadOne(FtpReply& reply, Clock::time_point deadline,
                                   uint32_t timeout_code) {
    while (true) {
        size_t used = 0;
        ReplyParse p = ParseFtpReply(inbuf, reply, used);
        if (p == ReplyParse::kComplete) {
            inbuf.erase(0, used);
            if (last_response.size() + reply.text.size() > kMaxCollectedReplyBytes) {
                return Break(kErrorInvalidServerResponse);
            }
            last_response += reply.text;
            last_codes.push_back(reply.code);
            last_reply = reply.text;
            return true;
        }
        if (p == ReplyParse::kMalformed) return Break(kErrorInvalidServerResponse);
        WaitResult r = WaitFor(ctrl.Get(), POLLIN, -1, 0, core->wake.read_fd(), deadline);
        if (r != WaitResult::kReady) return WaitResultFail(r, timeout_code);
        char buf[4096];
        ssize_t n = ::recv(ctrl.Get(), buf, sizeof buf, 0);
        if (n == 0) return Break(kErrorFtpDropped);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return Break(ErrorFromErrno(errno), std::strerror(errno));
        }
        inbuf.append(buf, static_cast<size_t>(n));
    }
}

bool FtpConnection::State::ReadFinal(FtpReply& reply, Clock::time_point deadline,
                                     uint32_t timeout_code) {
    for (int preliminary = 0;; ++preliminary) {
        if (preliminary > kMaxPreliminaryReplies) return Break(kErrorInvalidServerResponse);
        if (!ReadOne(reply, deadline, timeout_code)) return false;
        if (reply.code >= 200) return true;
    }
}

bool FtpConnection::State::EnsureBinary() {
    if (type_binary) return true;
    FtpReply reply;
    if (!Simple("TYPE I\r\n", reply)) return false;
    if (reply.code >= 300) return Fail(kErrorExtended);
    type_binary = true;
    return true;
}

void FtpConnection::State::BeginTransfer(fs::UniqueFd conn, size_t due, bool final_due) {
    data = std::move(conn);
    replies_due = due;
    own_final_due = final_due;
    own_final = FtpReply();
    file_open = true;
}

// The data side goes first: a server stuck writing data reads no commands. A server whose write
// into a data connection we cut may end that transfer with a preliminary reply (pure-ftpd's
// "150 0.3 seconds"): no final reply follows for it then, only those of the later commands.
void FtpConnection::State::CloseData(bool cut_short) {
    if (!file_open) return;
    data.Reset();
    file_open = false;
    FtpReply reply;
    for (int preliminary = 0; replies_due > 0 && !broken && !core->aborted;) {
        if (!ReadOne(reply, IoDeadline())) break;
        const bool ends_transfer = reply.code >= 200 || (cut_short && own_final_due);
        if (!ends_transfer) {
            if (++preliminary > kMaxPreliminaryReplies) Break(kErrorInvalidServerResponse);
            continue;
        }
        if (own_final_due && reply.code >= 200) own_final = reply;
        own_final_due = false;
        --replies_due;
    }
    if (replies_due > 0) broken = true;
    replies_due = 0;
    own_final_due = false;
}

// ABOR after the data socket is gone. Most servers end the transfer with a final reply of its
// own (426, or 226 when it had ended) and then answer ABOR (225 or 226). Some end the transfer
// with a preliminary reply instead, and answer ABOR once: a 2xx after a preliminary reply ends
// the sequence, since nothing more will come. All replies share one idle limit: a server that
// does not answer costs that much once, and leaves the connection out of step.
bool FtpConnection::State::AbortTransfer() {
    data.Reset();
    file_open = false;
    size_t due = replies_due + 1;
    replies_due = 0;
    own_final_due = false;
    if (!Usable()) return false;
    const Clock::time_point deadline = IoDeadline();
    if (!SendLine("ABOR\r\n", deadline)) return false;
    FtpReply reply;
    bool after_preliminary = false;
    for (int preliminary = 0; due > 0;) {
        if (!ReadOne(reply, deadline)) return false;
        if (reply.code < 200) {
            if (++preliminary > kMaxPreliminaryReplies) return Break(kErrorInvalidServerResponse);
            after_preliminary = true;
            continue;
        }
        --due;
        if (after_preliminary && reply.code < 300) break;
    }
    return true;
}

}  // namespace fennic::inet
