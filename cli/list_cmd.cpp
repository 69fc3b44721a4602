#include "cli/list_cmd.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/entry_columns.h"
#include "app/text_convert.h"
#include "cli/commands.h"
#include "cli/console_frontend.h"
#include "cli/direct_cmd.h"
#include "cli/remote_list.h"

namespace fennic::cli {
namespace {

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

}  // namespace

namespace {

void PrintRow(const std::vector<std::string>& cells, std::string& line, std::FILE* out) {
    line.clear();
    // Names and comments come from the archive: no byte of theirs may act on the terminal or
    // add a column or row.
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i) line += '\t';
        AppendTerminalText(line, cells[i]);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace

void PrintEntryTsv(const CZipDirectory& dir, std::FILE* out) {
    // Row by row: the rows of a large archive are never all held at once.
    std::string line;
    PrintRow(EntryColumnHeaders(), line, out);
    const size_t count = dir.GetCount();
    for (size_t i = 0; i < count; ++i) {
        if (std::ferror(out)) return;  // the rest would fail the same way
        const CZipEntryHeader& h = dir.GetHeader(i);
        PrintRow(FormatEntryColumns(h, h.IsDirectory()), line, out);
    }
}

namespace {

// The bytes of one JSON entry, built with plain copies: this runs 65,535 times for a full
// archive, and string appends of small pieces would cost more than the formatting itself.
class JsonEntry {
public:
    template <size_t N>
    void Raw(const char (&text)[N]) {
        Bytes(text, N - 1);
    }
    void Bytes(const char* data, size_t size) {
        if (m_size + size > m_buffer.size()) m_buffer.resize((m_size + size) * 2);
        std::memcpy(m_buffer.data() + m_size, data, size);
        m_size += size;
    }
    void Number(uint64_t value) {
        char digits[24];
        char* end = digits + sizeof digits;
        char* p = end;
        do {
            *--p = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        Bytes(p, static_cast<size_t>(end - p));
    }
    void SignedNumber(long long value) {
        if (value < 0) Raw("-");
        Number(value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
    }
    void Quoted(const std::string& text) {
        m_quoted.clear();
        AppendJsonQuoted(m_quoted, text);
        Bytes(m_quoted.data(), m_quoted.size());
    }
    void Bool(bool value) {
        if (value)
            Raw("true");
        else
            Raw("false");
    }
    void Value(bool value) { Bool(value); }
    void Value(uint64_t value) { Number(value); }
    void Value(uint32_t value) { Number(value); }
    void Value(uint16_t value) { Number(value); }
    void Value(long long value) { SignedNumber(value); }
    void Value(const std::string& text) { Quoted(text); }
    // ", \"key\": " and the value; key is a literal.
    template <size_t N, typename T>
    void Field(const char (&key)[N], const T& value) {
        Raw(", \"");
        Bytes(key, N - 1);
        Raw("\": ");
        Value(value);
    }
    void Clear() { m_size = 0; }
    void WriteTo(std::FILE* out) const { std::fwrite(m_buffer.data(), 1, m_size, out); }

private:
    std::vector<char> m_buffer = std::vector<char>(4096);
    size_t m_size = 0;
    std::string m_quoted;
};

}  // namespace

void PrintEntryJson(const CZipDirectory& dir, const std::string& comment, std::FILE* out) {
    // Written entry by entry: the document of a large archive is never held whole.
    JsonEntry e;
    e.Raw("{\"version\": 2");
    e.Field("comment", ArchiveCommentUtf8(comment));
    e.Field("comment_bytes", Hex(comment));
    e.Raw(", \"entries\": ");
    e.WriteTo(out);
    const size_t count = dir.GetCount();
    for (size_t i = 0; i < count; ++i) {
        if (std::ferror(out)) return;  // the rest would fail the same way
        // Read in place: the cells come from the stored bytes, no copy of the record is needed.
        const CZipEntryHeader& h = dir.GetHeader(i);
        const time_t mtime = h.GetModTime();
        e.Clear();
        if (i == 0)
            e.Raw("[\n {\"name\": ");
        else
            e.Raw(",\n {\"name\": ");
        e.Quoted(FormatEntryName(h));
        e.Raw(", \"name_bytes\": \"");
        const std::string hex = Hex(h.GetRawFileName());
        e.Bytes(hex.data(), hex.size());
        e.Raw("\", \"utf8\": ");
        e.Bool(h.IsUtf8());
        e.Field("encrypted", h.IsEncrypted());
        e.Field("directory", h.IsDirectory());
        e.Field("compressed_size", h.CompressedSize());
        e.Field("uncompressed_size", h.UncompressedSize());
        e.Field("crc32", h.crc32);
        e.Field("method", h.method);
        e.Field("flags", h.flags);
        e.Field("dos_time", h.modTime);
        e.Field("dos_date", h.modDate);
        e.Field("mtime", static_cast<long long>(mtime));
        e.Field("internal_attributes", h.internalAttributes);
        e.Field("external_attributes", h.externalAttributes);
        e.Field("local_header_offset", h.LocalHeaderOffset());
        e.Field("disk_start", h.DiskStart());
        e.Field("version_made_by", h.versionMadeBy);
        e.Field("version_needed", h.versionNeeded);
        e.Field("time", FormatTime(mtime));
        e.Field("attributes", FormatAttributes(h.externalAttributes));
        e.Field("crc", FormatCrc(h.crc32));
        e.Field("comment", EntryCommentUtf8(h));
        e.Field("comment_bytes", Hex(h.GetComment()));
        e.Raw("}");
        e.WriteTo(out);
    }
    std::fputs(count ? "\n]}\n" : "[]}\n", out);
}

void PrintEntryAligned(const CZipDirectory& dir, const std::string& comment, std::FILE* out) {
    if (!comment.empty()) {
        std::fprintf(out, "%s\n", TerminalText(ArchiveCommentUtf8(comment), true).c_str());
    }
    // The size column is as wide as the largest size needs, at least unzip's nine.
    uint64_t total = 0, largest = 0;
    for (size_t i = 0; i < dir.GetCount(); ++i) {
        const uint64_t size = dir.GetHeader(i).UncompressedSize();
        total += size;
        largest = std::max(largest, size);
    }
    const int width =
        std::max<int>(9, static_cast<int>(std::to_string(std::max(total, largest)).size()));
    const std::string rule(static_cast<size_t>(width), '-');
    std::fprintf(out, "%*s  %-10s %-5s   Name\n%s  ---------- -----   ----\n", width, "Length",
                 "Date", "Time", rule.c_str());
    std::string line;
    for (size_t i = 0; i < dir.GetCount(); ++i) {
        if (std::ferror(out)) return;  // the rest would fail the same way
        const CZipEntryHeader& h = dir.GetHeader(i);
        char head[96];
        // The stored date and time as they are: no time zone turns them into another day.
        std::snprintf(head, sizeof head, "%*" PRIu64 "  %04u-%02u-%02u %02u:%02u   ", width,
                      h.UncompressedSize(), 1980u + (h.modDate >> 9), (h.modDate >> 5) & 0x0Fu,
                      h.modDate & 0x1Fu, static_cast<unsigned>(h.modTime >> 11),
                      (h.modTime >> 5) & 0x3Fu);
        line = head;
        std::string name = EntryNameUtf8(h);
        std::replace(name.begin(), name.end(), '\\', '/');
        AppendTerminalText(line, name);
        if (h.IsEncrypted()) line += "  (encrypted)";
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
    const size_t n = dir.GetCount();
    std::fprintf(out, "%s                     -------\n%*" PRIu64 "                     %zu %s\n",
                 rule.c_str(), width, total, n, n == 1 ? "file" : "files");
}

int ListLocalArchive(const std::string& path, bool json, IFrontEnd& frontEnd, std::FILE* out) {
    CArchiveView view;
    view.SetArchivePath(path, false);
    // Listing never writes, so a read-only archive lists too.
    view.SetOpenMode(ZipOpenReadOnly);
    if (!view.OpenArchive(frontEnd)) {
        if (!view.LastOpenCause().empty()) {
            std::fprintf(stderr, "fennic: %s: %s\n", TerminalText(path).c_str(),
                         view.LastOpenCause().c_str());
        }
        view.CloseArchive(frontEnd);
        return 1;
    }
    if (json)
        PrintEntryJson(view.Engine().GetDirectory(),
                       view.Engine().GetDirectory().GetEndComment().ToString(), out);
    else
        PrintEntryTsv(view.Engine().GetDirectory(), out);
    const bool written = FlushOutput(out);
    const bool closed = view.CloseArchive(frontEnd);
    return written && closed ? 0 : 1;
}

int CmdList(const Args& given) {
    Args args = given;
    if (!TakeClassic(args)) return DirectList(args);
    if (int status = 0; RouteRemoteList(args, status)) return status;  // a URL: remote listing
    bool json = false;
    std::string path;
    bool havePath = false;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--json") {
            json = true;
        } else if (options && a == "--") {
            options = false;
        } else if (options && a.size() > 1 && a[0] == '-') {
            RefuseClassicOption("list", a);
            return 2;
        } else if (!havePath) {
            path = a;
            havePath = true;
        } else {
            std::fprintf(stderr, "fennic list: one archive at a time\n");
            return 2;
        }
    }
    if (!havePath || path.empty()) {
        std::fprintf(stderr, "usage: fennic list --classic [--json] PATH\n");
        return 2;
    }
    CConsoleFrontEnd frontEnd;
    return ListLocalArchive(path, json, frontEnd, stdout);
}

}  // namespace fennic::cli
