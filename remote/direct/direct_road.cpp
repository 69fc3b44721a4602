#include "remote/direct/direct_road.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/settings.h"
#include "fs/file_io.h"
#include "remote/entry_archive.h"
#include "remote/entry_archive_file.h"
#include "zip/zip_exception.h"

namespace fennic::remote {
namespace {

// Bytes of the archive at [offset, offset + size): from the tail when it holds them,
// otherwise fetched.
bool ArchiveBytes(IRangeSource& source, const DirectArchive& a, uint64_t offset, uint8_t* to,
                  size_t size, Error& error) {
    if (offset >= a.tailStart && offset - a.tailStart <= a.tail.size() &&
        size <= a.tail.size() - (offset - a.tailStart)) {
        if (size != 0) std::memcpy(to, a.tail.data() + (offset - a.tailStart), size);
        return true;
    }
    if (offset > a.size || size > a.size - offset) return false;
    size_t done = 0;
    return source.ReadRange(
               offset, size,
               [&](const uint8_t* p, size_t n) {
                   if (n > size - done) return false;
                   std::memcpy(to + done, p, n);
                   done += n;
                   return true;
               },
               error) &&
           done == size;
}

}  // namespace

bool ReadDirect(IRangeSource& source, DirectArchive& a, Error& error) {
    const std::string name = source.Name();
    if (!source.ReadTail(kTailBytes, a.tail, a.size, error)) return false;
    if (a.size == 0)
        return Fail(error, ErrorCode::kNotArchive, name + " is empty (0 bytes): not a ZIP archive");
    if (a.tail.size() > a.size)
        return Fail(error, ErrorCode::kDamaged, "more bytes than the archive has");
    a.tailStart = a.size - a.tail.size();

    // A signature in a comment's last 21 bytes is not a record: the one before it counts.
    const size_t found = ScanForEndRecord(a.tail.data(), a.tail.size()).whole;
    if (found == std::string::npos)
        return Fail(error, ErrorCode::kNotArchive, name + ": not a ZIP archive (no end record)");
    const uint64_t position = a.tailStart + found;

    Error fetchError;
    const ArchiveReadAt readAt = [&](uint64_t offset, void* buffer, size_t size) {
        return ArchiveBytes(source, a, offset, static_cast<uint8_t*>(buffer), size, fetchError);
    };
    switch (ReadEndRecords(position, a.size, readAt, a.end)) {
        case EndRead::kOk:
            break;
        case EndRead::kBad:
            if (fetchError.code != ErrorCode::kNone) return error = fetchError, false;
            return Fail(error, ErrorCode::kDamaged, "the end record of " + name + " is cut short");
        case EndRead::kZip64Broken:
            if (fetchError.code != ErrorCode::kNone) return error = fetchError, false;
            return Fail(error, ErrorCode::kZip64,
                        "the ZIP64 end record of " + name + " is not where its locator says");
    }
    const EndRecord& end = a.end;
    if (end.diskNumber != 0 || end.centralDirDisk != 0)
        return Fail(error, ErrorCode::kDamaged,
                    name + " is one part of an archive split over " +
                        std::to_string(uint64_t{end.diskNumber} + 1) + " disks");
    const uint64_t commentAt = position + kEndRecordFixedSize;
    if (end.commentLength > a.size - commentAt)
        return Fail(error, ErrorCode::kDamaged, "the archive comment runs past the end of " + name);
    a.comment.assign(reinterpret_cast<const char*>(a.tail.data() + (commentAt - a.tailStart)),
                     end.commentLength);

    const uint64_t dirEnd = end.zip64 ? end.zip64Position : end.position;
    if (end.centralDirSize > dirEnd)
        return Fail(error, ErrorCode::kDamaged,
                    "the central directory of " + name + " is said to be larger than the archive");
    if (end.centralDirSize > kLargestDirectory || end.totalEntries > kMostEntries)
        return Fail(error, ErrorCode::kDamaged,
                    "the central directory of " + name + " is larger than this program reads (" +
                        std::to_string(end.totalEntries) + " entries, " +
                        std::to_string(end.centralDirSize) + " bytes)");
    a.dirStart = dirEnd - end.centralDirSize;
    // Offsets a stub in front moved on; a streaming writer's 64-bit marker without the
    // ZIP64 records names no offset, so nothing moved.
    const bool markerOnly = !end.zip64 && end.centralDirOffset == kMarker32;
    a.shift = markerOnly ? 0 : a.dirStart - end.centralDirOffset;  // wraps when moved back

    // Only the part of the directory that the tail misses is fetched.
    std::vector<uint8_t> dir(static_cast<size_t>(end.centralDirSize));
    const uint64_t fetchEnd = std::min(dirEnd, std::max(a.tailStart, a.dirStart));
    if (fetchEnd > a.dirStart && !ArchiveBytes(source, a, a.dirStart, dir.data(),
                                               static_cast<size_t>(fetchEnd - a.dirStart), error)) {
        if (error.code == ErrorCode::kNone)
            Fail(error, ErrorCode::kDamaged, "the central directory lies outside " + name);
        return false;
    }
    if (dirEnd > fetchEnd) {
        std::memcpy(dir.data() + (fetchEnd - a.dirStart), a.tail.data() + (fetchEnd - a.tailStart),
                    static_cast<size_t>(dirEnd - fetchEnd));
    }
    a.directory = std::make_unique<CZipDirectory>();
    try {
        a.directory->LoadFetched(end, a.comment, std::move(dir), name);
    } catch (const CZipException&) {
        a.directory.reset();
        return Fail(error, ErrorCode::kDamaged, "the central directory of " + name + " is damaged");
    }
    return true;
}

bool SaveDirectEntry(IRangeSource& source, const DirectArchive& a, size_t index,
                     const fs::OutputTarget& dest, Error& error) {
    const CZipDirectory& dir = *a.directory;
    if (!dir.IsValidIndex(index)) return Fail(error, ErrorCode::kNoEntry, "no such entry");
    const CZipEntryHeader& header = dir.GetHeader(index);
    const std::vector<uint64_t> offsets = dir.LocalHeaderOffsets(a.shift);
    const auto span = EntryFetchSpan(header, offsets[index], offsets, a.dirStart);
    if (!span)
        return Fail(error, ErrorCode::kDamaged,
                    "the entry's local header offset lies at or behind the central directory");

    const std::string tempDir = GetTempPath();
    if (tempDir.empty()) return Fail(error, ErrorCode::kLocal, TempPathProblem());
    const std::string fetched = tempDir + "entry-" + std::to_string(index);
    ::unlink(fetched.c_str());
    bool ok = false;
    {
        fs::UniqueFd out = fs::Open(fetched, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (!out)
            return FailErrno(error, ErrorCode::kLocal, fetched + ": " + std::strerror(errno),
                             errno);
        int writeError = 0;
        auto write = [&](const uint8_t* p, size_t n) {
            writeError = fs::WriteAll(out.Get(), p, n);
            return writeError == 0;
        };
        // What lies before the tail is fetched; what the tail holds is copied from it.
        const uint64_t spanEnd = span->start + span->length;
        const uint64_t fromTail = std::max(span->start, std::min(spanEnd, a.tailStart));
        ok = fromTail == span->start ||
             source.ReadRange(span->start, fromTail - span->start, write, error);
        if (ok && spanEnd > fromTail)
            ok = write(a.tail.data() + (fromTail - a.tailStart),
                       static_cast<size_t>(spanEnd - fromTail));
        if (writeError != 0)
            FailErrno(error, ErrorCode::kLocal, fetched + ": " + std::strerror(writeError),
                      writeError);
    }
    if (!ok) {
        ::unlink(fetched.c_str());
        return false;
    }
    const SaveResult saved =
        SaveEntryArchive(fetched, header, dir.GetDiskNumber(), dir.GetCentralDirDisk(), dest);
    ::unlink(fetched.c_str());
    if (!saved.ok) {
        const ErrorCode kind = saved.step == SaveStep::kOutput    ? ErrorCode::kOutput
                               : saved.step == SaveStep::kFetched ? ErrorCode::kLocal
                                                                  : ErrorCode::kDamaged;
        return FailErrno(error, kind, saved.why, saved.error);
    }
    return true;
}

}  // namespace fennic::remote
