#include "app/entry_columns.h"

#include <locale.h>

#include <cstdio>

#include "app/strings.h"
#include "app/text_convert.h"

namespace fennic {
namespace {

constexpr unsigned kFirstHeaderId = 57345;

std::string ArchiveTextToUtf8(const CZipEntryHeader& header, const std::string& stored,
                              uint16_t unicodeExtraId) {
    return DecodeArchiveText(stored, header.IsUtf8(), header.HostSystem(),
                             UnicodeExtraOf(header, unicodeExtraId, stored));
}

}  // namespace

std::optional<std::string> UnicodeExtraOf(const CZipEntryHeader& header, uint16_t extraId,
                                          const std::string& stored) {
    if (header.IsUtf8()) return std::nullopt;
    const auto block = header.Extra(extraId);
    return block ? UnicodeExtraText(*block, stored) : std::nullopt;
}

std::string DecodeArchiveText(const std::string& stored, bool utf8Flag, uint8_t hostSystem,
                              const std::optional<std::string>& unicodeExtra) {
    if (utf8Flag) return SanitizeUtf8(stored);
    if (unicodeExtra) return SanitizeUtf8(*unicodeExtra);
    const bool dosNames =
        hostSystem == kHostMsDos || hostSystem == kHostNtfs || hostSystem == kHostVfat;
    if (!dosNames && IsValidUtf8(stored)) return stored;
    return Cp437ToUtf8(stored);
}

std::vector<std::string> EntryColumnHeaders() {
    std::vector<std::string> headers;
    for (unsigned i = 0; i < kEntryColumnCount; ++i)
        headers.push_back(LoadString(kFirstHeaderId + i));
    return headers;
}

std::string EntryNameUtf8(const CZipEntryHeader& header) {
    std::string name = ArchiveTextToUtf8(header, header.GetRawFileName(), kUnicodePathExtraId);
    for (char& c : name) c = c == '/' ? '\\' : c;
    return name;
}

std::string EntryCommentUtf8(const CZipEntryHeader& header) {
    return ArchiveTextToUtf8(header, header.GetComment(), kUnicodeCommentExtraId);
}

std::string ArchiveCommentUtf8(const std::string& stored) {
    return IsValidUtf8(stored) ? stored : Cp437ToUtf8(stored);
}

std::string FormatEntryName(const CZipEntryHeader& header) {
    return (header.IsEncrypted() ? "(*) " : "") + EntryNameUtf8(header);
}

std::string FormatSize(uint64_t uncompressedSize) {
    return std::to_string(uncompressedSize);
}

std::string FormatTime(time_t localTime) {
    struct tm t;
    if (localtime_r(&localTime, &t) == nullptr) return std::string();
    // "%d %b %Y, %X" in the C locale, whatever locale the process has selected, so the cell
    // never changes language; written out by hand, as this runs once per row.
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int year = t.tm_year + 1900;
    if (t.tm_mon < 0 || t.tm_mon > 11 || year < 1000 || year > 9999) return std::string();
    auto two = [](int v) { return std::string{char('0' + v / 10 % 10), char('0' + v % 10)}; };
    std::string text;
    text.reserve(21);
    text += two(t.tm_mday);
    text += ' ';
    text += kMonths[t.tm_mon];
    text += ' ';
    text += two(year / 100);
    text += two(year % 100);
    text += ", ";
    text += two(t.tm_hour);
    text += ':';
    text += two(t.tm_min);
    text += ':';
    text += two(t.tm_sec);
    return text;
}

std::string FormatAttributes(uint32_t externalAttributes) {
    std::string text = "----";
    if (externalAttributes & kAttrReadOnly) text[0] = 'r';
    if (externalAttributes & kAttrArchive) text[1] = 'a';
    if (externalAttributes & kAttrHidden) text[2] = 'h';
    if (externalAttributes & kAttrSystem) text[3] = 's';
    return text;
}

std::string FormatRatio(uint64_t compressedSize, uint64_t uncompressedSize) {
    if (uncompressedSize == 0) return "0%";
    // Whole percent, truncated; the product is taken in 128 bits so no size overflows it.
    const auto ratio = static_cast<uint64_t>(static_cast<unsigned __int128>(compressedSize) * 100 /
                                             uncompressedSize);
    return std::to_string(ratio) + "%";
}

std::string FormatCrc(uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(crc));
    return text;
}

std::string FormatComment(const CZipEntryHeader& header) {
    bool cut = false;
    std::string shown = Utf8Prefix(EntryCommentUtf8(header), kCommentCellLimit, &cut);
    return shown + (cut ? "..." : "");
}

EntryRow FormatEntryColumns(const CZipEntryHeader& header, bool isDirectory) {
    return {
        FormatEntryName(header),
        isDirectory ? "YES" : "NO",
        FormatSize(header.UncompressedSize()),
        FormatTime(header.GetModTime()),
        FormatAttributes(header.externalAttributes),
        FormatRatio(header.CompressedSize(), header.UncompressedSize()),
        FormatCrc(header.crc32),
        FormatComment(header),
    };
}

}  // namespace fennic
