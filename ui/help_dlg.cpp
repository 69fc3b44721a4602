#include "ui/help_dlg.h"

#include <sys/stat.h>
#include <wx/textctrl.h>
#include <wx/xrc/xmlres.h>

#include "app/settings.h"
#include "fs/file_io.h"
#include "ui/wx_util.h"

namespace fennic::ui {

CHelpDlg::CHelpDlg(wxWindow* parent) {
    InitResources();
    wxXmlResource::Get()->LoadDialog(this, parent, "IDD_HELP");
    FitTemplateTexts(this);
    SetAffirmativeId(ID_OK);
    OnInitDialog();
}

std::string CHelpDlg::HelpFilePath() {
    return HelpFilePath(CSettings::GetProgramDir());
}

std::string CHelpDlg::HelpFilePath(const std::string& programDir) {
    const std::string beside = programDir + "/fxnfo.cmh";
    const std::string installed =
        CSettings::FromProgramDir(programDir, FENNIC_DATA_FROM_BINDIR) + "/fxnfo.cmh";
    struct stat st {};
    if (::stat(beside.c_str(), &st) != 0 && ::stat(installed.c_str(), &st) == 0) return installed;
    return beside;
}

bool CHelpDlg::ReadTextFile(const std::string& path, std::string& text) {
    // Far beyond any help text; anything larger is not ours to show.
    constexpr size_t kMaxHelpSize = 16 << 20;
    std::string data;
    if (fs::ReadWholeFile(path, kMaxHelpSize, data) != 0) return false;
    if (const size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
    text = std::move(data);
    return true;
}

void CHelpDlg::OnInitDialog() {
    // Read afresh at every opening, so an edited help file shows at once.
    std::string text;
    if (!ReadTextFile(HelpFilePath(), text)) text = "{Help File not found}";
    auto* edit = static_cast<wxTextCtrl*>(FindWindow(IDC_HELP_TEXT));
    edit->ChangeValue(FromUtf8(text));
    edit->SetInsertionPoint(0);
    FindWindow(ID_OK)->SetFocus();
}

CAboutDlg::CAboutDlg(wxWindow* parent) {
    InitResources();
    wxXmlResource::Get()->LoadDialog(this, parent, "IDD_ABOUTBOX");
    FitTemplateTexts(this);
    SetAffirmativeId(ID_OK);
}

}  // namespace fennic::ui
