#pragma once
// The help window, which shows the help file beside the program or in its data folder, and
// the about box.

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
    // The help file's full path: "fxnfo.cmh" in the program's folder (the build tree) or, when
    // only there, in the installed data folder; the first when neither has it.
    static std::string HelpFilePath();
    static std::string HelpFilePath(const std::string& programDir);

private:
    void OnInitDialog();
};

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace fennic::ui
