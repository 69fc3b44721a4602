#include "inet/ftp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp_parse.h"
#include "inet/socket_util.h"

namespace fennic::inet {

namespace {

// A server may say "wait" a few times before it answers; endless such replies are an attack.
constexpr int kMaxPreliminaryReplies = 8;
// All reply texts one call collects, so that many long replies cannot fill memory either.
constexpr size_t kMaxCollectedReplyBytes = 4 * kMaxReplyBytes;

}  // namespace

struct FtpCore {
    WakePipe wake;
    std::atomic<bool> aborted{false};
    StatusCallback callback;
    uint32_t connect_ms = 60000;
    uint32_t io_ms = 30000;
    uint32_t floor_bps = kRateFloorBytesPerSecond;
    uint32_t floor_seconds = kRateFloorSeconds;
    bool passive = false;
    std::atomic<bool> opened{false};

    void Notify(uint32_t status, const std::string& info) const {
        if (callback) callback(status, info);
    }
};

struct FtpConnection::State {
    std::shared_ptr<FtpCore> core;
    fs::UniqueFd ctrl;
    std::string inbuf;
    std::string last_response;
    std::vector<int> last_codes;
    uint32_t error = 0;
    std::string error_text;
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

    // The data side goes first: a server stuck writing data reads no commands.
    void CloseData() {
        if (!file_open) return;
        data.Reset();
        file_open = false;
        FtpReply reply;
        for (; replies_due > 0 && !broken && !core->aborted; --replies_due) {
            if (!ReadFinal(reply, IoDeadline())) break;
            if (own_final_due) own_final = reply;
            own_final_due = false;
        }
        if (replies_due > 0) broken = true;
        replies_due = 0;
        own_final_due = false;
    }

    void BeginTransfer(fs::UniqueFd conn, size_t due, bool final_due) {
        data = std::move(conn);
        replies_due = due;
        own_final_due = final_due;
        own_final = FtpReply();
        file_open = true;
    }

    // ABOR after the data socket is gone. All replies share one idle limit: a server that
    // does not answer costs that much once, and leaves the connection out of step.
    bool AbortTransfer() {
        data.Reset();
        file_open = false;
        size_t due = replies_due + 1;
        replies_due = 0;
        own_final_due = false;
        if (!Usable()) return false;
        const Clock::time_point deadline = IoDeadline();
        if (!SendLine("ABOR\r\n", deadline)) return false;
        FtpReply reply;
        for (; due > 0; --due) {
            if (!ReadFinal(reply, deadline)) return false;
        }
        return true;
    }

    Clock::time_point IoDeadline() const {
        return Clock::now() + std::chrono::milliseconds(core->io_ms);
    }
    bool Fail(uint32_t code, const std::string& detail = "") {
        error = code;
        error_text = ErrorText(code);
        if (!detail.empty()) error_text += ": " + detail;
        return false;
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
    bool WaitResultFail(WaitResult r, uint32_t timeout_code) {
        switch (r) {
            case WaitResult::kTimeout:
                return Break(timeout_code);
            case WaitResult::kWoken:
                return Break(kErrorOperationCancelled);
            default:
                return Break(kErrorInternal, std::strerror(errno));
        }
    }

    bool SendLine(const std::string& line, Clock::time_point deadline,
                  uint32_t timeout_code = kErrorTimeout) {
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

    // Reads one reply; preliminary (1xx) replies are returned too.
    bool ReadOne(FtpReply& reply, Clock::time_point deadline,
                 uint32_t timeout_code = kErrorTimeout) {
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

    // Reads replies up to the first that is not preliminary.
    bool ReadFinal(FtpReply& reply, Clock::time_point deadline,
                   uint32_t timeout_code = kErrorTimeout) {
        for (int preliminary = 0;; ++preliminary) {
            if (preliminary > kMaxPreliminaryReplies) return Break(kErrorInvalidServerResponse);
            if (!ReadOne(reply, deadline, timeout_code)) return false;
            if (reply.code >= 200) return true;
        }
    }

    bool Simple(const std::string& line, FtpReply& reply) {
        return SendLine(line, IoDeadline()) && ReadFinal(reply, IoDeadline());
    }

    bool EnsureBinary() {
        if (type_binary) return true;
        FtpReply reply;
        if (!Simple("TYPE I\r\n", reply)) return false;
        if (reply.code >= 300) return Fail(kErrorExtended);
        type_binary = true;
        return true;
    }

    bool OpenListener(fs::UniqueFd& listener) {
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        if (::getsockname(ctrl.Get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
            return Fail(kErrorInternal, std::strerror(errno));
        }
        if (local.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&local)->sin_port = 0;
        } else {
            reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = 0;
        }
        fs::UniqueFd fd(::socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) return Fail(kErrorOutOfHandles, std::strerror(errno));
        if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), len) != 0 ||
            ::listen(fd.Get(), 1) != 0) {
            return Fail(kErrorInternal, std::strerror(errno));
        }
        len = sizeof local;
        if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
            return Fail(kErrorInternal, std::strerror(errno));
        }
        std::string line;
        if (local.ss_family == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&local);
            uint32_t a = ntohl(in->sin_addr.s_addr);
            unsigned p = ntohs(in->sin_port);
            line = "PORT " + std::to_string(a >> 24) + "," + std::to_string((a >> 16) & 255) + "," +
                   std::to_string((a >> 8) & 255) + "," + std::to_string(a & 255) + "," +
                   std::to_string(p >> 8) + "," + std::to_string(p & 255) + "\r\n";
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
            line = "EPRT |2|" + AddressText(reinterpret_cast<sockaddr*>(&local)) + "|" +
                   std::to_string(ntohs(in6->sin6_port)) + "|\r\n";
        }
        FtpReply reply;
        if (!Simple(line, reply)) return false;
        if (reply.code >= 300) return Fail(kErrorExtended);
        listener = std::move(fd);
        return true;
    }

    // Asks for a passive port and connects to it at the control connection's peer: the
    // address in the reply is never used, so a server cannot send us to another host.
    bool ConnectPassive(fs::UniqueFd& conn) {
        FtpReply reply;
        uint16_t port = 0;
        bool have_port = false;
        if (!epsv_refused) {
            if (!Simple("EPSV\r\n", reply)) return false;
            if (reply.code == 229) {
                if (!ParseEpsvReply(reply, port)) {
                    return Fail(kErrorInvalidServerResponse, "EPSV reply");
                }
                have_port = true;
            } else if (reply.code >= 500) {
                epsv_refused = true;
            } else {
                return Fail(reply.code >= 300 ? kErrorExtended : kErrorInvalidServerResponse);
            }
        }
        if (!have_port) {
            if (!Simple("PASV\r\n", reply)) return false;
            if (reply.code != 227) {
                return Fail(reply.code >= 300 ? kErrorExtended : kErrorInvalidServerResponse);
            }
            if (!ParsePasvReply(reply, port)) {
                return Fail(kErrorInvalidServerResponse, "PASV reply");
            }
        }
        sockaddr_storage to = peer;
        socklen_t len = sizeof(sockaddr_in6);
        if (to.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(port);
            len = sizeof(sockaddr_in);
        } else {
            reinterpret_cast<sockaddr_in6*>(&to)->sin6_port = htons(port);
        }
        // No command is outstanding here, so a failed connect leaves the control side in step.
        fs::UniqueFd fd(::socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) return Fail(kErrorOutOfHandles, std::strerror(errno));
        if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), len) != 0) {
            if (errno != EINPROGRESS) return Fail(ErrorFromErrno(errno), std::strerror(errno));
            WaitResult r = WaitFor(fd.Get(), POLLOUT, -1, 0, core->wake.read_fd(), IoDeadline());
            if (r == WaitResult::kTimeout) return Fail(kErrorTimeout, "data connection");
            if (r == WaitResult::kWoken) return Fail(kErrorOperationCancelled);
            if (r != WaitResult::kReady) return Fail(kErrorInternal, std::strerror(errno));
            int soerr = 0;
            socklen_t soerr_len = sizeof soerr;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &soerr, &soerr_len) != 0) {
                soerr = errno;
            }
            if (soerr != 0) return Fail(ErrorFromErrno(soerr), std::strerror(soerr));
        }
        conn = std::move(fd);
        return true;
    }

    // The data connection's setup before its transfer command: a listener the server connects
    // to (active), or our own connection made already (passive).
    bool PrepareData(fs::UniqueFd& listener, fs::UniqueFd& conn) {
        return passive ? ConnectPassive(conn) : OpenListener(listener);
    }

    bool SamePeer(const sockaddr_storage& a) const {
        if (a.ss_family != peer.ss_family) return false;
        if (a.ss_family == AF_INET) {
            return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
                   reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr;
        }
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, 16) == 0;
    }

    // After the transfer command went out: waits for the server's data connection and its
    // preliminary reply, in whichever order they come. final_due tells whether the closing
    // 2xx reply is still to be read.
    bool AwaitData(fs::UniqueFd& listener, fs::UniqueFd& conn, bool& final_due) {
        bool prelim = false, done = false;
        int preliminary = 0;
        Clock::time_point deadline = IoDeadline();
        while (!conn || !(prelim || done)) {
            size_t used = 0;
            FtpReply reply;
            bool have_reply = !done && ParseFtpReply(inbuf, reply, used) != ReplyParse::kIncomplete;
            int ready = 0;
            if (!have_reply) {
                WaitResult r = WaitFor(conn ? -1 : listener.Get(), POLLIN, done ? -1 : ctrl.Get(),
                                       POLLIN, core->wake.read_fd(), deadline, &ready);
                if (r != WaitResult::kReady) return WaitResultFail(r, kErrorTimeout);
            }
            if (ready & 1) {
                sockaddr_storage from{};
                socklen_t len = sizeof from;
                fs::UniqueFd fd(::accept4(listener.Get(), reinterpret_cast<sockaddr*>(&from), &len,
                                          SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (fd && SamePeer(from)) conn = std::move(fd);
            }
            if (have_reply || (ready & 2)) {
                if (!ReadOne(reply, deadline)) return false;
                if (reply.code < 200) {
                    if (++preliminary > kMaxPreliminaryReplies) {
                        return Break(kErrorInvalidServerResponse);
                    }
                    prelim = true;
                } else if (reply.code < 300) {
                    done = true;  // all data already sent; its connection waits in the backlog
                } else {
                    return Fail(kErrorExtended);
                }
            }
        }
        final_due = !done;
        return true;
    }
};

namespace {

// CR or LF would end the command early and start another one of the server's choosing.
bool SafeArgument(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string Verb(const std::string& line) {
    size_t end = line.find_first_of(" \r\n");
    std::string v = line.substr(0, end);
    for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return v;
}

bool IsTransferVerb(const std::string& v) {
    return v == "RETR" || v == "LIST" || v == "NLST" || v == "MLSD" || v == "STOR" || v == "APPE" ||
           v == "STOU";
}

// Splits a command text into lines that keep their bytes; each gets its CR LF.
std::vector<std::string> CommandLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 2;
        if (!line.empty()) lines.push_back(line + "\r\n");
    }
    return lines;
}

struct Resolved {
    std::mutex mutex;
    addrinfo* list = nullptr;
    int rc = EAI_FAIL;
    WakePipe done;
    ~Resolved() {
        if (list) ::freeaddrinfo(list);
    }
};

}  // namespace

// ---- FtpSession

FtpSession::FtpSession() : core_(std::make_shared<FtpCore>()) {}
FtpSession::~FtpSession() {
    Close();
}

bool FtpSession::Open(const std::string& agent, const std::string& proxy) {
    (void)agent;  // FTP has no place for it
    if (!proxy.empty()) {
        error_ = kErrorProxyNotSupported;
        error_text_ = ErrorText(error_);
        return false;
    }
    if (!core_->wake.ok()) {
        error_ = kErrorOutOfHandles;
        error_text_ = ErrorText(error_);
        return false;
    }
    core_->opened = true;
    return true;
}

void FtpSession::SetStatusCallback(StatusCallback callback) {
    core_->callback = std::move(callback);
}

void FtpSession::SetTimeouts(uint32_t connect_ms, uint32_t io_ms) {
    core_->connect_ms = connect_ms;
    core_->io_ms = io_ms;
}

void FtpSession::SetRateFloor(uint32_t bytes_per_second, uint32_t seconds) {
    core_->floor_bps = bytes_per_second;
    core_->floor_seconds = seconds;
}

void FtpSession::SetPassive(bool passive) {
    core_->passive = passive;
}

void FtpSession::Abort() {
    core_->aborted = true;
    core_->wake.Signal();
}

void FtpSession::Close() {
    core_->opened = false;
    Abort();
}

uint32_t FtpSession::LastError() const {
    return error_;
}
std::string FtpSession::LastErrorText() const {
    return error_text_;
}
std::string FtpSession::LastResponse() const {
    return response_;
}

std::unique_ptr<FtpConnection> FtpSession::Connect(const std::string& server, uint16_t port,
                                                   const std::string& user,
                                                   const std::string& password) {
    std::unique_ptr<FtpConnection> conn(new FtpConnection());
    FtpConnection::State& st = *conn->state_;
    st.core = core_;
    auto fail = [&](uint32_t code, const std::string& detail = "") {
        error_ = code;
        error_text_ = ErrorText(code);
        if (!detail.empty()) error_text_ += ": " + detail;
        response_ = st.last_response;
        return nullptr;
    };
    if (core_->aborted) return fail(kErrorOperationCancelled);
    if (!core_->opened) return fail(kErrorIncorrectHandleState);
    if (!SafeArgument(user) || !SafeArgument(password)) return fail(kErrorInvalidOption, "login");
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(core_->connect_ms);
    const int wake = core_->wake.read_fd();

    core_->Notify(kStatusResolvingName, server);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    std::string service = std::to_string(port);
    auto resolved = std::make_shared<Resolved>();
    {
        addrinfo numeric = hints;
        numeric.ai_flags |= AI_NUMERICHOST;
        resolved->rc = ::getaddrinfo(server.c_str(), service.c_str(), &numeric, &resolved->list);
    }
    if (resolved->rc != 0) {
        // Name lookups cannot be interrupted: run one on a thread of its own that may outlive
        // this call when Abort() or the time limit comes first.
        if (!resolved->done.ok()) return fail(kErrorOutOfHandles);
        try {
            std::thread([resolved, server, service, hints] {
                addrinfo* list = nullptr;
                int rc = ::getaddrinfo(server.c_str(), service.c_str(), &hints, &list);
                std::lock_guard<std::mutex> lock(resolved->mutex);
                resolved->list = list;
                resolved->rc = rc;
                resolved->done.Signal();
            }).detach();
        } catch (const std::system_error&) {
            return fail(kErrorOutOfHandles);
        }
        WaitResult r = WaitFor(resolved->done.read_fd(), POLLIN, -1, 0, wake, deadline);
        if (r == WaitResult::kTimeout) return fail(kErrorConnectTimeout);
        if (r == WaitResult::kWoken) return fail(kErrorOperationCancelled);
        if (r != WaitResult::kReady) return fail(kErrorInternal);
    }
    std::lock_guard<std::mutex> lock(resolved->mutex);
    if (resolved->rc != 0 || !resolved->list) {
        return fail(kErrorNameNotResolved, ::gai_strerror(resolved->rc));
    }

    int last_errno = ECONNREFUSED;
    bool announced = false;
    for (addrinfo* ai = resolved->list; ai && !st.ctrl; ai = ai->ai_next) {
        std::string addr = AddressText(ai->ai_addr);
        if (!announced) {
            core_->Notify(kStatusNameResolved, addr);
            announced = true;
        }
        core_->Notify(kStatusConnecting, addr);
        fs::UniqueFd fd(::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) {
            last_errno = errno;
            continue;
        }
        if (::connect(fd.Get(), ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                last_errno = errno;
                continue;
            }
            WaitResult r = WaitFor(fd.Get(), POLLOUT, -1, 0, wake, deadline);
            if (r == WaitResult::kTimeout) return fail(kErrorConnectTimeout);
            if (r == WaitResult::kWoken) return fail(kErrorOperationCancelled);
            int soerr = 0;
            socklen_t len = sizeof soerr;
            ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &soerr, &len);
            if (r != WaitResult::kReady || soerr != 0) {
                last_errno = soerr ? soerr : errno;
                continue;
            }
        }
        std::memcpy(&st.peer, ai->ai_addr, ai->ai_addrlen);
        st.ctrl = std::move(fd);
        core_->Notify(kStatusConnected, addr);
    }
    if (!st.ctrl) return fail(ErrorFromErrno(last_errno), std::strerror(last_errno));

    // Greeting and login share the connect limit: a server that never greets is cut by it.
    FtpReply reply;
    auto step = [&](const std::string* line) -> bool {
        if (line && !st.SendLine(*line, deadline, kErrorConnectTimeout)) return false;
        return st.ReadFinal(reply, deadline, kErrorConnectTimeout);
    };
    if (!step(nullptr)) return fail(st.error);
    if (reply.code != 220) return fail(kErrorExtended);
    std::string user_line = "USER " + (user.empty() ? std::string("anonymous") : user) + "\r\n";
    if (!step(&user_line)) return fail(st.error);
    if (reply.code == 331) {
        std::string pass_line =
            "PASS " + (user.empty() ? std::string("anonymous@") : password) + "\r\n";
        if (!step(&pass_line)) return fail(st.error);
    }
    if (reply.code != 230 && reply.code != 202) return fail(kErrorExtended);
    std::string type_line = "TYPE I\r\n";
    if (!step(&type_line)) return fail(st.error);
    if (reply.code >= 300) return fail(kErrorExtended);
    st.type_binary = true;
    st.passive = core_->passive;
    error_ = 0;
    error_text_.clear();
    response_ = st.last_response;
    return conn;
}

// ---- FtpConnection

FtpConnection::FtpConnection() : state_(std::make_shared<State>()) {}
FtpConnection::~FtpConnection() {
    Close();
}

std::string FtpConnection::LastResponse() const {
    return state_->last_response;
}
std::vector<int> FtpConnection::LastReplyCodes() const {
    return state_->last_codes;
}
uint32_t FtpConnection::LastError() const {
    return state_->error;
}
std::string FtpConnection::LastErrorText() const {
    return state_->error_text;
}

bool FtpConnection::FindFile(const std::string& path, FtpFileInfo& info) {
    State& st = *state_;
    st.last_response.clear();
    st.last_codes.clear();
    if (!st.Usable()) return false;
    if (st.file_open) return st.Fail(kErrorFtpTransferInProgress);
    if (!SafeArgument(path)) return st.Fail(kErrorInvalidOption, "path");
    FtpReply reply;
    if (!st.Simple("SIZE " + path + "\r\n", reply)) return false;
    if (reply.code == 213) {
        if (!ParseSizeReply(reply, info.size)) return st.Fail(kErrorInvalidServerResponse);
        return true;
    }
    if (reply.code != 500 && reply.code != 502 && reply.code != 504) {
        return st.Fail(kErrorExtended);
    }
    // No SIZE here: list the path and take the size from its line.
    std::unique_ptr<FtpFile> listing;
    if (!Command("LIST " + path + "\r\n", true, &listing)) return false;
    std::string text;
    char buf[4096];
    size_t got = 0;
    while (listing->Read(buf, sizeof buf, got) && got > 0 && text.size() < (1u << 20)) {
        text.append(buf, got);
    }
    uint32_t read_error = listing->LastError();
    listing->Close();
    if (read_error) return st.Fail(read_error);
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line(text.data() + pos,
                              (nl == std::string::npos ? text.size() : nl) - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        FtpListEntry entry;
        if (ParseListLine(line, entry) && !entry.is_dir &&
            (entry.name == base || entry.name == path)) {
            info.size = entry.size;
            return true;
        }
    }
    return st.Fail(kErrorExtended);
}

std::unique_ptr<FtpFile> FtpConnection::OpenFile(const std::string& path) {
    return OpenFileAt(path, 0);
}

std::unique_ptr<FtpFile> FtpConnection::OpenFileAt(const std::string& path, uint64_t offset) {
    State& st = *state_;
    st.last_response.clear();
    st.last_codes.clear();
    if (!st.Usable()) return nullptr;
    if (st.file_open) {
        st.Fail(kErrorFtpTransferInProgress);
        return nullptr;
    }
    if (!SafeArgument(path)) {
        st.Fail(kErrorInvalidOption, "path");
        return nullptr;
    }
    if (!st.EnsureBinary()) return nullptr;
    fs::UniqueFd listener, conn;
    if (!st.PrepareData(listener, conn)) return nullptr;
    if (offset > 0) {
        FtpReply reply;
        if (!st.Simple("REST " + std::to_string(offset) + "\r\n", reply)) return nullptr;
        if (reply.code != 350) {
            st.Fail(kErrorExtended);
            return nullptr;
        }
    }
    if (!st.SendLine("RETR " + path + "\r\n", st.IoDeadline())) return nullptr;
    bool final_due = true;
    if (!st.AwaitData(listener, conn, final_due)) return nullptr;
    st.BeginTransfer(std::move(conn), final_due ? 1 : 0, final_due);
    st.error = 0;
    return NewFile();
}

std::unique_ptr<FtpFile> FtpConnection::NewFile() {
    std::unique_ptr<FtpFile> file(new FtpFile());
    file->conn_ = state_;
    file->serial_ = ++state_->file_serial;
    return file;
}

bool FtpConnection::Command(const std::string& text, bool expect_data,
                            std::unique_ptr<FtpFile>* data) {
    State& st = *state_;
    st.last_response.clear();
    st.last_codes.clear();
    if (data) data->reset();
    if (!st.Usable()) return false;
    if (st.file_open) return st.Fail(kErrorFtpTransferInProgress);
    std::vector<std::string> lines = CommandLines(text);
    if (lines.empty()) return st.Fail(kErrorInvalidOption);
    for (const std::string& line : lines) {
        if (!SafeArgument(line.substr(0, line.size() - 2))) {
            return st.Fail(kErrorInvalidOption, "command");
        }
    }
    size_t transfer = lines.size(), port_at = lines.size();
    if (expect_data) {
        for (size_t i = 0; i < lines.size() && transfer == lines.size(); ++i) {
            if (IsTransferVerb(Verb(lines[i]))) transfer = i;
        }
        if (transfer == lines.size() || !data) return st.Fail(kErrorInvalidOption);
        port_at = (transfer > 0 && Verb(lines[transfer - 1]) == "REST") ? transfer - 1 : transfer;
    }
    FtpReply reply;
    fs::UniqueFd listener, conn;
    bool refused = false;  // the data connection could not be set up; keep replies in step
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == port_at && !refused && !st.PrepareData(listener, conn)) {
            if (st.broken || st.error != kErrorExtended) return false;
            refused = true;
        }
        if (i == transfer && !refused) {
            if (!st.SendLine(lines[i], st.IoDeadline())) return false;
            bool final_due = true;
            if (!st.AwaitData(listener, conn, final_due)) {
                if (st.broken || st.error != kErrorExtended) return false;
                refused = true;
                continue;
            }
            // Later commands go out now; the server answers them once the transfer is over.
            size_t after = lines.size() - i - 1;
            for (size_t k = i + 1; k < lines.size(); ++k) {
                if (!st.SendLine(lines[k], st.IoDeadline())) return false;
            }
            st.BeginTransfer(std::move(conn), after + (final_due ? 1 : 0), final_due);
            *data = NewFile();
            return true;
        }
        if (!st.Simple(lines[i], reply)) return false;
    }
    if (refused) return st.Fail(kErrorExtended);
    if (reply.code >= 400) return st.Fail(kErrorExtended);
    st.error = 0;
    return true;
}

void FtpConnection::Close() {
    State& st = *state_;
    st.CloseData();
    if (!st.ctrl) return;
    if (!st.broken && !st.core->aborted && !st.file_open) {
        FtpReply reply;
        Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(std::min<uint32_t>(st.core->io_ms, 2000));
        if (st.SendLine("QUIT\r\n", deadline)) st.ReadFinal(reply, deadline);
    }
    st.ctrl.Reset();
    st.broken = true;
}

// ---- FtpFile

FtpFile::~FtpFile() {
    Close();
}
uint32_t FtpFile::LastError() const {
    return error_;
}
std::string FtpFile::LastResponse() const {
    return response_;
}
std::string FtpFile::LastErrorText() const {
    return error_text_;
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
        conn_->CloseData();
        // Only data read to its end is judged: after we stopped early, a 426 is our own doing.
        const FtpReply& reply = conn_->own_final;
        if (eof_ && reply.code >= 400) {
            error_ = kErrorExtended;
            error_text_ = ErrorText(error_);
            response_ = reply.text;
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
