#pragma once
// The eight cells that the entry list shows for one archive entry, as UTF-8 text.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_entry_header.h"

namespace fennic {

constexpr int kEntryColumnCount = 8;
constexpr size_t kCommentCellLimit = 1024;  // characters shown before "..."

// One row: File Name, Dir, Size, Time, Attr, Ratio, CRC, Comment.
using EntryRow = std::vector<std::string>;

// The eight column headers (string ids 57345 to 57352).
std::vector<std::string> EntryColumnHeaders();

// The row for `header`; `isDirectory` is the engine's answer for the entry.
EntryRow FormatEntryColumns(const CZipEntryHeader& header, bool isDirectory);

// The cells one by one, for callers that need a single one.
std::string FormatEntryName(const CZipEntryHeader& header);  // "(*) " in front when encrypted
std::string FormatSize(uint64_t uncompressedSize);
std::string FormatTime(time_t localTime);                   // "%d %b %Y, %X", C locale
std::string FormatAttributes(uint32_t externalAttributes);  // r a h s, '-' for a clear bit
std::string FormatRatio(uint64_t compressedSize, uint64_t uncompressedSize);
std::string FormatCrc(uint32_t crc);                       // upper-case hex, no leading zeros
std::string FormatComment(const CZipEntryHeader& header);  // cut at 1024 characters + "..."

// The entry's name as UTF-8 (no "(*) "), with backslashes: UTF-8 when flagged or when a
// Unicode extra field vouches for it, code page 437 from DOS and Windows makers and for bytes
// that are not UTF-8, the maker's UTF-8 otherwise. The stored bytes are never changed.
std::string EntryNameUtf8(const CZipEntryHeader& header);
// Text stored in the archive (name or comment bytes), as UTF-8: the one rule for both. Flag
// bit 11 says it already is; else a Unicode extra field whose CRC matches the stored bytes
// wins; else makers on DOS and Windows file systems wrote code page 437, and others wrote their
// locale's bytes, which are UTF-8 whenever they are valid as such.
std::string DecodeArchiveText(const std::string& stored, bool utf8Flag, uint8_t hostSystem,
                              const std::optional<std::string>& unicodeExtra);
// The header's Unicode block `extraId` for `stored`, when it counts (not with flag bit 11).
std::optional<std::string> UnicodeExtraOf(const CZipEntryHeader& header, uint16_t extraId,
                                          const std::string& stored);
// The whole comment as UTF-8, by the same rule.
std::string EntryCommentUtf8(const CZipEntryHeader& header);
// The archive's comment as UTF-8: no flag says how it is encoded, so UTF-8 when it is valid as
// such, else code page 437.
std::string ArchiveCommentUtf8(const std::string& stored);

}  // namespace fennic
