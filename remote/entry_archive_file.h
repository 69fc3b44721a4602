#pragma once
// Turns the fetched stretch of an entry into the saved one-entry archive on disk.

#include <cstdint>
#include <string>

#include "fs/output_file.h"
#include "remote/entry_archive.h"

namespace fennic::remote {

// Where a save stopped.
enum class SaveStep : uint8_t {
    kNone,        // saved
    kFetched,     // reading the fetched bytes (error is the errno value)
    kEntryBytes,  // the fetched bytes are not the entry's, or too many (error is 0)
    kOutput,      // the destination (output says which step, error is its errno value)
};

struct SaveResult {
    bool ok = false;
    SaveStep step = SaveStep::kNone;
    fs::OutputStatus output;
    // errno of a failed local file operation (0 when the bytes themselves were wrong).
    int error = 0;
    // What went wrong, for the command line's diagnostics.
    std::string why;
    // Bytes kept from the fetched stretch (local header, name, extra, data, descriptor).
    uint64_t kept = 0;

    // The destination could not even be opened (nothing was written).
    bool OutputNotOpened() const;
};

// Reads the fetched stretch in fetchedPath, keeps the local header with its own name and extra
// field, the compressed data and its descriptor (when the entry has one), appends the central
// record and the end record, and writes it all to dest through fs::OutputFile: a file is
// replaced only once the archive is complete, devices and FIFOs are written directly.
// The central record is the entry's as the engine read it (the name bytes as stored), with
// the local header at offset 0 and the ZIP64 records the sizes need.
SaveResult SaveEntryArchive(const std::string& fetchedPath, const CZipEntryHeader& entry,
                            uint32_t diskNumber, uint32_t centralDirDisk,
                            const fs::OutputTarget& dest);
SaveResult SaveEntryArchive(const std::string& fetchedPath, const CZipEntryHeader& entry,
                            uint32_t diskNumber, uint32_t centralDirDisk,
                            const std::string& destPath);

}  // namespace fennic::remote
