#pragma once
// The central directory: finds and reads the end record, then every central header.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/zip_buffer.h"
#include "zip/zip_entry_header.h"

namespace fennic {

class CZipVolume;

class CZipDirectory {
public:
    CZipDirectory() = default;
    CZipDirectory(const CZipDirectory&) = delete;
    CZipDirectory& operator=(const CZipDirectory&) = delete;
    ~CZipDirectory() { Clear(true); }

    void SetVolume(CZipVolume* volume) { m_pVolume = volume; }

    // Forgets what the last read found, before the next one.
    void Reset();
    // Locates and reads the end record, checks it and reads every header. Raises CZipException.
    void Read();
    void Clear(bool removeHeaders);

    bool IsValidIndex(size_t index) const { return index < m_headers.size(); }
    size_t GetCount() const { return m_headers.size(); }
    // Every entry's local header offset plus `shift` (bytes in front of the archive that its
    // maker did not count), in directory order; a sum that wraps is kept as it wraps.
    std::vector<uint64_t> LocalHeaderOffsets(uint64_t shift) const;
    const CZipEntryHeader& GetHeader(size_t index) const { return m_headers[index]; }

    // The end record's values, readable while the archive is open.
    uint32_t GetEndSignature() const { return m_endSignature; }
    // With a ZIP64 end record, its values stand in for the markers of the 32-bit one.
    uint32_t GetDiskNumber() const { return m_diskNumber; }
    uint32_t GetCentralDirDisk() const { return m_centralDirDisk; }
    uint64_t GetEntriesOnDisk() const { return m_entriesOnDisk; }
    uint64_t GetTotalEntries() const { return m_totalEntries; }
    uint64_t GetCentralDirSize() const { return m_centralDirSize; }
    uint64_t GetCentralDirOffset() const { return m_centralDirOffset; }
    const CZipBuffer& GetEndComment() const { return m_endComment; }
    uint64_t GetEndRecordPosition() const { return m_endRecordPosition; }
    uint64_t GetBytesBeforeArchive() const { return m_bytesBeforeArchive; }
    bool IsZip64() const { return m_zip64; }
    bool IsOnDisk() const { return m_onDisk; }
    bool GetConvertNames() const { return m_convertNames; }
    void SetConvertNames(bool convert) { m_convertNames = convert; }

    static constexpr uint32_t kMaxEndRecordReach = 65557;  // 22 bytes and a 65535-byte comment

    // Position of the end record in the volume's current file; raises ZipErrDirNotFound.
    uint64_t LocateEndRecord();

    // Takes the end records and the directory's bytes as fetched (the directory's first byte
    // at `directory`, `size` bytes, as many as the end record gives) instead of reading a
    // volume. Raises CZipException (with `name` as the path) for a damaged directory.
    void LoadFetched(const EndRecord& end, const std::string& comment,
                     std::vector<uint8_t> directory, const std::string& name);

private:
    [[noreturn]] void Throw(int code) const;
    void ReadHeaders();
    void TakeEndRecord(const EndRecord& end);
    // Parses every header in place from m_bytes; `path` names the archive in errors.
    void ParseHeaders(const std::string& path);

    uint32_t m_endSignature = 0;
    uint32_t m_diskNumber = 0;
    uint32_t m_centralDirDisk = 0;
    uint64_t m_entriesOnDisk = 0;
    uint64_t m_totalEntries = 0;
    uint64_t m_centralDirSize = 0;
    uint64_t m_centralDirOffset = 0;
    CZipBuffer m_endComment;
    CZipEntryHeader* m_pOpenedHeader = nullptr;
    CZipVolume* m_pVolume = nullptr;
    uint64_t m_endRecordPosition = 0;
    uint64_t m_bytesBeforeArchive = 0;  // wraps, like the offsets it corrects
    bool m_zip64 = false;
    bool m_onDisk = false;
    std::vector<uint8_t> m_bytes;            // the directory, when read in one piece
    std::vector<CZipEntryHeader> m_headers;  // reserved up front; they point into m_bytes

    // Checks a record read in full and joins it to the table; `used` counts the directory's
    // bytes up to its end.
    void AddHeader(CZipEntryHeader&& header, uint64_t used, const std::string& path);
    void ReadHeadersInOnePiece(uint64_t start, uint64_t length);
    CZipBuffer m_localExtra;
    bool m_convertNames = true;
};

}  // namespace fennic
