#pragma once
// SIGTERM, SIGHUP, SIGINT and SIGPIPE (unless ignored from the start) end a command the way
// Ctrl-C cancels a run: the handler only records the signal; a running transfer sees it and
// cancels, later runs cancel at once, and main() exits with 128 + the signal number through
// exit(), so the private temporary folder is removed.

namespace fennic::cli {

// Installs the handlers (without SA_RESTART, so a blocking read of an answer ends too).
void InstallStopSignals();
// The signal received, or 0.
int PendingStopSignal();

}  // namespace fennic::cli
