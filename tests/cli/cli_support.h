#pragma once
// The program as a child process, run the way a user's shell would run it.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"

namespace fennic::test {

// Variables put into (or replaced in) the child's environment.
using Environment = std::map<std::string, std::string>;

struct Finished {
    int status = -1;  // exit status; -1 when it did not exit
    std::string out, err;
};

// Starts fennic with args as they are: in the folder home, which also holds its settings
// (XDG_CONFIG_HOME) and the files its stdout and stderr go to; stdin is /dev/null. The
// environment is this program's without proxy variables, then env.
pid_t StartFennic(const TempDir& home, const std::vector<std::string>& args,
                  const Environment& env = {});
// Waits for a child of StartFennic and reads what it wrote. A child still running after
// limit_ms would hang the test: it is killed and counts as not exited.
Finished WaitFennic(const TempDir& home, pid_t pid, int limit_ms = 120000);

// Runs fennic as StartFennic does, with args written for a shell (each quoted with Quote):
// output holds its stdout, err (when given) receives its stderr.
CommandResult RunFennic(const TempDir& home, const std::string& args, std::string* err = nullptr,
                        const Environment& env = {});

// Runs fennic as RunFennic does, after the shell commands in `before` (e.g. "ulimit -f 64;"),
// with its stdout on out_fd when that is >= 0.
Finished RunFennicAfter(const TempDir& home, const std::string& before, const std::string& args,
                        int out_fd = -1);

// The shell words that start fennic with its settings in home, for commands put together by
// hand (e.g. run under a terminal).
std::string FennicCommand(const TempDir& home);
// Runs a shell command line under a pseudo-terminal; output is what the terminal showed.
CommandResult OnTerminal(const std::string& commandLine);

}  // namespace fennic::test
