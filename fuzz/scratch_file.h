#pragma once
// The file a fuzz target hands to code that reads from a path.

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fs/file_io.h"

namespace fuzz {

// One scratch file per process, memory-backed when /dev/shm exists (every input rewrites it),
// removed at exit.
inline const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = tmp && *tmp ? tmp : "/tmp";
        if (::access("/dev/shm", W_OK) == 0) dir = "/dev/shm";
        std::string p = dir + "/fennic-fuzz-XXXXXX";
        if (!fennic::fs::UniqueFd(::mkstemp(p.data()))) std::abort();
        static char removeAtExit[512];
        std::snprintf(removeAtExit, sizeof removeAtExit, "%s", p.c_str());
        std::atexit([] { ::unlink(removeAtExit); });
        return p;
    }();
    return path;
}

// Replaces the scratch file's content with the input and returns its path.
inline const std::string& WriteScratch(const uint8_t* data, size_t size) {
    const std::string& path = ScratchPath();
    fennic::fs::UniqueFd fd = fennic::fs::Open(path, O_WRONLY | O_TRUNC | O_NOFOLLOW);
    if (!fd || fennic::fs::WriteAll(fd.Get(), data, size) != 0 || fd.Close() != 0) std::abort();
    return path;
}

}  // namespace fuzz
