// Arbitrary bytes as a remote archive on the direct road: its end records, ZIP64 locator and
// directory read from the tail and the ranges, the first entry saved; and the same bytes as a
// server's Content-Range text.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/entry_columns.h"
#include "inet/content_range.h"
#include "remote/direct/direct_road.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fennic::remote;
    const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 80));
    fennic::inet::ContentRange range;
    if (fennic::inet::ParseContentRange(text, range) &&
        (range.first > range.last || (range.totalKnown && range.last >= range.total)))
        std::abort();
    uint64_t total = 0;
    fennic::inet::ParseUnsatisfiedRange(text, total);

    auto source = MemoryRangeSource(data, size, "fuzz.zip");
    DirectArchive archive;
    Error error;
    if (!ReadDirect(*source, archive, error)) {
        if (error.code == ErrorCode::kNone || error.message.empty()) std::abort();
        return 0;
    }
    const fennic::CZipDirectory& dir = *archive.directory;
    if (dir.GetCount() != dir.GetTotalEntries()) std::abort();
    for (size_t i = 0; i < dir.GetCount(); ++i) fennic::FormatEntryColumns(dir.GetHeader(i), false);
    if (dir.GetCount() != 0) {
        static const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        SaveDirectEntry(*source, archive, 0, fennic::fs::OutputTarget::Descriptor(sink, "null"),
                        error);
    }
    return 0;
}
