// Arbitrary bytes as an archive file: open, list every entry's cells, close.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/archive_view.h"
#include "app/entry_columns.h"
#include "app/text_convert.h"
#include "fuzz/scratch_file.h"
#include "zip/zip_engine.h"

namespace {

class SilentFrontEnd : public fennic::IFrontEnd {
public:
    int MessageBox(const std::string&, const std::string&, unsigned style) override {
        // One retry, so that the close-after-error path runs too.
        if ((style & 0xF) == fennic::MB_YESNO) return m_asked++ == 0 ? fennic::IDYES : fennic::IDNO;
        return fennic::IDOK;
    }
    int m_asked = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::WriteScratch(data, size);

    SilentFrontEnd frontEnd;
    fennic::CArchiveView view;
    view.SetArchivePath(path, false);
    view.OpenArchive(frontEnd);
    for (const fennic::EntryRow& row : view.FillEntryList()) {
        if (row.size() != fennic::kEntryColumnCount) std::abort();
        // What reaches a terminal holds no control byte and no line break, whatever the
        // archive's names and comments hold.
        for (const std::string& cell : row) {
            for (const std::string& shown :
                 {fennic::TerminalText(cell), fennic::JsonQuoted(cell)}) {
                for (char c : shown) {
                    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
                }
            }
        }
    }
    const fennic::CZipEngine& engine = view.Engine();
    for (int i = 0; i < engine.GetEntryCount(); ++i) {
        fennic::CZipEntryHeader h;
        if (!engine.GetEntryInfo(h, static_cast<size_t>(i))) std::abort();
        if (h.GetCentralSize() < fennic::kCentralHeaderFixedSize) std::abort();
        fennic::TerminalText(fennic::EntryCommentUtf8(h));
    }
    view.CloseArchive(frontEnd);
    if (!engine.IsClosed(false)) std::abort();
    return 0;
}
