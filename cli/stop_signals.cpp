#include "cli/stop_signals.h"

#include <signal.h>

#include <initializer_list>

namespace fennic::cli {
namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int sig) {
    g_stopSignal = sig;
}

}  // namespace

void InstallStopSignals() {
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
}

int PendingStopSignal() {
    return g_stopSignal;
}

}  // namespace fennic::cli
