#include "ui/window_bench.h"

#include <wx/app.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "app/frontend.h"
#include "ui/entry_list.h"
#include "ui/explorer_dlg.h"

namespace fennic::ui {

const char kWindowBenchVariable[] = "FENNIC_WINDOW_BENCH";

namespace {

constexpr auto kPaintDeadline = std::chrono::seconds(60);

// The main window with its message boxes on stderr: nobody is there to click them.
class CBenchExplorer : public CExplorerDlg {
public:
    CBenchExplorer() : CExplorerDlg(nullptr) {}
    int MessageBox(const std::string& text, const std::string&, unsigned style) override {
        std::fprintf(stderr, "fennic: %s\n", text.c_str());
        ++messages;
        return (style & 0xF) == MB_YESNO ? IDNO : IDOK;
    }
    int messages = 0;
};

bool ServeUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kPaintDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        wxTheApp->Yield(true);
    }
    return true;
}

}  // namespace

int RunWindowBench(const std::string& path) {
    CBenchExplorer dlg;
    dlg.Show();
    if (!ServeUntil([&] { return dlg.IsShownOnScreen(); })) return 1;
    CEntryListCtrl* list = dlg.EntryList();
    int paints = 0;
    list->RowsWindow()->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& event) {
        ++paints;
        event.Skip();
    });

    const auto start = std::chrono::steady_clock::now();
    dlg.OpenZipFile(path);
    // The list lays its rows out when idle and paints nothing before that.
    wxTheApp->ProcessIdle();
    const int before = paints;
    list->RowsWindow()->Refresh();
    list->RowsWindow()->Update();
    const bool painted = ServeUntil([&] { return paints > before; });
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;

    std::printf("%.1f ms %zu rows\n", elapsed.count(), list->RowCount());
    std::fflush(stdout);
    dlg.Hide();
    return painted && dlg.messages == 0 ? 0 : 1;
}

}  // namespace fennic::ui
