#pragma once
// Reads the 22 bytes fetched from a remote archive's end and answers where its central
// directory starts. The file must be exactly one end record long; no searching is done.

#include <cstdint>
#include <string>

#include "app/frontend.h"

namespace fennic {

class CEndRecordReader {
public:
    // Does all the work: opens `path` (denying writers), reads, fills, closes. A file that
    // cannot be opened shows its errno in decimal through `frontEnd` (MB_OK).
    CEndRecordReader(const std::string& path, IFrontEnd& frontEnd);
    virtual ~CEndRecordReader() = default;

    // The central directory offset, or -1 when the file was not one end record.
    int32_t GetCentralDirOffset() const;
    // The stored values, as read (all zero when nothing was read).
    bool HasSignature() const;
    uint32_t GetRawCentralDirOffset() const { return m_centralDirOffset; }
    uint16_t GetDiskNumber() const { return m_diskNumber; }
    uint16_t GetCentralDirDisk() const { return m_centralDirDisk; }
    uint16_t GetEntriesOnDisk() const { return m_entriesOnDisk; }
    uint16_t GetTotalEntries() const { return m_totalEntries; }
    uint32_t GetCentralDirSize() const { return m_centralDirSize; }
    uint16_t GetCommentLength() const { return m_commentLength; }

private:
    uint8_t m_signature[4] = {0, 0, 0, 0};
    uint16_t m_diskNumber = 0;
    uint16_t m_centralDirDisk = 0;
    uint16_t m_entriesOnDisk = 0;
    uint16_t m_totalEntries = 0;
    uint32_t m_centralDirSize = 0;
    uint32_t m_centralDirOffset = 0;
    uint16_t m_commentLength = 0;
};

}  // namespace fennic
