// The data connection of a transfer, set up before its command: a listener named by PORT or
// EPRT that the server connects to (active), or our own connection to the port EPSV or PASV
// names (passive); then the wait for it and for the command's preliminary reply.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "inet/ftp_core.h"

namespace fennic::inet {

namespace {

// The PORT (IPv4) or EPRT (IPv6) line that names a local listener.
std::string PortCommand(const sockaddr_storage& local) {
    if (local.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&local);
        uint32_t a = ntohl(in->sin_addr.s_addr);
        unsigned p = ntohs(in->sin_port);
        return "PORT " + std::to_string(a >> 24) + "," + std::to_string((a >> 16) & 255) + "," +
               std::to_string((a >> 8) & 255) + "," + std::to_string(a & 255) + "," +
               std::to_string(p >> 8) + "," + std::to_string(p & 255) + "\r\n";
    }
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(&local);
    return "EPRT |2|" + AddressText(reinterpret_cast<const sockaddr*>(&local)) + "|" +
           std::to_string(ntohs(in6->sin6_port)) + "|\r\n";
}

}  // namespace

bool FtpConnection::State::OpenListener(fs::UniqueFd& listener) {
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
    FtpReply reply;
    if (!Simple(PortCommand(local), reply)) return false;
    if (reply.code >= 300) return Fail(kErrorExtended);
    listener = std::move(fd);
    return true;
}

// EPSV, or PASV once a server refused EPSV with 5xx; only the port of the reply is taken.
bool FtpConnection::State::PassivePort(uint16_t& port) {
    FtpReply reply;
    if (!epsv_refused) {
        if (!Simple("EPSV\r\n", reply)) return false;
        if (reply.code == 229) {
            if (!ParseEpsvReply(reply, port)) {
                return Fail(kErrorInvalidServerResponse, "EPSV reply");
            }
            return true;
        }
        if (reply.code < 500) {
            return Fail(reply.code >= 300 ? kErrorExtended : kErrorInvalidServerResponse);
        }
        epsv_refused = true;
    }
    if (!Simple("PASV\r\n", reply)) return false;
    if (reply.code != 227) {
        return Fail(reply.code >= 300 ? kErrorExtended : kErrorInvalidServerResponse);
    }
    if (!ParsePasvReply(reply, port)) {
        return Fail(kErrorInvalidServerResponse, "PASV reply");
    }
    return true;
}

// Asks for a passive port and connects to it at the control connection's peer: the address in
// the reply is never used, so a server cannot send us to another host.
bool FtpConnection::State::ConnectPassive(fs::UniqueFd& conn) {
    uint16_t port = 0;
    if (!PassivePort(port)) return false;
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
    int err = 0;
    const WaitResult r = ConnectWithin(fd.Get(), reinterpret_cast<sockaddr*>(&to), len,
                                       core->wake.read_fd(), IoDeadline(), err);
    if (r == WaitResult::kTimeout) return Fail(kErrorTimeout, "data connection");
    if (r == WaitResult::kWoken) return Fail(kErrorOperationCancelled);
    if (r != WaitResult::kReady) return Fail(kErrorInternal, std::strerror(err));
    // Said apart from the control connection, which did reach the server.
    if (err != 0) {
        return Fail(ErrorFromErrno(err), "the data connection to port " + std::to_string(port) +
                                             " failed: " + std::strerror(err));
    }
    conn = std::move(fd);
    return true;
}

bool FtpConnection::State::SamePeer(const sockaddr_storage& a) const {
    if (a.ss_family != peer.ss_family) return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr;
    }
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, 16) == 0;
}

// After the transfer command went out: waits for the server's data connection and its
// preliminary reply, in whichever order they come. final_due tells whether the closing 2xx reply
// is still to be read. A connection from another address is dropped and the wait goes on; if
// the wait then fails, its message says so.
bool FtpConnection::State::AwaitData(fs::UniqueFd& listener, fs::UniqueFd& conn, bool& final_due) {
    bool prelim = false, done = false;
    int preliminary = 0;
    std::string foreign;  // the address of a data connection that was refused
    const auto refused = [&](uint32_t code, bool unusable) {
        const std::string detail =
            foreign.empty()
                ? std::string()
                : "a data connection came from " + foreign + ", not from the server at " +
                      AddressText(reinterpret_cast<const sockaddr*>(&peer)) + ", and was refused";
        return unusable ? Break(code, detail) : Fail(code, detail);
    };
    Clock::time_point deadline = IoDeadline();
    while (!conn || !(prelim || done)) {
        size_t used = 0;
        FtpReply reply;
        bool have_reply = !done && ParseFtpReply(inbuf, reply, used) != ReplyParse::kIncomplete;
        int ready = 0;
        if (!have_reply) {
            WaitResult r = WaitFor(conn ? -1 : listener.Get(), POLLIN, done ? -1 : ctrl.Get(),
                                   POLLIN, core->wake.read_fd(), deadline, &ready);
            if (r == WaitResult::kTimeout && !foreign.empty()) return refused(kErrorTimeout, true);
            if (r != WaitResult::kReady) return WaitResultFail(r, kErrorTimeout);
        }
        if (ready & 1) {
            sockaddr_storage from{};
            socklen_t len = sizeof from;
            fs::UniqueFd fd(::accept4(listener.Get(), reinterpret_cast<sockaddr*>(&from), &len,
                                      SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (fd && SamePeer(from))
                conn = std::move(fd);
            else if (fd)
                foreign = AddressText(reinterpret_cast<const sockaddr*>(&from));
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
                return refused(kErrorExtended, false);
            }
        }
    }
    final_due = !done;
    return true;
}

}  // namespace fennic::inet
