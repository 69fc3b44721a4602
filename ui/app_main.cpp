// Start and end of the window front end: the network layer, the settings, then the main
// window run modally; its end is the program's end.

#include <curl/curl.h>
#include <wx/app.h>
#include <wx/msgdlg.h>

#include "app/frontend.h"
#include "app/settings.h"
#include "ui/explorer_dlg.h"
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
        CExplorerDlg dlg(nullptr);
        SetTopWindow(&dlg);
        dlg.ShowModal();
        SetTopWindow(nullptr);
        return 0;
    }
};

}  // namespace fennic::ui

wxIMPLEMENT_APP_NO_MAIN(fennic::ui::CExplorerApp);

int RunWindowFrontEnd(int argc, char** argv) {
    return wxEntry(argc, argv);
}
