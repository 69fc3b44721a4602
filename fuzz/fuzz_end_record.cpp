// Arbitrary bytes as the probe file of a remote archive's end record.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "remote/end_record_reader.h"

namespace {

class SilentFrontEnd : public fennic::IFrontEnd {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override {
        return fennic::IDOK;
    }
};

const std::string& ScratchPath() {
    static const std::string path = [] {
        // Memory-backed when there is such a folder: every run rewrites the file.
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = tmp && *tmp ? tmp : "/tmp";
        if (::access("/dev/shm", W_OK) == 0) dir = "/dev/shm";
        std::string p = dir + "/fennic-fuzz-XXXXXX";
        int fd = ::mkstemp(p.data());
        if (fd < 0) std::abort();
        ::close(fd);
        static char removeAtExit[512];
        std::snprintf(removeAtExit, sizeof removeAtExit, "%s", p.c_str());
        std::atexit([] { ::unlink(removeAtExit); });
        return p;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ScratchPath();
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) std::abort();
    if (size && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);

    SilentFrontEnd frontEnd;
    fennic::CEndRecordReader reader(path, frontEnd);
    const int32_t offset = reader.GetCentralDirOffset();
    // Found exactly when the file is one record with the signature.
    const bool expected = size == 22 && std::memcmp(data, "PK\x05\x06", 4) == 0;
    if (expected != reader.HasSignature()) std::abort();
    if (!expected && offset != -1) std::abort();
    if (expected) {
        uint32_t raw = uint32_t(data[16]) | uint32_t(data[17]) << 8 | uint32_t(data[18]) << 16 |
                       uint32_t(data[19]) << 24;
        if (offset != static_cast<int32_t>(raw)) std::abort();
    }
    return 0;
}
