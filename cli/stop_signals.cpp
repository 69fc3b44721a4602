#include "cli/stop_signals.h"

#include <signal.h>

#include <atomic>
#include <initializer_list>

namespace fennic::cli {
namespace {

// Set in the handler, read by the threads that cancel transfers: a lock-free atomic is safe in
// both places.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int sig) {
    g_stopSignal = sig;
}

}  // namespace

void InstallStopSignals() {
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
    // A reader that leaves (`| head`) stops the run too, but only through us: killed outright,
    // the program would leave its temporary folder behind. A parent that ignores SIGPIPE gets
    // failed writes instead, as it asked.
    struct sigaction old = {};
    if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
        ::sigaction(SIGPIPE, &sa, nullptr);
    }
}

int PendingStopSignal() {
    return g_stopSignal;
}

}  // namespace fennic::cli
