#pragma once
// The archive object: open an archive, count and copy out its entries, close it.
//
// Calling order for a listing: Close, Open, GetEntryCount, then GetEntryInfo and
// IsEntryDirectory per index. Open does nothing while an archive is open; after Open raises,
// Close(true) returns the engine to the closed state without writing.

#include <cstdint>
#include <string>

#include "zip/zip_directory.h"
#include "zip/zip_entry_header.h"
#include "zip/zip_exception.h"
#include "zip/zip_volume.h"

namespace fennic {

class CZipEngine {
public:
    CZipEngine();
    CZipEngine(const CZipEngine&) = delete;
    CZipEngine& operator=(const CZipEngine&) = delete;
    virtual ~CZipEngine();

    // Raises CZipException or CFileException.
    void Open(const std::string& path, int mode = ZipOpenExisting, int spanOption = 0);
    // With `afterError` the file left open by a failed Open is released and nothing is written.
    void Close(bool afterError = false);
    // whole: no end record has been read (disk -1); otherwise: no file is open.
    bool IsClosed(bool whole = true) const;

    int GetEntryCount() const;
    // Copies entry `index` into `header`; false (record untouched) when closed or out of range.
    bool GetEntryInfo(CZipEntryHeader& header, size_t index) const;
    bool IsEntryDirectory(size_t index) const;

    // The end record's values and the entry table, while open.
    const CZipDirectory& GetDirectory() const { return m_centralDir; }
    CZipVolume& GetVolume() { return m_storage; }
    const CZipVolume& GetVolume() const { return m_storage; }
    // Path of the volume's current file; empty when closed.
    std::string GetArchivePath() const;

private:
    [[noreturn]] void Throw(int code) const;

    CZipDirectory m_centralDir;
    CZipVolume m_storage;
};

}  // namespace fennic
