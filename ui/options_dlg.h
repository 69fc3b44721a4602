#pragma once
// The Options dialog: the eight settings, each written the moment it changes.

#include <wx/dialog.h>

namespace fennic::ui {

class COptionsDlg : public wxDialog {
public:
    explicit COptionsDlg(wxWindow* parent);
    ~COptionsDlg() override = default;

    // Template control ids.
    enum : int {
        IDC_USER = 1000,
        IDC_PASSWORD = 1001,
        IDC_PROXY = 1002,
        IDC_PROXY_USER = 1003,
        IDC_PROXY_PASSWORD = 1004,
        IDC_USE_PROXY = 1005,
        IDC_PROXY_PORT = 1006,
        IDC_PORT = 1007,
    };

private:
    void OnInitDialog();
    void OnUseProxy(wxCommandEvent& event);
    void OnFieldChanged(wxCommandEvent& event);
    void EnableProxyGroup(bool enable);
};

}  // namespace fennic::ui
