#pragma once
// A timing hook for benchmark scripts: with FENNIC_WINDOW_BENCH=ARCHIVE in the environment the
// window lists ARCHIVE through the "OpenZip File" road, waits until the list has painted its
// rows, prints "<milliseconds> ms <rows> rows" on stdout and ends.

#include <string>

namespace fennic::ui {

extern const char kWindowBenchVariable[];

// Exit status 0 when the archive listed without a message, 1 otherwise (messages on stderr).
int RunWindowBench(const std::string& path);

}  // namespace fennic::ui
