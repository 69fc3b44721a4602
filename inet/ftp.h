#pragma once
// Our own FTP client over POSIX sockets: login, binary type, active or passive data
// connections, reads from an offset.
//
// Every data connection is set up the same way, before its transfer command. Active (the
// default): PORT (IPv4) or EPRT (IPv6), and the server connects to us. Passive
// (FtpSession::SetPassive): EPSV, or PASV once the server refused EPSV with 5xx; we connect to
// the control connection's peer address at the port the reply names, never to an address the
// reply names. Below, DATA stands for these commands.
//
// What the server receives, per call:
//   Connect:    USER name (or USER anonymous), PASS (when asked for), TYPE I
//   FindFile:   SIZE path; only when the server does not know SIZE (500/502): DATA and
//               LIST path, whose Unix or DOS listing line gives the size
//   OpenFile:   DATA, RETR path
//   OpenFileAt: DATA, REST offset (when offset > 0), RETR path
//   Command:    the commands of the text exactly as given, one line each, each reply read before
//               the next line goes out. With expect_data, DATA goes out before the first
//               transfer command (RETR, LIST, NLST), or before the REST standing directly in
//               front of it, so that REST stays right before RETR. Commands after the transfer
//               command go out after its preliminary reply; their replies are read when the
//               data file is closed.
//   FtpFile::Abort: ABOR, after the data socket is closed
//   Close:      QUIT
// Every blocking wait has a time limit and can be woken by Abort() from any thread; a pending
// connect then fails with kErrorOperationCancelled. Calls return false with LastError() set;
// kErrorExtended means the server refused: LastReply() is the reply that refused, and
// LastResponse() holds every reply text of the call. A data connection from another address
// than the server's is dropped and the wait goes on; a failure of that wait says so.
// More than 8 preliminary (1xx) replies to one command, or more than 256 KiB of reply text in
// one call, fail with kErrorInvalidServerResponse and leave the connection unusable.
// A user, password or path holding CR, LF or NUL is refused with kErrorInvalidOption before
// anything goes out, so no second command can ride along.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inet/errors.h"
#include "inet/session_settings.h"
#include "inet/status.h"

namespace fennic::inet {

struct FtpCore;
class FtpConnection;
class FtpFile;

struct FtpFileInfo {
    uint64_t size = 0;
};

// The failure of a session's or a file's last call: its number, text and the server's reply.
class FtpFailure {
public:
    uint32_t LastError() const { return error_; }
    std::string LastErrorText() const { return error_text_; }
    std::string LastResponse() const { return response_; }
    // The reply that refused (kErrorExtended), or the last one read.
    std::string LastReply() const { return reply_; }

protected:
    uint32_t error_ = 0;
    std::string error_text_;
    std::string response_;
    std::string reply_;
};

// LastResponse(): the reply text of the failed login, if any.
// SetTimeouts: the limit for connect, greeting and login together (kErrorConnectTimeout when
// passed), and the idle limit of every later wait (kErrorTimeout). Defaults 60000 and 30000 ms.
// SetRateFloor: a data connection that brings fewer than bytes_per_second * seconds bytes in
// any window of that many seconds (counted from its first Read) fails with kErrorTimeout,
// however steadily it trickles. Defaults kRateFloorBytesPerSecond and kRateFloorSeconds;
// seconds 0 switches the floor off.
class FtpSession : public FtpFailure, public SessionSetters {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // proxy must be empty: FTP through a proxy fails with kErrorProxyNotSupported.
    bool Open(const std::string& agent, const std::string& proxy);
    // Data connections of the connections made afterwards: passive when true, active (the
    // default) when false.
    void SetPassive(bool passive);

    // Connects and logs in; may run on a thread of its own while another thread calls Abort().
    // Empty user: anonymous login (password ignored).
    std::unique_ptr<FtpConnection> Connect(const std::string& server, uint16_t port,
                                           const std::string& user, const std::string& password);

    // Any thread: wakes every pending wait of this session and its connections; they fail with
    // kErrorOperationCancelled. Later calls fail the same way.
    void Abort();
    // Abort() and no further connects: like closing the session handle, it also ends a pending
    // connect on another thread. Connections made earlier fail from now on.
    void Close();

private:
    explicit FtpSession(std::shared_ptr<FtpCore> core);

    std::shared_ptr<FtpCore> core_;
};

class FtpConnection {
public:
    ~FtpConnection();  // closes any open file first, then sends QUIT

    // Looks the file up: true with its size when the server knows it. Not found: false with
    // kErrorExtended (the server's reply in LastResponse()).
    bool FindFile(const std::string& path, FtpFileInfo& info);
    // The file's modification time as MDTM gives it (YYYYMMDDHHMMSS[.sss], UTC); true with an
    // empty time when the server has no MDTM. Another refusal fails with kErrorExtended.
    bool ModifiedTime(const std::string& path, std::string& time);
    // Binary RETR of path.
    std::unique_ptr<FtpFile> OpenFile(const std::string& path);
    // Binary RETR of path from byte offset on. A REST the server does not accept (any reply
    // but 350) fails with kErrorExtended before RETR goes out: the data would start at 0.
    // A 227/229 reply that cannot be parsed fails with kErrorInvalidServerResponse, a data
    // connection not made within the idle limit with kErrorTimeout; the control connection
    // stays usable after both.
    std::unique_ptr<FtpFile> OpenFileAt(const std::string& path, uint64_t offset);
    // Raw command text (lines ending in "\r\n"). False when a line cannot be sent, the last
    // reply is 4xx/5xx (kErrorExtended), or, with expect_data, no data connection is made.
    // A line holding a lone CR, LF or NUL refuses the whole text (kErrorInvalidOption) before
    // anything goes out. data receives the data file when expect_data is on.
    bool Command(const std::string& text, bool expect_data, std::unique_ptr<FtpFile>* data);

    // All reply texts of the last call, in order, each line ending in "\r\n".
    std::string LastResponse() const;
    // The codes of those replies, in the same order (preliminary replies included).
    std::vector<int> LastReplyCodes() const;
    // The last of them: after kErrorExtended, the reply that refused.
    std::string LastReply() const;
    uint32_t LastError() const;
    std::string LastErrorText() const;

    void Close();

private:
    friend class FtpSession;
    friend class FtpFile;
    struct State;
    FtpConnection();
    std::unique_ptr<FtpFile> NewFile();  // the file of the transfer just begun
    std::shared_ptr<State> state_;
};

// LastResponse(): the failing final reply of Close().
class FtpFile : public FtpFailure {
public:
    ~FtpFile();
    // Up to size bytes; got = 0 at the end of the file.
    bool Read(void* buffer, size_t size, size_t& got);
    // Closes the data socket first, then reads the replies still due (226/426 and those of any
    // commands sent after the transfer command), each within the idle limit. False with
    // kErrorExtended when the data was read to its end and the transfer command's own final
    // reply is 4xx/5xx; the replies to later commands never decide.
    bool Close();
    // Ends the transfer before its end and keeps the connection for the next one: closes the
    // data socket, sends ABOR and reads the replies still due (those Close() reads, then the
    // one to ABOR; e.g. 426 and 226, or 225) within one idle limit. False when they do not all
    // come in time (kErrorTimeout) or the connection fails; it is then unusable. With the
    // data read to its end there is nothing to abort, and this is Close().
    bool Abort();

private:
    friend class FtpConnection;
    FtpFile() = default;
    bool Mine() const;
    std::shared_ptr<FtpConnection::State> conn_;
    uint64_t serial_ = 0;
    bool eof_ = false;
    bool window_started_ = false;  // the rate floor's window
    std::chrono::steady_clock::time_point window_start_;
    uint64_t window_bytes_ = 0;
};

}  // namespace fennic::inet
