#include "ui/explorer_remote.h"

#include "app/settings.h"
#include "remote/classic/remote_host.h"
#include "remote/remote_session.h"
#include "ui/explorer_dlg.h"

namespace fennic::ui {

// The window as the roads see it.
class CExplorerRemote::Host : public remote::IRemoteHost {
public:
    Host(CExplorerDlg& dlg, IProgressHost& progress) : m_dlg(dlg), m_progress(progress) {}
    IFrontEnd& FrontEnd() override { return m_dlg; }
    IProgressHost& ProgressHost() override { return m_progress; }
    CArchiveView& Archive() override { return m_dlg.Archive(); }
    void FillEntryList() override { m_dlg.FillEntryList(); }
    std::string UrlText() override { return m_dlg.UrlText(); }
    RemoteSession& Session() override { return m_session; }
    CSettings& Settings() override { return fennic::Settings(); }
    bool PromptZipFileName(std::string& path, const std::string& proposal) override {
        return m_dlg.RunZipFileDialog(path, false, proposal);
    }

private:
    CExplorerDlg& m_dlg;
    IProgressHost& m_progress;
    RemoteSession m_session;
};

CExplorerRemote::CExplorerRemote(CExplorerDlg& dlg)
    : m_progress(&dlg), m_host(std::make_unique<Host>(dlg, m_progress)) {}

void CExplorerRemote::Get() {
    remote::Get(*m_host);
}

void CExplorerRemote::Extract(int selectedIndex, const std::string& itemText) {
    remote::OnExtractCommand(*m_host, selectedIndex, itemText);
}

CExplorerRemote::~CExplorerRemote() = default;

}  // namespace fennic::ui
