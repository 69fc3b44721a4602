#pragma once
// The help window, which shows the help file beside the program, and the
// about box.

#include <wx/dialog.h>

#include <string>

namespace fennic::ui {

class CHelpDlg : public wxDialog {
public:
    explicit CHelpDlg(wxWindow* parent);
    ~CHelpDlg() override = default;

    enum : int { IDC_HELP_TEXT = 1007 };

    // The whole file into `text`, cut at its first NUL byte; false on any file error.
    static bool ReadTextFile(const std::string& path, std::string& text);
    // The help file's full path: the program's folder and "fxnfo.cmh".
    static std::string HelpFilePath();

private:
    void OnInitDialog();
};

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace fennic::ui
