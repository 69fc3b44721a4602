#include "cli/list_cmd.h"

#include <cinttypes>
#include <string>

#include "app/entry_columns.h"
#include "app/text_convert.h"
#include "cli/commands.h"
#include "cli/console_frontend.h"
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

void PrintEntryTable(const std::vector<EntryRow>& rows, std::FILE* out) {
    std::string line;
    PrintRow(EntryColumnHeaders(), line, out);
    for (const EntryRow& row : rows) PrintRow(row, line, out);
}

void PrintEntryTable(const CArchiveView& view, std::FILE* out) {
    // Row by row: the rows of a large archive are never all held at once.
    std::string line;
    PrintRow(EntryColumnHeaders(), line, out);
    const CZipEngine& engine = view.Engine();
    const int count = engine.IsClosed() ? 0 : engine.GetEntryCount();
    for (int i = 0; i < count; ++i) {
        const CZipEntryHeader& h = engine.GetDirectory().GetHeader(static_cast<uint16_t>(i));
        PrintRow(FormatEntryColumns(h, h.IsDirectory()), line, out);
    }
}

void PrintEntryJson(const CArchiveView& view, std::FILE* out) {
    const CZipEngine& engine = view.Engine();
    // Written entry by entry: the document of a large archive is never held whole.
    std::string text;
    const int count = engine.IsClosed() ? 0 : engine.GetEntryCount();
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<uint16_t>(i);
        // Read in place: the cells come from the stored bytes, no copy of the record is needed.
        const CZipEntryHeader& h = engine.GetDirectory().GetHeader(index);
        const EntryRow cells = FormatEntryColumns(h, engine.IsEntryDirectory(index));
        char numbers[640];
        std::snprintf(numbers, sizeof numbers,
                      "\"compressed_size\": %" PRIu32 ", \"uncompressed_size\": %" PRIu32
                      ", \"crc32\": %" PRIu32
                      ", \"method\": %u, \"flags\": %u"
                      ", \"dos_time\": %u, \"dos_date\": %u, \"mtime\": %lld"
                      ", \"internal_attributes\": %u, \"external_attributes\": %" PRIu32
                      ", \"local_header_offset\": %" PRIu32
                      ", \"disk_start\": %u"
                      ", \"version_made_by\": %u, \"version_needed\": %u",
                      h.compressedSize, h.uncompressedSize, h.crc32, unsigned{h.method},
                      unsigned{h.flags}, unsigned{h.modTime}, unsigned{h.modDate},
                      static_cast<long long>(h.GetModTime()), unsigned{h.internalAttributes},
                      h.externalAttributes, h.localHeaderOffset, unsigned{h.diskStart},
                      unsigned{h.versionMadeBy}, unsigned{h.versionNeeded});
        text.clear();
        text += i ? ",\n " : "[\n ";
        text += "{\"name\": " + JsonQuoted(cells[0]) + ", \"name_bytes\": \"" +
                Hex(h.GetRawFileName()) + "\", \"utf8\": " + (h.IsUtf8() ? "true" : "false") +
                ", \"encrypted\": " + (h.IsEncrypted() ? "true" : "false") +
                ", \"directory\": " + (engine.IsEntryDirectory(index) ? "true" : "false") + ", " + numbers +
                ", \"time\": " + JsonQuoted(cells[3]) +
                ", \"attributes\": " + JsonQuoted(cells[4]) + ", \"crc\": " + JsonQuoted(cells[6]) +
                ", \"comment\": " + JsonQuoted(EntryCommentUtf8(h)) + "}";
        std::fwrite(text.data(), 1, text.size(), out);
    }
    text = count ? "\n]\n" : "[]\n";
    std::fwrite(text.data(), 1, text.size(), out);
}

int ListLocalArchive(const std::string& path, bool json, IFrontEnd& frontEnd, std::FILE* out) {
    CArchiveView view;
    view.SetArchivePath(path, false);
    // Listing never writes, so a read-only archive lists too.
    view.SetOpenMode(ZipOpenReadOnly);
    if (!view.OpenArchive(frontEnd)) {
        view.CloseArchive(frontEnd);
        return 1;
    }
    if (json)
        PrintEntryJson(view, out);
    else
        PrintEntryTable(view, out);
    std::fflush(out);
    return view.CloseArchive(frontEnd) ? 0 : 1;
}

int CmdList(const Args& args) {
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
            std::fprintf(stderr, "fennic list: unknown option '%s'\n", a.c_str());
            return 2;
        } else if (!havePath) {
            path = a;
            havePath = true;
        } else {
            std::fprintf(stderr, "fennic list: one archive at a time\n");
            return 2;
        }
    }
    if (!havePath) {
        std::fprintf(stderr, "usage: fennic list [--json] PATH\n");
        return 2;
    }
    CConsoleFrontEnd frontEnd;
    return ListLocalArchive(path, json, frontEnd, stdout);
}

}  // namespace fennic::cli
