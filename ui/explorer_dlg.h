#pragma once
// The main window: the URL field, "Get", the entry list with its popup, and the
// Options, Help, About and OK commands. It owns the listed archive for the whole run.

#include <wx/dialog.h>

#include <memory>
#include <string>

#include "app/archive_view.h"
#include "app/frontend.h"

class wxStaticBitmap;
class wxMenu;

namespace fennic::ui {

class CEntryListCtrl;
class CExplorerRemote;

class CExplorerDlg : public wxDialog, public IFrontEnd {
public:
    explicit CExplorerDlg(wxWindow* parent);
    ~CExplorerDlg() override;

    enum : int {
        IDC_URL = 1000,
        IDC_ENTRIES = 1001,
        IDC_OPEN_ZIP = 1002,
        IDC_GET = 1003,
        IDC_OPTIONS = 1004,
        IDC_HELP = 1005,
    };

    // The built-in example address shown in the URL field at start.
    static const char kExampleUrl[];

    // The operations the listing and extraction roads call back into.
    void OpenArchive();
    void FillEntryList();
    void CloseArchive();
    // "OpenZip File" once the user has chosen `path`.
    void OpenZipFile(const std::string& path);
    // The program's argument: a local archive (a path or a file: URL) is listed as "OpenZip
    // File" lists it; anything else is an address, put into "Web Path" and fetched as "Get" does.
    void OpenStartArgument(const std::string& argument);
    // Runs the open or save dialog proposing `name` cut at its first '.' plus ".zip"; true with
    // the chosen full path in `result`, false (result untouched) when cancelled.
    bool PromptZipFileName(std::string& result, bool open, const std::string& name);
    // The same dialog with a ready-made proposal.
    virtual bool RunZipFileDialog(std::string& result, bool open, const std::string& proposal);
    CArchiveView& Archive() { return m_archive; }
    CEntryListCtrl* EntryList() const { return m_list; }
    std::string UrlText() const;

    // IFrontEnd: message boxes owned by this window.
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;

    // The list's popup menu at a screen position, and the window menu with the About item.
    void ShowEntryPopup(const wxPoint& screenPos);
    void ShowWindowMenu();

private:
    void OnInitDialog();
    void OnGet(wxCommandEvent& event);
    void OnOpenZipFile(wxCommandEvent& event);
    void OnOptions(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    void OnExtract(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnListContextMenu(wxContextMenuEvent& event);
    void OnWindowMouse(wxMouseEvent& event);
    void OnCharHook(wxKeyEvent& event);

    CArchiveView m_archive;
    CEntryListCtrl* m_list = nullptr;
    wxStaticBitmap* m_icon = nullptr;
    std::unique_ptr<CExplorerRemote> m_remote;
};

}  // namespace fennic::ui
