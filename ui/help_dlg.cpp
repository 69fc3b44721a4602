#include "ui/help_dlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/textctrl.h>
#include <wx/xrc/xmlres.h>

#include <cerrno>

#include "app/settings.h"
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
    return CSettings::GetProgramDir() + "/fxnfo.cmh";
}

bool CHelpDlg::ReadTextFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string data;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buf[8192];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) return false;
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
