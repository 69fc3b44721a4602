#pragma once
// Where the main window meets the remote roads: "Get" and "Extract" run through here, with the
// window as the roads' host (its archive, URL field, dialogs and progress windows).

#include <memory>
#include <string>

#include "ui/progress_ui.h"

namespace fennic {
struct RemoteSession;
}

namespace fennic::ui {

class CExplorerDlg;

class CExplorerRemote {
public:
    explicit CExplorerRemote(CExplorerDlg& dlg);
    ~CExplorerRemote();

    // The "Get" button.
    void Get();
    // The popup's "Extract": the first selected row (-1: none) and its first-column text.
    void Extract(int selectedIndex, const std::string& itemText);
    // Runs the progress windows of the roads' transfers.
    CWxProgressHost& ProgressHost() { return m_progress; }

private:
    class Host;
    CWxProgressHost m_progress;
    std::unique_ptr<Host> m_host;
};

}  // namespace fennic::ui
