// The helpers under the FTP client: the connect with a deadline and the split of line texts.
#include "inet/socket_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "fs/unique_fd.h"
#include "inet/text_lines.h"
#include "tests/fixtures/fixtures.h"

namespace fennic::inet {
namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

fs::UniqueFd NonBlockingSocket() {
    return fs::UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

// A listener whose queue is full: a further connect neither completes nor fails.
struct FullListener {
    fs::UniqueFd listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    fs::UniqueFd filler{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in addr = Loopback(0);

    bool Start() {
        socklen_t len = sizeof addr;
        auto* sa = reinterpret_cast<sockaddr*>(&addr);
        return ::bind(listener.Get(), sa, sizeof addr) == 0 && ::listen(listener.Get(), 0) == 0 &&
               ::getsockname(listener.Get(), sa, &len) == 0 &&
               ::connect(filler.Get(), sa, sizeof addr) == 0;
    }
};

TEST(ConnectWithin, TellsConnectedFromRefused) {
    WakePipe wake;
    ASSERT_TRUE(wake.ok());
    const auto deadline = Clock::now() + std::chrono::seconds(5);

    fs::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in open_addr = Loopback(0);
    socklen_t len = sizeof open_addr;
    auto* sa = reinterpret_cast<sockaddr*>(&open_addr);
    ASSERT_EQ(::bind(listener.Get(), sa, sizeof open_addr), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    ASSERT_EQ(::getsockname(listener.Get(), sa, &len), 0);
    fs::UniqueFd ok = NonBlockingSocket();
    int err = -1;
    EXPECT_EQ(ConnectWithin(ok.Get(), sa, sizeof open_addr, wake.read_fd(), deadline, err),
              WaitResult::kReady);
    EXPECT_EQ(err, 0);

    // Nobody listens here: ready, but with the refusal as its error.
    sockaddr_in closed_addr = Loopback(fennic::test::FreePort());
    fs::UniqueFd refused = NonBlockingSocket();
    err = 0;
    EXPECT_EQ(ConnectWithin(refused.Get(), reinterpret_cast<sockaddr*>(&closed_addr),
                            sizeof closed_addr, wake.read_fd(), deadline, err),
              WaitResult::kReady);
    EXPECT_EQ(err, ECONNREFUSED);
}

TEST(ConnectWithin, PendingConnectEndsAtDeadlineOrWakeUp) {
    FullListener full;
    ASSERT_TRUE(full.Start());
    auto* sa = reinterpret_cast<sockaddr*>(&full.addr);
    WakePipe wake;
    ASSERT_TRUE(wake.ok());

    fs::UniqueFd late = NonBlockingSocket();
    int err = 0;
    const auto start = Clock::now();
    EXPECT_EQ(ConnectWithin(late.Get(), sa, sizeof full.addr, wake.read_fd(),
                            start + std::chrono::milliseconds(200), err),
              WaitResult::kTimeout);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));

    wake.Signal();
    fs::UniqueFd woken = NonBlockingSocket();
    EXPECT_EQ(ConnectWithin(woken.Get(), sa, sizeof full.addr, wake.read_fd(),
                            Clock::now() + std::chrono::seconds(30), err),
              WaitResult::kWoken);
}

TEST(CrLfLines, SplitsOnCrLfOnlyAndDropsEmptyLines) {
    EXPECT_TRUE(CrLfLines("").empty());
    EXPECT_TRUE(CrLfLines("\r\n\r\n").empty());
    EXPECT_EQ(CrLfLines("A: 1\r\nB: 2\r\n"), (std::vector<std::string>{"A: 1", "B: 2"}));
    // A last line without its end still counts.
    EXPECT_EQ(CrLfLines("NOOP\r\n\r\nPWD"), (std::vector<std::string>{"NOOP", "PWD"}));
    // A lone LF or CR stays inside its line, where the callers refuse it.
    EXPECT_EQ(CrLfLines("A: 1\nB: 2\r\nC\rD\r\n"),
              (std::vector<std::string>{"A: 1\nB: 2", "C\rD"}));
}

}  // namespace
}  // namespace fennic::inet
