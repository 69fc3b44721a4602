#pragma once
// Reads the 22 bytes fetched from a remote archive's end and answers where its central
// directory starts. The file must be exactly one end record long; no searching is done.

#include <cstdint>
#include <string>

#include "app/frontend.h"
#include "zip/zip_records.h"

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
    // 32-bit values: the record's own fields, never widened by a ZIP64 record.
    uint32_t GetRawCentralDirOffset() const {
        return static_cast<uint32_t>(m_end.centralDirOffset);
    }
    uint16_t GetDiskNumber() const { return static_cast<uint16_t>(m_end.diskNumber); }
    uint16_t GetCentralDirDisk() const { return static_cast<uint16_t>(m_end.centralDirDisk); }
    uint16_t GetEntriesOnDisk() const { return static_cast<uint16_t>(m_end.entriesOnDisk); }
    uint16_t GetTotalEntries() const { return static_cast<uint16_t>(m_end.totalEntries); }
    uint32_t GetCentralDirSize() const { return static_cast<uint32_t>(m_end.centralDirSize); }
    uint16_t GetCommentLength() const { return m_end.commentLength; }

private:
    uint32_t m_signature = 0;
    EndRecord m_end;
};

}  // namespace fennic
