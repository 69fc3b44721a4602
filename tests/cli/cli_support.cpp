#include "tests/cli/cli_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fixtures/fixtures.h"

extern char** environ;

namespace fennic::test {

namespace {

// out_fd >= 0 takes the place of the stdout file (which is still made, empty).
pid_t StartChild(const TempDir& home, std::vector<std::string> argText, const Environment& env,
                 int out_fd = -1) {
    Environment vars;
    for (char** e = environ; *e; ++e) {
        const std::string kv = *e;
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                              "ALL_PROXY", "no_proxy", "NO_PROXY"})
        vars.erase(proxy);
    vars["XDG_CONFIG_HOME"] = home.path();
    for (const auto& [k, v] : env) vars[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : vars) envText.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (auto& a : argText) argv.push_back(a.data());
    for (auto& e : envText) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string outPath = home / "stdout", errPath = home / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 ||
            ::dup2(out_fd >= 0 ? out_fd : out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(home.path().c_str()) != 0)
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

pid_t StartFennic(const TempDir& home, const std::vector<std::string>& args,
                  const Environment& env) {
    std::vector<std::string> argText{FENNIC_CLI_PATH};
    argText.insert(argText.end(), args.begin(), args.end());
    return StartChild(home, argText, env);
}

Finished WaitFennic(const TempDir& home, pid_t pid, int limit_ms) {
    Finished f;
    int st = 0;
    if (pid > 0 && !WaitUntil([&] { return ::waitpid(pid, &st, WNOHANG) == pid; }, limit_ms)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
        st = -1;
    }
    if (pid > 0 && st != -1 && WIFEXITED(st)) f.status = WEXITSTATUS(st);
    f.out = ReadFile(home / "stdout");
    f.err = ReadFile(home / "stderr");
    return f;
}

CommandResult RunFennic(const TempDir& home, const std::string& args, std::string* err,
                        const Environment& env) {
    const Finished f = WaitFennic(
        home,
        StartChild(home, {"/bin/sh", "-c", "exec " + Quote(FENNIC_CLI_PATH) + " " + args}, env));
    if (err) *err = f.err;
    return {f.status, f.out};
}

Finished RunFennicAfter(const TempDir& home, const std::string& before, const std::string& args,
                        int out_fd) {
    return WaitFennic(
        home,
        StartChild(home, {"/bin/sh", "-c", before + " exec " + Quote(FENNIC_CLI_PATH) + " " + args},
                   {}, out_fd));
}

std::string FennicCommand(const TempDir& home) {
    return "XDG_CONFIG_HOME=" + Quote(home.path()) + " " + Quote(FENNIC_CLI_PATH) + " ";
}

CommandResult OnTerminal(const std::string& commandLine) {
    return RunCommand("script -qec " + Quote(commandLine) + " /dev/null");
}

}  // namespace fennic::test
