#include "app/entry_columns.h"

#include <locale.h>

#include <cstdio>

#include "app/strings.h"
#include "app/text_convert.h"

namespace fennic {
namespace {

constexpr unsigned kFirstHeaderId = 57345;

// Text stored in the archive, as UTF-8: flag bit 11 says it already is.
std::string ArchiveTextToUtf8(const CZipEntryHeader& header, const std::string& text) {
    return header.IsUtf8() ? SanitizeUtf8(text) : Cp1252ToUtf8(text);
}

}  // namespace

std::vector<std::string> EntryColumnHeaders() {
    std::vector<std::string> headers;
    for (unsigned i = 0; i < kEntryColumnCount; ++i)
        headers.push_back(LoadString(kFirstHeaderId + i));
    return headers;
}

std::string EntryNameUtf8(const CZipEntryHeader& header) {
    return ArchiveTextToUtf8(header, header.GetFileName());
}

std::string FormatEntryName(const CZipEntryHeader& header) {
    return (header.IsEncrypted() ? "(*) " : "") + EntryNameUtf8(header);
}

std::string FormatSize(uint32_t uncompressedSize) {
    return std::to_string(uncompressedSize);
}

std::string FormatTime(time_t localTime) {
    struct tm t;
    if (localtime_r(&localTime, &t) == nullptr) return std::string();
    // The C locale whatever the process has selected, so the cell never changes language.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    char text[128];
    const size_t n = cLocale ? strftime_l(text, sizeof text, "%d %b %Y, %X", &t, cLocale)
                             : strftime(text, sizeof text, "%d %b %Y, %X", &t);
    return std::string(text, n);
}

std::string FormatAttributes(uint32_t externalAttributes) {
    std::string text = "----";
    if (externalAttributes & kAttrReadOnly) text[0] = 'r';
    if (externalAttributes & kAttrArchive) text[1] = 'a';
    if (externalAttributes & kAttrHidden) text[2] = 'h';
    if (externalAttributes & kAttrSystem) text[3] = 's';
    return text;
}

std::string FormatRatio(uint32_t compressedSize, uint32_t uncompressedSize) {
    if (uncompressedSize == 0) return "0%";
    // 64 bits hold any 32-bit size times 100.
    const uint64_t ratio = uint64_t{compressedSize} * 100 / uncompressedSize;
    return std::to_string(ratio) + "%";
}

std::string FormatCrc(uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(crc));
    return text;
}

std::string FormatComment(const CZipEntryHeader& header) {
    const std::string comment = header.GetComment();
    if (header.IsUtf8()) {
        bool cut = false;
        std::string shown = Utf8Prefix(comment, kCommentCellLimit, &cut);
        return SanitizeUtf8(shown) + (cut ? "..." : "");
    }
    if (comment.size() <= kCommentCellLimit) return Cp1252ToUtf8(comment);
    return Cp1252ToUtf8(comment.substr(0, kCommentCellLimit)) + "...";
}

EntryRow FormatEntryColumns(const CZipEntryHeader& header, bool isDirectory) {
    return {
        FormatEntryName(header),
        isDirectory ? "YES" : "NO",
        FormatSize(header.uncompressedSize),
        FormatTime(header.GetModTime()),
        FormatAttributes(header.externalAttributes),
        FormatRatio(header.compressedSize, header.uncompressedSize),
        FormatCrc(header.crc32),
        FormatComment(header),
    };
}

}  // namespace fennic
