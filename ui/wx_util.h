#pragma once
// What every window of the front end shares: text conversion at the toolkit's edge, message
// boxes in the core's terms, and the embedded window templates.

#include <wx/bitmap.h>
#include <wx/string.h>
#include <wx/window.h>

#include <string>

namespace fennic::ui {

// Control ids of the templates, as the windows and their tests use them.
enum ControlId : int {
    ID_OK = 1,
    ID_CANCEL = 2,
    ID_ABOUT_COMMAND = 16,  // "&About Fennic..."
    ID_EXTRACT_COMMAND = 100,
};

// UTF-8 (what the core hands over) to the toolkit's strings and back.
wxString FromUtf8(const std::string& text);
std::string ToUtf8(const wxString& text);
// Text that the core keeps in code page 1252.
wxString FromCp1252(const std::string& text);

// A message box with the core's styles (MB_*) and results (IDOK, IDYES, IDNO). An empty
// caption stays empty: it is the application's display name.
int ShowMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                   unsigned style);

// Loads the embedded templates and pictures once; the numeric control ids are registered
// first so that each template's controls get the ids of their table.
void InitResources();
// The templates were laid out for a narrower dialog font than this desktop's: every control
// gets a slightly smaller font than the one the dialog units come from, and labels grow to
// their text (up to the dialog's edge) instead of cutting it.
void FitTemplateTexts(wxWindow* dialog);

// A picture embedded with the templates: "ICON_128", "ICON_135".
wxBitmap ResourceBitmap(const char* name);

}  // namespace fennic::ui
