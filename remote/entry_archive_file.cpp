#include "remote/entry_archive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "fs/file_io.h"
#include "zip/zip_records.h"

namespace fennic::remote {

namespace {

SaveResult Fail(SaveStep step, const std::string& why, int error = 0) {
    SaveResult r;
    r.step = step;
    r.why = why;
    r.error = error;
    return r;
}

SaveResult FetchedUnreadable() {
    return Fail(SaveStep::kFetched, "cannot read the fetched bytes", errno);
}

SaveResult OutputFailed(const fs::OutputStatus& status, const std::string& name) {
    SaveResult r = Fail(SaveStep::kOutput, fs::DescribeOutputFailure(status, name), status.error);
    r.output = status;
    return r;
}

}  // namespace

bool SaveResult::OutputNotOpened() const {
    if (step != SaveStep::kOutput) return false;
    switch (output.step) {
        case fs::OutputStep::kResolve:
        case fs::OutputStep::kKind:
        case fs::OutputStep::kCreate:
        case fs::OutputStep::kOpen:
            return true;
        default:
            return false;
    }
}

SaveResult SaveEntryArchive(const std::string& fetchedPath, const CZipEntryHeader& entry,
                            uint32_t diskNumber, uint32_t centralDirDisk,
                            const std::string& destPath) {
    return SaveEntryArchive(fetchedPath, entry, diskNumber, centralDirDisk,
                            fs::OutputTarget::Path(destPath));
}

SaveResult SaveEntryArchive(const std::string& fetchedPath, const CZipEntryHeader& entry,
                            uint32_t diskNumber, uint32_t centralDirDisk,
                            const fs::OutputTarget& dest) {
    fs::UniqueFd in = fs::Open(fetchedPath, O_RDONLY);
    if (!in) return Fail(SaveStep::kFetched, "cannot open the fetched bytes", errno);
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) return FetchedUnreadable();
    const uint64_t fetched = static_cast<uint64_t>(st.st_size);

    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(fetched, kLocalHeaderProbe)));
    if (fs::ReadFullAt(in.Get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()))
        return FetchedUnreadable();
    std::string why;
    const auto headerLen = LocalHeaderLength(head.data(), head.size(), fetched, &why);
    if (!headerLen) return Fail(SaveStep::kEntryBytes, why);
    // The local header is copied as it is, so it must tell what the central record tells.
    if (!LocalHeaderAgrees(head.data(), head.size(), entry, &why))
        return Fail(SaveStep::kEntryBytes, why);

    const uint64_t compressed = entry.CompressedSize();
    if (compressed > fetched || *headerLen > fetched - compressed)
        return Fail(SaveStep::kEntryBytes, "the entry's data runs past the fetched bytes");
    const uint64_t dataEnd = *headerLen + compressed;
    uint64_t keep = dataEnd;
    if (entry.HasDataDescriptor()) {
        uint8_t tail[24];
        const ssize_t n = fs::ReadFullAt(in.Get(), tail, sizeof tail, dataEnd);
        if (n < 0) return FetchedUnreadable();
        const auto descLen = DataDescriptorLength(tail, static_cast<size_t>(n), entry.crc32,
                                                  LocalHeaderHasZip64(head.data(), head.size()));
        if (!descLen)
            return Fail(SaveStep::kEntryBytes, "no data descriptor after the entry's data");
        keep += *descLen;
    }

    std::vector<uint8_t> central;
    AppendCentralRecord(central, entry, 0);
    std::vector<uint8_t> end;
    AppendEndRecords(end, diskNumber, centralDirDisk, 1, central.size(), keep,
                     std::string(kEntryArchiveComment, kEntryArchiveCommentSize));

    fs::OutputFile out;
    if (fs::OutputStatus s = out.Open(dest); !s.ok()) return OutputFailed(s, dest.path);
    std::vector<uint8_t> buf(1 << 16);
    for (uint64_t pos = 0; pos < keep;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), keep - pos));
        if (fs::ReadFullAt(in.Get(), buf.data(), want, pos) != static_cast<ssize_t>(want))
            return FetchedUnreadable();  // out's destructor removes the new file
        if (fs::OutputStatus s = out.Write(buf.data(), want); !s.ok())
            return OutputFailed(s, dest.path);
        pos += want;
    }
    for (const auto* part : {&central, &end}) {
        if (fs::OutputStatus s = out.Write(part->data(), part->size()); !s.ok())
            return OutputFailed(s, dest.path);
    }
    if (fs::OutputStatus s = out.Commit(); !s.ok()) return OutputFailed(s, dest.path);

    SaveResult ok;
    ok.ok = true;
    ok.kept = keep;
    return ok;
}

}  // namespace fennic::remote
