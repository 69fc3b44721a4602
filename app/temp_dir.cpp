// This run's private temporary folder: made once, on first use, and removed with its content
// when the program ends, so that temporary archives never pile up or mix between runs.

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "app/settings.h"

namespace fennic {
namespace {

std::string g_tempDir;  // with its trailing '/'; empty until made
pid_t g_owner = 0;      // only the process that made the folder removes it
std::string g_problem;  // why it could not be made

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    std::remove(path);  // go on with the rest whatever happens
    return 0;
}

void RemoveTempDir() {
    if (g_tempDir.empty() || getpid() != g_owner) return;
    nftw(g_tempDir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

std::string SystemTempBase() {
    std::string base;
    if (const char* t = std::getenv("TMPDIR"); t && *t) base = t;
    struct stat st {};
    if (base.empty() || stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) base = "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

}  // namespace

std::string GetTempPath() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string base = SystemTempBase();
        std::string tmpl = (base == "/" ? "" : base) + "/fennic-XXXXXX";
        if (mkdtemp(tmpl.data()) != nullptr) {  // mkdtemp makes it with mode 0700
            g_tempDir = tmpl + "/";
            g_owner = getpid();
            std::atexit(RemoveTempDir);
        } else {
            // No fallback into the shared folder: names there can be taken or linked by others.
            g_problem = "cannot create a private temporary folder under " + base + ": " +
                        std::strerror(errno);
        }
    });
    return g_tempDir;
}

std::string TempPathProblem() {
    GetTempPath();
    return g_problem;
}

}  // namespace fennic
