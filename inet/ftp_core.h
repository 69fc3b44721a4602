#pragma once
// Inside the FTP client: what a session shares with its connections, and the state of one
// login. ftp_control.cpp holds the control channel (commands, replies, the end of a transfer),
// ftp_data.cpp the data connection's setup.

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/unique_fd.h"
#include "inet/errors.h"
#include "inet/ftp.h"
#include "inet/ftp_parse.h"
#include "inet/session_settings.h"
#include "inet/socket_util.h"
#include "inet/status.h"

namespace fennic::inet {

// A server may say "wait" a few times before it answers; endless such replies are an attack.
constexpr int kMaxPreliminaryReplies = 8;
// All reply texts one call collects, so that many long replies cannot fill memory either.
constexpr size_t kMaxCollectedReplyBytes = 4 * kMaxReplyBytes;

// CR or LF would end the command early and start another one of the server's choosing.
inline bool SafeArgument(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

struct FtpCore : SessionSettings {
    FtpCore() : SessionSettings(60000, 30000) {}

    WakePipe wake;
    std::atomic<bool> aborted{false};
    bool passive = false;
    std::atomic<bool> opened{false};
};

struct FtpConnection::State : FailureRecord {
    std::shared_ptr<FtpCore> core;
    fs::UniqueFd ctrl;
    std::string inbuf;
    std::string last_response;
    std::vector<int> last_codes;
    std::string last_reply;  // the last reply read: after kErrorExtended, the refusal
    bool broken = false;
    bool type_binary = false;
    bool passive = false;
    bool epsv_refused = false;  // once refused, PASV goes out directly
    bool file_open = false;
    uint64_t file_serial = 0;
    fs::UniqueFd data;
    size_t replies_due = 0;      // replies the open file's transfer still owes
    bool own_final_due = false;  // the first of them answers the transfer command itself
    FtpReply own_final;          // that answer, once read (code 0 before)
    sockaddr_storage peer{};

    Clock::time_point IoDeadline() const {
        return Clock::now() + std::chrono::milliseconds(core->io_ms);
    }
    // Failure that leaves the control connection unusable.
    bool Break(uint32_t code, const std::string& detail = "") {
        broken = true;
        return Fail(code, detail);
    }
    bool Usable() {
        if (core->aborted) return Fail(kErrorOperationCancelled);
        if (broken || !ctrl) return Fail(kErrorFtpDropped);
        return true;
    }
    // The start of every call: its own reply record, and nothing new while a file is open.
    bool BeginCall() {
        last_response.clear();
        last_codes.clear();
        last_reply.clear();
        if (!Usable()) return false;
        if (file_open) return Fail(kErrorFtpTransferInProgress);
        return true;
    }
    bool WaitResultFail(WaitResult r, uint32_t timeout_code);

    // Control channel (ftp_control.cpp).
    bool SendLine(const std::string& line, Clock::time_point deadline,
                  uint32_t timeout_code = kErrorTimeout);
    // Reads one reply; preliminary (1xx) replies are returned too.
    bool ReadOne(FtpReply& reply, Clock::time_point deadline,
                 uint32_t timeout_code = kErrorTimeout);
    // Reads replies up to the first that is not preliminary.
    bool ReadFinal(FtpReply& reply, Clock::time_point deadline,
                   uint32_t timeout_code = kErrorTimeout);
    bool Simple(const std::string& line, FtpReply& reply) {
        return SendLine(line, IoDeadline()) && ReadFinal(reply, IoDeadline());
    }
    bool EnsureBinary();
    // Greeting, USER, PASS when asked for, and TYPE I (ftp_session.cpp).
    bool Login(const std::string& user, const std::string& password, Clock::time_point deadline);

    // The open file's transfer (ftp_control.cpp).
    void BeginTransfer(fs::UniqueFd conn, size_t due, bool final_due);
    void CloseData(bool cut_short = false);  // cut_short: the data was not read to its end
    bool AbortTransfer();

    // Data connection (ftp_data.cpp).
    bool OpenListener(fs::UniqueFd& listener);
    bool PassivePort(uint16_t& port);
    bool ConnectPassive(fs::UniqueFd& conn);
    // The data connection's setup before its transfer command: a listener the server connects
    // to (active), or our own connection made already (passive).
    bool PrepareData(fs::UniqueFd& listener, fs::UniqueFd& conn) {
        return passive ? ConnectPassive(conn) : OpenListener(listener);
    }
    bool SamePeer(const sockaddr_storage& a) const;
    bool AwaitData(fs::UniqueFd& listener, fs::UniqueFd& conn, bool& final_due);
};

}  // namespace fennic::inet
