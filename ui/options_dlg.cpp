#include "ui/options_dlg.h"

#include <wx/checkbox.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>
#include <string>

#include "app/settings.h"
#include "ui/wx_util.h"

namespace fennic::ui {
namespace {

struct Field {
    int id;
    const char* valueName;
    std::string CSettings::*member;
    bool digitsOnly;
};

// In the order the fields are filled at opening.
const Field kFields[] = {
    {COptionsDlg::IDC_USER, "HttpUsr", &CSettings::m_strHttpUsr, false},
    {COptionsDlg::IDC_PASSWORD, "HttpPwd", &CSettings::m_strHttpPwd, false},
    {COptionsDlg::IDC_PORT, "HttpPort", &CSettings::m_strHttpPort, true},
    {COptionsDlg::IDC_PROXY, "ProxyStr", &CSettings::m_strProxyStr, false},
    {COptionsDlg::IDC_PROXY_PORT, "ProxyPort", &CSettings::m_strProxyPort, true},
    {COptionsDlg::IDC_PROXY_USER, "ProxyUsr", &CSettings::m_strProxyUsr, false},
    {COptionsDlg::IDC_PROXY_PASSWORD, "ProxyPwd", &CSettings::m_strProxyPwd, false},
};

const Field* FindField(int id) {
    for (const Field& f : kFields) {
        if (f.id == id) return &f;
    }
    return nullptr;
}

}  // namespace

COptionsDlg::COptionsDlg(wxWindow* parent) {
    InitResources();
    wxXmlResource::Get()->LoadDialog(this, parent, "IDD_OPTIONS");
    FitTemplateTexts(this);
    SetAffirmativeId(ID_OK);
    for (const Field& f : kFields) {
        auto* text = static_cast<wxTextCtrl*>(FindWindow(f.id));
        if (f.digitsOnly) text->SetValidator(wxTextValidator(wxFILTER_DIGITS));
        text->Bind(wxEVT_TEXT, &COptionsDlg::OnFieldChanged, this);
    }
    Bind(wxEVT_CHECKBOX, &COptionsDlg::OnUseProxy, this, IDC_USE_PROXY);
    OnInitDialog();
}

void COptionsDlg::OnInitDialog() {
    CSettings& s = Settings();
    // Setting each text raises its change event, which writes the value back unchanged.
    for (const Field& f : kFields) {
        static_cast<wxTextCtrl*>(FindWindow(f.id))->SetValue(FromUtf8(s.*f.member));
    }
    static_cast<wxCheckBox*>(FindWindow(IDC_USE_PROXY))->SetValue(s.m_nUseProxy != 0);
    EnableProxyGroup(s.m_nUseProxy != 0);
    FindWindow(ID_OK)->SetFocus();
}

void COptionsDlg::EnableProxyGroup(bool enable) {
    for (int id : {IDC_PROXY, IDC_PROXY_PORT, IDC_PROXY_USER, IDC_PROXY_PASSWORD}) {
        FindWindow(id)->Enable(enable);
    }
}

void COptionsDlg::OnUseProxy(wxCommandEvent&) {
    CSettings& s = Settings();
    s.m_nUseProxy = static_cast<wxCheckBox*>(FindWindow(IDC_USE_PROXY))->GetValue() ? 1 : 0;
    EnableProxyGroup(s.m_nUseProxy != 0);
    s.WriteInt("UseProxy", s.m_nUseProxy);
}

void COptionsDlg::OnFieldChanged(wxCommandEvent& event) {
    const Field* f = FindField(event.GetId());
    if (!f) return;
    auto* text = static_cast<wxTextCtrl*>(event.GetEventObject());
    wxString value = text->GetValue();
    if (f->digitsOnly) {
        // Typing is filtered already; this catches pasted text.
        wxString digits;
        for (wxUniChar c : value) {
            if (c >= '0' && c <= '9') digits += c;
        }
        if (digits != value) {
            const long at = text->GetInsertionPoint();
            text->ChangeValue(digits);
            text->SetInsertionPoint(std::min<long>(at, static_cast<long>(digits.length())));
            value = digits;
        }
    }
    CSettings& s = Settings();
    s.*f->member = ToUtf8(value);
    s.WriteString(f->valueName, s.*f->member);
}

}  // namespace fennic::ui
