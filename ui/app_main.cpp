// Start and end of the window front end: the network layer, the settings, then the main
// window run modally; its end is the program's end.

#include <curl/curl.h>
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <cstdlib>

#include "app/frontend.h"
#include "app/settings.h"
#include "ui/explorer_dlg.h"
#include "ui/window_bench.h"
#include "ui/wx_util.h"

namespace fennic::ui {

class CExplorerApp : public wxApp {
public:
    bool OnInit() override {
        if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
            ShowMessageBox(nullptr, "This program requires Winsock 2.x", "", MB_OK | MB_ICONSTOP);
            return false;
        }
        SetAppDisplayName(wxEmptyString);
        Settings().LoadSettings();
        return true;
    }

    // The main window's modal run is the whole program; there is no main loop of its own.
    int OnRun() override {
        if (const char* bench = std::getenv(kWindowBenchVariable)) return RunWindowBench(bench);
        CExplorerDlg dlg(nullptr);
        SetTopWindow(&dlg);
        dlg.ShowModal();
        SetTopWindow(nullptr);
        return 0;
    }
};

}  // namespace fennic::ui

wxIMPLEMENT_APP_NO_MAIN(fennic::ui::CExplorerApp);

namespace fennic::ui {

int RunWindowFrontEnd(int argc, char** argv) {
    return wxEntry(argc, argv);
}

}  // namespace fennic::ui
