// Arbitrary bytes as an archive file: open, list every entry's cells, close.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/archive_view.h"
#include "app/entry_columns.h"
#include "zip/zip_engine.h"

namespace {

class SilentFrontEnd : public fennic::IFrontEnd {
public:
    int MessageBox(const std::string&, const std::string&, unsigned style) override {
        // One retry, so that the close-after-error path runs too.
        if ((style & 0xF) == fennic::MB_YESNO) return m_asked++ == 0 ? fennic::IDYES : fennic::IDNO;
        return fennic::IDOK;
    }
    int m_asked = 0;
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
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);

    SilentFrontEnd frontEnd;
    fennic::CArchiveView view;
    view.SetArchivePath(path, false);
    view.OpenArchive(frontEnd);
    for (const fennic::EntryRow& row : view.FillEntryList()) {
        if (row.size() != fennic::kEntryColumnCount) std::abort();
    }
    const fennic::CZipEngine& engine = view.Engine();
    for (int i = 0; i < engine.GetEntryCount(); ++i) {
        fennic::CZipEntryHeader h;
        if (!engine.GetEntryInfo(h, static_cast<uint16_t>(i))) std::abort();
        if (h.GetCentralSize() < fennic::kCentralHeaderFixedSize) std::abort();
    }
    view.CloseArchive(frontEnd);
    if (!engine.IsClosed(false)) std::abort();
    return 0;
}
