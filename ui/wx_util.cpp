#include "ui/wx_util.h"

#include <wx/image.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/xrc/xmlres.h>

#include <algorithm>

#include "app/frontend.h"

void InitFennicResources();  // written by wxrc from ui/res/fennic.xrc

namespace fennic::ui {

wxString FromUtf8(const std::string& text) {
    wxString s = wxString::FromUTF8(text.data(), text.size());
    // Bytes that are not UTF-8 would give an empty string; show them as code page 1252.
    if (s.empty() && !text.empty()) s = FromCp1252(text);
    return s;
}

std::string ToUtf8(const wxString& text) {
    const wxScopedCharBuffer buf = text.utf8_str();
    return std::string(buf.data(), buf.length());
}

wxString FromCp1252(const std::string& text) {
    static wxCSConv cp1252(wxFONTENCODING_CP1252);
    return wxString(text.data(), cp1252, text.size());
}

int ShowMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                   unsigned style) {
    long wxStyle = (style & 0xF) == MB_YESNO ? wxYES_NO : wxOK;
    switch (style & 0xF0) {
        case MB_ICONSTOP:
            wxStyle |= wxICON_ERROR;
            break;
        case MB_ICONQUESTION:
            wxStyle |= wxICON_QUESTION;
            break;
        case MB_ICONEXCLAMATION:
            wxStyle |= wxICON_WARNING;
            break;
        case MB_ICONINFORMATION:
            wxStyle |= wxICON_INFORMATION;
            break;
        default:
            wxStyle |= wxICON_NONE;
            break;
    }
    wxMessageDialog box(parent, FromUtf8(text), FromUtf8(caption), wxStyle);
    switch (box.ShowModal()) {
        case wxID_YES:
            return IDYES;
        case wxID_NO:
            return IDNO;
        default:
            return IDOK;
    }
}

void InitResources() {
    static bool done = false;
    if (done) return;
    done = true;
    wxInitAllImageHandlers();
    // Names in the templates stand for these ids; IDC_STATIC asks for an id of its own.
    const struct {
        const char* name;
        int id;
    } ids[] = {{"IDOK", ID_OK},    {"IDCANCEL", ID_CANCEL}, {"IDC_1000", 1000},
               {"IDC_1001", 1001}, {"IDC_1002", 1002},      {"IDC_1003", 1003},
               {"IDC_1004", 1004}, {"IDC_1005", 1005},      {"IDC_1006", 1006},
               {"IDC_1007", 1007}, {"IDC_STATIC", wxID_ANY}};
    for (const auto& entry : ids) wxXmlResource::GetXRCID(entry.name, entry.id);
    wxXmlResource::Get()->InitAllHandlers();
    InitFennicResources();
}

void FitTemplateTexts(wxWindow* dialog) {
    const wxFont font = dialog->GetFont().Scaled(0.9f);
    const int right = dialog->GetClientSize().x;
    for (wxWindow* child : dialog->GetChildren()) {
        child->SetFont(font);
        auto* label = dynamic_cast<wxStaticText*>(child);
        if (!label || label->HasFlag(wxST_NO_AUTORESIZE)) continue;
        const wxSize best = label->GetBestSize();
        const wxRect r = label->GetRect();
        label->SetSize(std::min(std::max(r.width, best.x), right - r.x),
                       std::max(r.height, best.y));
    }
}

wxBitmap ResourceBitmap(const char* name) {
    InitResources();
    return wxXmlResource::Get()->LoadBitmap(name);
}

}  // namespace fennic::ui
