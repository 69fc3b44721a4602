// The FTP session: its settings, Abort from any thread, and the connect of a login: name
// lookup, the control connection, greeting and login.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "inet/ftp_core.h"

namespace fennic::inet {

namespace {

struct Resolved {
    std::mutex mutex;
    addrinfo* list = nullptr;
    int rc = EAI_FAIL;
    WakePipe done;
    ~Resolved() {
        if (list) ::freeaddrinfo(list);
    }
};

// Why a step of Connect failed.
struct ConnectFailure {
    uint32_t code = kErrorNone;
    std::string detail;
};

bool Failed(ConnectFailure& why, uint32_t code, const std::string& detail = "") {
    why.code = code;
    why.detail = detail;
    return false;
}

// Looks server up; its result is read under resolved's lock. A numeric address is taken at
// once, a name waits within the deadline.
bool Resolve(const std::string& server, uint16_t port, int wake, Clock::time_point deadline,
             const std::shared_ptr<Resolved>& resolved, ConnectFailure& why) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    std::string service = std::to_string(port);
    {
        addrinfo numeric = hints;
        numeric.ai_flags |= AI_NUMERICHOST;
        resolved->rc = ::getaddrinfo(server.c_str(), service.c_str(), &numeric, &resolved->list);
    }
    if (resolved->rc == 0) return true;
    // Name lookups cannot be interrupted: run one on a thread of its own that may outlive this
    // call when Abort() or the time limit comes first.
    if (!resolved->done.ok()) return Failed(why, kErrorOutOfHandles);
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
        return Failed(why, kErrorOutOfHandles);
    }
    WaitResult r = WaitFor(resolved->done.read_fd(), POLLIN, -1, 0, wake, deadline);
    if (r == WaitResult::kTimeout) return Failed(why, kErrorConnectTimeout);
    if (r == WaitResult::kWoken) return Failed(why, kErrorOperationCancelled);
    if (r != WaitResult::kReady) return Failed(why, kErrorInternal);
    return true;
}

// Tries the addresses in turn up to the first that takes the control connection.
bool ConnectControl(const addrinfo* list, const FtpCore& core, Clock::time_point deadline,
                    fs::UniqueFd& ctrl, sockaddr_storage& peer, ConnectFailure& why) {
    int last_errno = ECONNREFUSED;
    bool announced = false;
    for (const addrinfo* ai = list; ai && !ctrl; ai = ai->ai_next) {
        std::string addr = AddressText(ai->ai_addr);
        if (!announced) {
            core.Notify(kStatusNameResolved, addr);
            announced = true;
        }
        core.Notify(kStatusConnecting, addr);
        fs::UniqueFd fd(::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd) {
            last_errno = errno;
            continue;
        }
        int err = 0;
        const WaitResult r = ConnectWithin(fd.Get(), ai->ai_addr, ai->ai_addrlen,
                                           core.wake.read_fd(), deadline, err);
        if (r == WaitResult::kTimeout) return Failed(why, kErrorConnectTimeout);
        if (r == WaitResult::kWoken) return Failed(why, kErrorOperationCancelled);
        if (r != WaitResult::kReady || err != 0) {
            last_errno = err;
            continue;
        }
        std::memcpy(&peer, ai->ai_addr, ai->ai_addrlen);
        ctrl = std::move(fd);
        core.Notify(kStatusConnected, addr);
    }
    if (!ctrl) return Failed(why, ErrorFromErrno(last_errno), std::strerror(last_errno));
    return true;
}

}  // namespace

FtpSession::FtpSession() : FtpSession(std::make_shared<FtpCore>()) {}

FtpSession::FtpSession(std::shared_ptr<FtpCore> core)
    : SessionSetters(*core), core_(std::move(core)) {}
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

// Greeting, USER, PASS when asked for, and TYPE I. They share the connect limit: a server that
// never greets is cut by it.
bool FtpConnection::State::Login(const std::string& user, const std::string& password,
                                 Clock::time_point deadline) {
    FtpReply reply;
    auto step = [&](const std::string* line) -> bool {
        if (line && !SendLine(*line, deadline, kErrorConnectTimeout)) return false;
        return ReadFinal(reply, deadline, kErrorConnectTimeout);
    };
    if (!step(nullptr)) return false;
    if (reply.code != 220) return Fail(kErrorExtended);
    std::string user_line = "USER " + (user.empty() ? std::string("anonymous") : user) + "\r\n";
    if (!step(&user_line)) return false;
    if (reply.code == 331) {
        std::string pass_line =
            "PASS " + (user.empty() ? std::string("anonymous@") : password) + "\r\n";
        if (!step(&pass_line)) return false;
    }
    if (reply.code != 230 && reply.code != 202) return Fail(kErrorExtended);
    std::string type_line = "TYPE I\r\n";
    if (!step(&type_line)) return false;
    if (reply.code >= 300) return Fail(kErrorExtended);
    type_binary = true;
    return true;
}

std::unique_ptr<FtpConnection> FtpSession::Connect(const std::string& server, uint16_t port,
                                                   const std::string& user,
                                                   const std::string& password) {
    std::unique_ptr<FtpConnection> conn(new FtpConnection());
    FtpConnection::State& st = *conn->state_;
    st.core = core_;
    auto fail = [&](uint32_t code, const std::string& detail = "") {
        error_ = code;
        error_text_ = ErrorText(code, detail);
        response_ = st.last_response;
        reply_ = st.last_reply;
        return nullptr;
    };
    if (core_->aborted) return fail(kErrorOperationCancelled);
    if (!core_->opened) return fail(kErrorIncorrectHandleState);
    if (!SafeArgument(user) || !SafeArgument(password)) return fail(kErrorInvalidOption, "login");
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(core_->connect_ms);

    core_->Notify(kStatusResolvingName, server);
    ConnectFailure why;
    auto resolved = std::make_shared<Resolved>();
    if (!Resolve(server, port, core_->wake.read_fd(), deadline, resolved, why)) {
        return fail(why.code, why.detail);
    }
    {
        std::lock_guard<std::mutex> lock(resolved->mutex);
        if (resolved->rc != 0 || !resolved->list) {
            return fail(kErrorNameNotResolved, ::gai_strerror(resolved->rc));
        }
        if (!ConnectControl(resolved->list, *core_, deadline, st.ctrl, st.peer, why)) {
            return fail(why.code, why.detail);
        }
    }
    if (!st.Login(user, password, deadline)) return fail(st.error);
    st.passive = core_->passive;
    error_ = 0;
    error_text_.clear();
    response_ = st.last_response;
    reply_ = st.last_reply;
    return conn;
}

}  // namespace fennic::inet
