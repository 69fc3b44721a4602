#pragma once
// Turns the fetched stretch of an entry into the saved one-entry archive on disk.

#include <cstdint>
#include <string>

#include "remote/entry_archive.h"

namespace fennic {
class CZipEntryHeader;
}

namespace fennic::remote {

// The record of an entry as the engine read it, with the name bytes as stored.
EntryRecord EntryRecordFrom(const CZipEntryHeader& header);

struct SaveResult {
    bool ok = false;
    // errno of a failed local file operation (0 when the bytes themselves were wrong).
    int error = 0;
    // What went wrong, for the command line's diagnostics.
    std::string why;
    // Bytes kept from the fetched stretch (local header, name, extra, data, descriptor).
    uint32_t kept = 0;
};

// Reads the fetched stretch in fetchedPath, keeps the local header with its own name and extra
// field, the compressed data and its descriptor (when the entry has one), appends the central
// record and the end record, and writes it all to a new file beside destPath that is then
// renamed over destPath. On failure destPath is left as it was and the new file is removed.
SaveResult SaveEntryArchive(const std::string& fetchedPath, const EntryRecord& entry,
                            uint16_t diskNumber, uint16_t centralDirDisk,
                            const std::string& destPath);

}  // namespace fennic::remote
