#include "ui/progress_ui.h"

#include <wx/animate.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>

#include "app/frontend.h"
#include "ui/wx_util.h"

namespace fennic::ui {

void CWindowChannel::Send(std::function<void()> fn) {
    if (wxThread::IsMain()) {
        fn();
        return;
    }
    auto done = std::make_shared<bool>(false);
    auto self = shared_from_this();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open) return;
    }
    wxTheApp->CallAfter([self, done, fn = std::move(fn)] {
        bool open;
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            open = self->m_open;
        }
        if (open) fn();
        std::lock_guard<std::mutex> lock(self->m_mutex);
        *done = true;
        self->m_done.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [&] { return *done || !m_open; });
}

void CWindowChannel::Post(std::function<void()> fn) {
    auto self = shared_from_this();
    wxTheApp->CallAfter([self, fn = std::move(fn)] {
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            if (!self->m_open) return;
        }
        fn();
    });
}

void CWindowChannel::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
    m_done.notify_all();
}

CProgressWnd::CProgressWnd(wxWindow* parent, IProgressDialog& dlg) : m_dlg(dlg) {
    InitResources();
    wxXmlResource::Get()->LoadDialog(this, parent, "IDD_PROGRESS");
    FitTemplateTexts(this);
    m_animation = XRCCTRL(*this, "IDC_1000", wxAnimationCtrl);
    m_bar = XRCCTRL(*this, "IDC_1003", wxGauge);
    SetAffirmativeId(wxID_NONE);
    SetEscapeId(ID_CANCEL);  // Escape presses Cancel while it is enabled
    Bind(wxEVT_BUTTON, &CProgressWnd::OnCancelButton, this, ID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, &CProgressWnd::OnCloseWindow, this);
}

CProgressWnd::~CProgressWnd() {
    m_channel->Close();
}

int CProgressWnd::Run() {
    m_dlg.OnInitDialog(*this);
    if (!m_ended) {
        CentreOnParent();
        ShowModal();
    }
    // Nothing queued by the worker reaches the window after this point.
    m_channel->Close();
    m_dlg.OnDestroy();
    return m_result;
}

void CProgressWnd::SetText(int controlId, const std::string& text) {
    auto* label = dynamic_cast<wxStaticText*>(FindWindow(controlId));
    if (!label) return;
    const wxString shown = FromUtf8(text);
    label->SetFont(GetFont().Scaled(0.9f));
    // A long text takes a smaller font before it is cut with an ellipsis.
    wxFont font = label->GetFont();
    for (int step = 0; step < 2 && label->GetTextExtent(shown).x > label->GetSize().x; ++step) {
        font = font.Scaled(0.9f);
        label->SetFont(font);
    }
    label->SetLabelText(shown);  // '&' in a server name is shown as it is
}

void CProgressWnd::SetCaption(const std::string& text) {
    SetTitle(FromUtf8(text));
}

void CProgressWnd::SetProgressRange(uint16_t upper) {
    m_bar->SetRange(std::max<int>(1, upper));
}

void CProgressWnd::SetProgressPos(int pos) {
    m_bar->SetValue(std::clamp(pos, 0, m_bar->GetRange()));
}

// The clip's own loop count is "forever".
void CProgressWnd::StartAnimation() {
    m_animation->Play();
}
void CProgressWnd::StopAnimation() {
    m_animation->Stop();
}
void CProgressWnd::EnableCancel(bool enable) {
    FindWindow(ID_CANCEL)->Enable(enable);
}

int CProgressWnd::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    return ShowMessageBox(this, text, caption, style);
}

bool CProgressWnd::PromptProxyLogin(std::string& user, std::string& password) {
    wxDialog prompt(this, wxID_ANY, "Proxy Authentication");
    auto* grid = new wxFlexGridSizer(2, wxSize(8, 8));
    auto* userField = new wxTextCtrl(&prompt, wxID_ANY, FromUtf8(user));
    auto* passField = new wxTextCtrl(&prompt, wxID_ANY, FromUtf8(password), wxDefaultPosition,
                                     wxDefaultSize, wxTE_PASSWORD);
    grid->Add(new wxStaticText(&prompt, wxID_ANY, "User name:"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(userField, 1, wxEXPAND);
    grid->Add(new wxStaticText(&prompt, wxID_ANY, "Password:"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(passField, 1, wxEXPAND);
    grid->AddGrowableCol(1);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(new wxStaticText(&prompt, wxID_ANY,
                              "The proxy server asks for a user name and "
                              "password."),
             0, wxALL, 10);
    top->Add(grid, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
    top->Add(prompt.CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 10);
    prompt.SetSizerAndFit(top);
    userField->SetFocus();
    if (prompt.ShowModal() != wxID_OK) return false;
    user = ToUtf8(userField->GetValue());
    password = ToUtf8(passField->GetValue());
    return true;
}

void CProgressWnd::EndDialog(int result) {
    m_result = result;
    m_ended = true;
    if (IsModal()) EndModal(result);
}

void CProgressWnd::OnCancelButton(wxCommandEvent&) {
    m_dlg.OnCancel();
}

void CProgressWnd::OnCloseWindow(wxCloseEvent& event) {
    if (m_ended || !event.CanVeto()) {
        event.Skip();
        return;
    }
    event.Veto();
    m_dlg.OnClose();
}

int CWxProgressHost::RunModal(IProgressDialog& dlg) {
    wxWindow* parent = m_parent ? m_parent : wxTheApp->GetTopWindow();
    CProgressWnd wnd(parent, dlg);
    return wnd.Run();
}

}  // namespace fennic::ui
