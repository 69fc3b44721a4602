#pragma once
// One central directory file header in memory.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "zip/extra_field.h"
#include "zip/zip_records.h"

namespace fennic {

class CZipVolume;

constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostNtfs = 11;
constexpr uint8_t kHostVfat = 14;

// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;  // name and comment are UTF-8

// Windows file attributes in the low bits of externalAttributes.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

class CZipEntryHeader {
public:
    CZipEntryHeader() = default;
    // A copy owns its bytes, even when the original borrows them from its directory.
    CZipEntryHeader(const CZipEntryHeader& other);
    CZipEntryHeader& operator=(const CZipEntryHeader& other);
    CZipEntryHeader(CZipEntryHeader&& other) noexcept { *this = std::move(other); }
    CZipEntryHeader& operator=(CZipEntryHeader&& other) noexcept;
    ~CZipEntryHeader() { ReleaseParts(); }

    uint32_t signature = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 8;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0x20;
    uint32_t localHeaderOffset = 0;

    // The name for display: the stored bytes after ConvertFileName's steps (code page 1252
    // with backslashes, or UTF-8 with backslashes when IsUtf8()).
    std::string GetFileName() const;
    std::string GetComment() const { return std::string(CommentBytes()); }
    // The name's bytes exactly as stored in the archive (forward slashes, no conversion).
    std::string GetRawFileName() const { return std::string(RawName()); }
    // The stored parts, valid while the header (and the directory it came from) lives.
    std::string_view RawName() const { return Part(0, m_nameLength); }
    std::string_view ExtraBytes() const { return Part(m_nameLength, m_extraLength); }
    std::string_view CommentBytes() const {
        return Part(size_t{m_nameLength} + m_extraLength, m_commentLength);
    }
    // Each replaces one stored part (at most 65,535 bytes are kept); the header then owns
    // its bytes.
    void SetRawFileName(const std::string& raw) { SetParts(raw, ExtraBytes(), CommentBytes()); }
    void SetExtraField(const std::string& extra) { SetParts(RawName(), extra, CommentBytes()); }
    void SetComment(const std::string& text) { SetParts(RawName(), ExtraBytes(), text); }

    // Local time from the MS-DOS date and time; the C library decides about daylight saving.
    time_t GetModTime() const;
    bool IsEncrypted() const { return (flags & kFlagEncrypted) != 0; }
    bool HasDataDescriptor() const { return (flags & kFlagDataDescriptor) != 0; }
    // Name and comment are UTF-8 (flag bit 11); such names skip the code page conversion.
    bool IsUtf8() const { return (flags & kFlagUtf8) != 0; }
    // The system the entry was made on (the high byte of "version made by"): 0 MS-DOS,
    // 3 Unix, 11 NTFS, 14 VFAT, ...
    uint8_t HostSystem() const { return static_cast<uint8_t>(versionMadeBy >> 8); }
    // The directory attribute, a stored name ending in '/', or a Unix directory mode: makers
    // on Unix mark directories only in the last two ways.
    bool IsDirectory() const;
    // The data of the first extra field block with this id; false when there is none or the
    // block runs past the field.
    bool FindExtra(uint16_t id, std::string& data) const;
    // The first block with `id` of the extra field, pointing into it.
    std::optional<ExtraBlock> Extra(uint16_t id) const;
    // 46 + name + extra field + comment, as stored.
    uint32_t GetCentralSize() const;
    // A size, offset or disk field holds its 64-bit marker and the extra field carries the
    // 64-bit values: the stored 32-bit numbers are not the entry's.
    bool NeedsZip64() const;
    // The entry's values with those of its ZIP64 extra field in place of the markers.
    uint64_t CompressedSize() const { return m_64 ? m_64->compressedSize : compressedSize; }
    uint64_t UncompressedSize() const { return m_64 ? m_64->uncompressedSize : uncompressedSize; }
    uint64_t LocalHeaderOffset() const {
        return m_64 ? m_64->localHeaderOffset : localHeaderOffset;
    }
    uint32_t DiskStart() const { return m_64 ? m_64->diskStart : diskStart; }

    // Reads one header at the volume's current position. False for a wrong signature (the
    // variable parts are then not read); raises ZipErrBadArchive when the fixed part or a
    // variable part runs past the end of the volume's file.
    bool ReadCentral(CZipVolume& volume);
    // The same from the size bytes at data (a directory read in one piece): the record's
    // length, 0 for a wrong signature; raises ZipErrBadArchive (with path) when the record
    // runs past the bytes given. With `borrow` the header points into data, which must
    // outlive it (a directory's own bytes); otherwise it copies what it needs.
    size_t ParseCentral(const uint8_t* data, size_t size, const std::string& path,
                        bool borrow = false);

    // Code page 437 to 1252 over the name for display.
    void ConvertCodePage() { m_nameForm |= kCodePageDone; }
    // Every '/' of the name for display becomes '\'.
    void ChangeSlashes() { m_nameForm |= kSlashesDone; }
    // Both steps, the code page step only for names that are not UTF-8.
    void ConvertFileName();

private:
    // The fixed 46 bytes into the fields; the three variable lengths come back.
    void DecodeFixed(const uint8_t* fixed, uint16_t& nameLength, uint16_t& extraLength,
                     uint16_t& commentLength);

    // Takes the 64-bit values from the extra field when a field holds its marker; false when
    // a marked value is missing from it.
    bool ResolveZip64();

    static constexpr uint8_t kCodePageDone = 1, kSlashesDone = 2, kOwnsParts = 4;

    std::string_view Part(size_t at, size_t size) const {
        return size ? std::string_view(reinterpret_cast<const char*>(m_var) + at, size)
                    : std::string_view();
    }
    // The three parts into a block of the header's own.
    void SetParts(std::string_view name, std::string_view extra, std::string_view comment);
    void ReleaseParts();

    // A directory holds millions of headers: the stored parts are one block, borrowed from
    // the directory's bytes or owned (kOwnsParts), and the 64-bit values exist only where a
    // record has them. 64 bytes a header.
    const uint8_t* m_var = nullptr;  // name, extra field, comment
    std::unique_ptr<Zip64Values> m_64;
    uint16_t m_nameLength = 0, m_extraLength = 0, m_commentLength = 0;
    uint8_t m_nameForm = 0;
};

}  // namespace fennic
