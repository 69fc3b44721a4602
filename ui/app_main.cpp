// Start and end of the window front end: the network layer, the settings, then the main
// window run modally; its end is the program's end.

#include <curl/curl.h>
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <cstdlib>
#include <string>

#include "app/frontend.h"
#include "app/settings.h"
#include "ui/explorer_dlg.h"
#include "ui/window_bench.h"
#include "ui/wx_util.h"

namespace fennic::ui {

namespace {

// The program's argument, kept as the bytes given: a file name need not be valid in any
// encoding the toolkit would convert it with.
std::string& StartArgument() {
    static std::string argument;
    return argument;
}

}  // namespace

class CExplorerApp : public wxApp {
public:
    bool OnInit() override {
        if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
            ShowMessageBox(nullptr, "This program requires Winsock 2.x", "", MB_OK | MB_ICONSTOP);
            return false;
        }
        SetAppDisplayName(wxEmptyString);
        // The window's first read creates the section, as opening the key did.
        CSettings::BindSection("Settings");
        Settings().LoadSettings();
        if (!Settings().Problem().empty()) {
            ShowMessageBox(nullptr, Settings().Problem(), "", MB_OK | MB_ICONEXCLAMATION);
        }
        return true;
    }

    // The main window's modal run is the whole program; there is no main loop of its own.
    int OnRun() override {
        if (const char* bench = std::getenv(kWindowBenchVariable)) return RunWindowBench(bench);
        CExplorerDlg dlg(nullptr);
        SetTopWindow(&dlg);
        // Once the window is up, so that its messages and progress have a parent to show on.
        if (!StartArgument().empty()) {
            dlg.CallAfter([&dlg] { dlg.OpenStartArgument(StartArgument()); });
        }
        dlg.ShowModal();
        SetTopWindow(nullptr);
        return 0;
    }
};

}  // namespace fennic::ui

wxIMPLEMENT_APP_NO_MAIN(fennic::ui::CExplorerApp);

namespace fennic::ui {

int RunWindowFrontEnd(int argc, char** argv) {
    // The toolkit sees the program's name alone; the one argument is ours.
    std::string argument = argc >= 2 ? argv[1] : "";
    int toolkitArgc = argc > 0 ? 1 : 0;
    StartArgument() = std::move(argument);
    return wxEntry(toolkitArgc, argv);
}

}  // namespace fennic::ui
