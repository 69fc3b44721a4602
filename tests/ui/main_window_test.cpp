#include <gtest/gtest.h>
#include <wx/defs.h>  // before the headers that test its switches
#include <wx/dirctrl.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/settings.h"
#include "app/strings.h"
#include "tests/fixtures/fixtures.h"
#include "tests/ui/ui_test_support.h"
#include "ui/entry_list.h"
#include "ui/explorer_dlg.h"
#include "ui/help_dlg.h"
#include "ui/wx_util.h"

namespace fennic::test {
namespace {

using ui::CExplorerDlg;

// The main window with its popup menus recorded instead of shown.
class RecordingExplorer : public CExplorerDlg {
public:
    RecordingExplorer() : CExplorerDlg(nullptr) {}
    struct Popup {
        std::vector<std::pair<int, std::string>> items;  // id, label
    };
    std::vector<Popup> popups;
    int chooseCommand = 0;  // sent as if chosen from the menu
    // When set, file dialogs are answered with this path instead of being shown.
    std::string chosenFile;
    std::vector<std::pair<bool, std::string>> fileDialogs;  // open mode, proposal

    bool RunZipFileDialog(std::string& result, bool open, const std::string& proposal) override {
        if (chosenFile.empty()) return CExplorerDlg::RunZipFileDialog(result, open, proposal);
        fileDialogs.emplace_back(open, proposal);
        result = chosenFile;
        return true;
    }

protected:
    bool DoPopupMenu(wxMenu* menu, int, int) override {
        Popup p;
        for (wxMenuItem* item : menu->GetMenuItems()) {
            p.items.emplace_back(item->GetId(), item->GetItemLabel().utf8_string());
        }
        popups.push_back(p);
        if (chooseCommand != 0) {
            wxCommandEvent chosen(wxEVT_MENU, chooseCommand);
            chosen.SetEventObject(this);
            ProcessWindowEvent(chosen);
        }
        return true;
    }
};

class MainWindow : public ProfileTest {
protected:
    static void SetUpTestSuite() {
        archives_ = new TempDir;
        const std::string cmd = std::string("/usr/bin/python3 ") + FENNIC_UI_TEST_DIR +
                                "/make_ui_archives.py " + archives_->path();
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete archives_;
        archives_ = nullptr;
    }
    static std::string Archive(const std::string& name) { return archives_->path() + "/" + name; }

    static std::string Cell(wxListCtrl* list, long row, int col) {
        return list->GetItemText(row, col).utf8_string();
    }
    static int Image(wxListCtrl* list, long row) {
        wxListItem item;
        item.SetId(row);
        item.SetMask(wxLIST_MASK_IMAGE);
        return list->GetItem(item) ? item.GetImage() : -2;
    }

    // Lists a local archive the way "OpenZip File" does, without the file dialog.
    static void List(CExplorerDlg& dlg, const std::string& path) {
        dlg.Archive().SetArchivePath(path, false);
        dlg.CloseArchive();
        dlg.OpenArchive();
        dlg.FillEntryList();
    }

    static TempDir* archives_;
};
TempDir* MainWindow::archives_ = nullptr;

TEST_F(MainWindow, TemplateControlsAndColumns) {
    RecordingExplorer dlg;
    EXPECT_EQ(dlg.GetTitle(), "Fennic Archive Viewer v 1.5");
    EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(365, 183)));
    // Template order is tab order.
    std::vector<int> ids;
    for (wxWindow* child : dlg.GetChildren()) ids.push_back(child->GetId());
    ASSERT_GE(ids.size(), 9u);
    EXPECT_EQ(std::vector<int>(ids.begin(), ids.begin() + 4),
              (std::vector<int>{1, 1000, ids[2], 1001}));
    EXPECT_EQ(ids[4], 1002);
    EXPECT_EQ(ids[5], 1003);
    EXPECT_EQ(ids[7], 1004);
    EXPECT_EQ(ids[8], 1005);
    EXPECT_FALSE(dlg.FindWindow(1002)->IsShown());  // "OpenZip File" stays hidden
    EXPECT_EQ(dlg.FindWindow(1)->GetPosition(), dlg.ConvertDialogToPixels(wxPoint(338, 165)));
    EXPECT_EQ(dlg.FindWindow(1001)->GetSize(), dlg.ConvertDialogToPixels(wxSize(362, 139)));

    wxListCtrl* list = dlg.EntryList();
    EXPECT_TRUE(list->HasFlag(wxLC_REPORT));
    EXPECT_TRUE(list->HasFlag(wxLC_VIRTUAL));
    EXPECT_TRUE(list->HasFlag(wxLC_SINGLE_SEL));
    EXPECT_EQ(list->GetBackgroundColour(), wxColour(100, 160, 250));
    ASSERT_EQ(list->GetColumnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        wxListItem col;
        col.SetMask(wxLIST_MASK_TEXT);
        list->GetColumn(c, col);
        EXPECT_EQ(col.GetText().utf8_string(), LoadString(57345 + c));
    }
    EXPECT_EQ(list->GetColumnWidth(0), 110);
    EXPECT_EQ(list->GetColumnWidth(7), 59);

    // The example address: ftp, user and password, explicit port, a .zip path.
    const std::string url = dlg.UrlText();
    EXPECT_EQ(url, CExplorerDlg::kExampleUrl);
    EXPECT_EQ(url.rfind("ftp://", 0), 0u);
    EXPECT_NE(url.find(':', 6), std::string::npos);
    EXPECT_NE(url.find('@'), std::string::npos);
    EXPECT_EQ(url.substr(url.size() - 4), ".zip");
    EXPECT_NE(IniText().find("[Options]"), std::string::npos);
}

TEST_F(MainWindow, RowsAndCellsOfEveryKindOfEntry) {
    std::map<std::string, std::pair<std::string, std::string>> expected;  // crc, size
    {
        std::ifstream tsv(Archive("expected.tsv"));
        std::string name, crc, size;
        while (std::getline(tsv, name, '\t') && std::getline(tsv, crc, '\t') &&
               std::getline(tsv, size)) {
            expected[name] = {crc, size};
        }
    }
    ASSERT_EQ(expected.size(), 8u);
    DialogScript dialogs;
    RecordingExplorer dlg;
    List(dlg, Archive("list.zip"));
    EXPECT_TRUE(dialogs.seen().empty());
    wxListCtrl* list = dlg.EntryList();
    ASSERT_EQ(list->GetItemCount(), 8);

    // Engine order; the encrypted entry is marked.
    const char* names[] = {"(*) secret.txt", "stored.txt",    "deflated.txt", "folder\\",
                           "empty.dat",      "commented.txt", "c1024.txt",    "c1025.txt"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Cell(list, i, 0), names[i]);
        std::string plain = names[i];
        if (plain.rfind("(*) ", 0) == 0) plain = plain.substr(4);
        if (plain == "folder\\") plain = "folder/";  // the engine shows '\\' in names
        EXPECT_EQ(Cell(list, i, 2), expected[plain].second) << plain;
        EXPECT_EQ(Cell(list, i, 6), expected[plain].first) << plain;
        EXPECT_EQ(Cell(list, i, 3), "05 Mar 2004, 14:03:08") << plain;
        wxListItem item;
        item.SetId(i);
        item.SetMask(wxLIST_MASK_IMAGE);
        ASSERT_TRUE(list->GetItem(item));
        EXPECT_GE(item.GetImage(), 0) << plain;
        EXPECT_LT(item.GetImage(), list->GetImageList(wxIMAGE_LIST_SMALL)->GetImageCount());
    }
    EXPECT_EQ(Cell(list, 3, 1), "YES");
    EXPECT_EQ(Image(list, 3), wxFileIconsTable::folder);
    EXPECT_EQ(Image(list, 1), Image(list, 2));  // both .txt
    EXPECT_EQ(Cell(list, 1, 1), "NO");
    EXPECT_EQ(Cell(list, 1, 5), "100%");                 // stored
    EXPECT_EQ(Cell(list, 4, 5), "0%");                   // zero size
    EXPECT_LT(std::atoi(Cell(list, 2, 5).c_str()), 10);  // deflated well
    EXPECT_EQ(Cell(list, 1, 4), "ra--");
    EXPECT_EQ(Cell(list, 5, 7), "a short note");
    EXPECT_EQ(Cell(list, 6, 7), std::string(1024, 'k'));
    EXPECT_EQ(Cell(list, 7, 7), std::string(1024, 'm') + "...");
    EXPECT_EQ(Cell(list, 1, 7), "");

    // Every column fits its header and its widest cell, and is at least 10 pixels.
    for (int c = 0; c < 8; ++c) {
        wxListItem col;
        col.SetMask(wxLIST_MASK_TEXT);
        list->GetColumn(c, col);
        const int width = list->GetColumnWidth(c);
        EXPECT_GE(width, 10);
        EXPECT_GE(width, list->GetTextExtent(col.GetText()).x) << c;
        for (int r = 0; r < 8; ++r) {
            EXPECT_GE(width, list->GetTextExtent(list->GetItemText(r, c)).x) << c << "," << r;
        }
    }
    // A second listing replaces the rows rather than adding to them.
    List(dlg, Archive("empty.zip"));
    EXPECT_EQ(list->GetItemCount(), 0);
    for (int c = 0; c < 8; ++c) {
        // No rows: the headers alone set the widths.
        EXPECT_GE(list->GetColumnWidth(c), 10);
        EXPECT_GE(list->GetColumnWidth(c), list->GetTextExtent(LoadString(57345 + c)).x) << c;
    }
}

TEST_F(MainWindow, ManyRowsShownOnDemandWithTheWidestNameSettingTheWidth) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    List(dlg, Archive("many.zip"));
    ui::CEntryListCtrl* list = dlg.EntryList();
    ASSERT_EQ(list->GetItemCount(), 5000);
    EXPECT_EQ(Cell(list, 0, 0), "n0000.txt");
    EXPECT_EQ(Cell(list, 4999, 0), "n4999.txt");
    EXPECT_EQ(Cell(list, 4999, 1), "NO");
    EXPECT_EQ(Cell(list, 4999, 3), "05 Mar 2004, 14:03:08");
    const std::string wide = "deep\\" + std::string(40, 'W') + ".log";
    EXPECT_EQ(Cell(list, 3777, 0), wide);
    EXPECT_EQ(Image(list, 0), Image(list, 4999));
    EXPECT_EQ(Image(list, 3777), wxTheFileIconsTable->GetIconID("log"));

    // The widest name is far from the first rows; its cell fits beside the icon.
    int iconWidth = 0, iconHeight = 0;
    list->GetImageList(wxIMAGE_LIST_SMALL)->GetSize(0, iconWidth, iconHeight);
    EXPECT_GE(list->GetColumnWidth(0), list->GetTextExtent(ui::FromUtf8(wide)).x + iconWidth);
    EXPECT_LT(list->GetColumnWidth(0), list->GetTextExtent(ui::FromUtf8(wide)).x + iconWidth + 40);

    // Selection survives scrolling and is dropped by the next listing.
    list->SetItemState(4000, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    list->EnsureVisible(4000);
    EXPECT_EQ(list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 4000);
    List(dlg, Archive("list.zip"));
    EXPECT_EQ(list->GetItemCount(), 8);
    EXPECT_EQ(list->GetSelectedItemCount(), 0);
    EXPECT_EQ(Cell(list, 7, 0), "c1025.txt");
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST_F(MainWindow, OpenZipFileListsAZip64ArchiveOfMoreThan65535Entries) {
    TempDir dir;
    const std::string path = dir.path() + "/z64.zip";
    const std::string make =
        "/usr/bin/python3 -c 'import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
        "    for i in range(70000): z.writestr(\"e%05d\" % i, b\"\")' " +
        path;
    ASSERT_EQ(std::system(make.c_str()), 0);
    RecordingExplorer dlg;
    DialogScript dialogs;
    List(dlg, path);
    ASSERT_EQ(dlg.EntryList()->GetItemCount(), 70000);
    EXPECT_EQ(Cell(dlg.EntryList(), 69999, 0), "e69999");
    EXPECT_TRUE(dialogs.seen().empty()) << "no \"ZIP64 archives are not supported\"";
}

TEST_F(MainWindow, IconOfANameByItsExtension) {
    RecordingExplorer dlg;
    ui::CEntryListCtrl* list = dlg.EntryList();
    const int txt = wxTheFileIconsTable->GetIconID("txt");
    EXPECT_EQ(list->IconIndexFor("docs\\readme.txt", false), txt);
    EXPECT_EQ(list->IconIndexFor("(*) secret.txt", false), txt);
    EXPECT_EQ(list->IconIndexFor("a.tar.gz", false), wxTheFileIconsTable->GetIconID("gz"));
    EXPECT_EQ(list->IconIndexFor("docs\\", true), wxFileIconsTable::folder);
    EXPECT_EQ(list->IconIndexFor("notes.txt", true), wxFileIconsTable::folder);
    // No extension: no dot, a leading dot, or a dot in a folder's name only.
    EXPECT_EQ(list->IconIndexFor("README", false), wxFileIconsTable::file);
    EXPECT_EQ(list->IconIndexFor(".profile", false), wxFileIconsTable::file);
    EXPECT_EQ(list->IconIndexFor("v1.2\\Makefile", false), wxFileIconsTable::file);
    EXPECT_EQ(list->IconIndexFor("v1.2/Makefile", false), wxFileIconsTable::file);
    EXPECT_EQ(list->IconIndexFor("cfg\\.hidden", false), wxFileIconsTable::file);
}

TEST_F(MainWindow, HeaderFollowsTheRowsAfterAHorizontalScroll) {
    RecordingExplorer dlg;
    List(dlg, Archive("wide.zip"));
    ui::CEntryListCtrl* list = dlg.EntryList();
    wxWindow* header = list->HeaderWindow();
    ASSERT_NE(header, nullptr);
    // The header draws its columns shifted by the scroll position it sees when it paints.
    int paintedAt = -1;
    header->Bind(wxEVT_PAINT, [&](wxPaintEvent& event) {
        paintedAt = list->GetViewStart().x;
        event.Skip();
    });
    int pixelsPerUnit = 0;
    list->GetScrollPixelsPerUnit(&pixelsPerUnit, nullptr);
    ASSERT_GT(pixelsPerUnit, 0);
    RunModalWithScript(&dlg, [&] {
        EXPECT_TRUE(PumpUntil([&] { return paintedAt == 0; }));
        wxRect first;
        ASSERT_TRUE(list->GetSubItemRect(1, 0, first));
        for (int target : {30, 60, 45}) {
            // What the scroll bar sends while its thumb is dragged.
            wxScrollWinEvent drag(wxEVT_SCROLLWIN_THUMBTRACK, target, wxHORIZONTAL);
            drag.SetEventObject(list);
            list->GetEventHandler()->ProcessEvent(drag);
            ASSERT_EQ(list->GetViewStart().x, target);
            EXPECT_TRUE(PumpUntil([&] { return paintedAt == target; }, 2000))
                << "header drawn at " << paintedAt << ", rows at " << target;
            // Each column's header starts where its cells start.
            int left = 0;
            for (int c = 0; c < list->GetColumnCount(); ++c) {
                wxRect cell;
                ASSERT_TRUE(list->GetSubItemRect(1, c, cell));
                EXPECT_EQ(cell.x - first.x, left - paintedAt * pixelsPerUnit) << c;
                left += list->GetColumnWidth(c);
            }
        }
        dlg.EndModal(ui::ID_OK);
    });
}

TEST_F(MainWindow, MissingCentralDirectoryAsksUntilNoThenOpenFails) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    dialogs.ThenReply(wxID_YES);
    dialogs.ThenReply(wxID_YES);
    dialogs.ThenReply(wxID_NO);
    dialogs.ThenReply(wxID_OK);
    List(dlg, Archive("nodir.bin"));
    const std::string question =
        "The central directory was not found. If you're opening a multi-disk archive, make "
        "sure you have inserted the last disk. Retry?";
    EXPECT_EQ(dialogs.Messages(),
              (std::vector<std::string>{question, question, question, "Open failed"}));
    EXPECT_EQ(dialogs.unexpected(), 0);
    for (const auto& seen : dialogs.seen()) {
        EXPECT_EQ(seen.title, "");  // the application's display name
        EXPECT_TRUE(seen.style & wxICON_ERROR);
    }
    EXPECT_TRUE(dialogs.seen()[0].style & wxYES_NO);
    EXPECT_EQ(dlg.EntryList()->GetItemCount(), 0);
    // The failed open released the file: a good archive opens next without a message.
    List(dlg, Archive("list.zip"));
    EXPECT_EQ(dialogs.seen().size(), 4u);
    EXPECT_EQ(dlg.EntryList()->GetItemCount(), 8);
}

TEST_F(MainWindow, OtherOpenFailureSaysOpenFailed) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    dialogs.ThenReply(wxID_OK);
    List(dlg, Archive("no-such-file.zip"));
    EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{"Open failed"});
}

TEST_F(MainWindow, PopupOnEmptySpaceAndExtractWithoutSelectionDoesNothing) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    dlg.chooseCommand = ui::ID_EXTRACT_COMMAND;
    const int result = RunModalWithScript(&dlg, [&] {
        wxListCtrl* list = dlg.EntryList();
        wxUIActionSimulator sim;
        // Below the header, where there are no rows.
        sim.MouseMove(list->ClientToScreen(wxPoint(200, list->GetClientSize().y - 20)));
        sim.MouseClick(wxMOUSE_BTN_RIGHT);
        PumpUntil([&] { return !dlg.popups.empty(); });
        dlg.EndModal(ui::ID_OK);
    });
    EXPECT_EQ(result, ui::ID_OK);
    ASSERT_EQ(dlg.popups.size(), 1u);
    EXPECT_EQ(dlg.popups[0].items, (std::vector<std::pair<int, std::string>>{{100, "Extract"}}));
    EXPECT_TRUE(dialogs.seen().empty());  // no save dialog, no message
}

TEST_F(MainWindow, EnterInUrlFieldEndsTheWindowWithoutGet) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    const int result = RunModalWithScript(&dlg, [&] {
        auto* url = static_cast<wxTextCtrl*>(dlg.FindWindow(CExplorerDlg::IDC_URL));
        url->SetFocus();
        EXPECT_TRUE(PumpUntil([&] { return url->HasFocus(); }, 2000));
        wxUIActionSimulator().Char(WXK_RETURN);
    });
    EXPECT_EQ(result, ui::ID_OK);
    EXPECT_TRUE(dialogs.seen().empty());  // no transfer window, no message
}

TEST_F(MainWindow, EscapeEndsTheWindow) {
    RecordingExplorer dlg;
    const int result = RunModalWithScript(&dlg, [] { wxUIActionSimulator().Char(WXK_ESCAPE); });
    EXPECT_EQ(result, ui::ID_OK);
}

TEST_F(MainWindow, AboutFromTheWindowMenuAndF1) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    std::string label;
    dialogs.Then([&](wxDialog* d) {
        // The about box: its text, its icon, and "OK".
        for (wxWindow* child : d->GetChildren()) {
            if (auto* text = dynamic_cast<wxStaticText*>(child))
                label = text->GetLabel().utf8_string();
        }
        return wxID_OK;
    });
    dlg.chooseCommand = ui::ID_ABOUT_COMMAND;
    RunModalWithScript(&dlg, [&] {
        wxUIActionSimulator().Char(WXK_F1);
        PumpUntil([&] { return !dlg.popups.empty() && !dialogs.seen().empty(); });
        dlg.EndModal(ui::ID_OK);
    });
    ASSERT_EQ(dlg.popups.size(), 1u);
    EXPECT_EQ(dlg.popups[0].items,
              (std::vector<std::pair<int, std::string>>{{16, "&About Fennic..."}}));
    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].title, "About Fennic");
    EXPECT_EQ(label, "Fennic Version 1.5");

    // A click on the corner icon offers the same menu.
    dlg.chooseCommand = 0;
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    click.SetPosition(dlg.ConvertDialogToPixels(wxPoint(0, 162)) + wxPoint(4, 4));
    click.SetEventObject(&dlg);
    dlg.ProcessWindowEvent(click);
    EXPECT_EQ(dlg.popups.size(), 2u);
}

TEST_F(MainWindow, SaveDialogProposalFilterAndCancel) {
    RecordingExplorer dlg;
    DialogScript dialogs;
    std::vector<std::string> proposals;
    wxString wildcard;
    long style = 0;
    auto record = [&](wxDialog* d) {
        auto* fd = static_cast<wxFileDialog*>(d);
        proposals.push_back(fd->GetFilename().utf8_string());
        wildcard = fd->GetWildcard();
        style = fd->GetWindowStyle();
        return wxID_CANCEL;
    };
    for (int i = 0; i < 4; ++i) dialogs.Then(record);
    std::string result = "untouched";
    EXPECT_FALSE(dlg.PromptZipFileName(result, false, "readme.txt"));
    EXPECT_FALSE(dlg.PromptZipFileName(result, false, "docs/"));
    EXPECT_FALSE(dlg.PromptZipFileName(result, false, "a.b/c.txt"));
    EXPECT_FALSE(dlg.PromptZipFileName(result, true, ""));
    EXPECT_EQ(result, "untouched");
    EXPECT_EQ(proposals, (std::vector<std::string>{"readme.zip", ".zip", "a.zip", ".zip"}));
    EXPECT_EQ(wildcard, "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*");
    EXPECT_TRUE(style & wxFD_OPEN);
}

TEST_F(MainWindow, OpenZipFileListsTheUsersFileAndNeverDeletesIt) {
    TempDir dir;
    const std::string mine = dir.path() + "/mine.zip";
    std::filesystem::copy_file(Archive("list.zip"), mine);
    const std::string tail = dir.Write("tail.zip", ReadFile(Archive("list.zip")));
    {
        RecordingExplorer dlg;
        DialogScript dialogs;
        dlg.chosenFile = mine;
        // A remote listing's tail file first: replaced by the user's choice and deleted.
        dlg.Archive().SetArchivePath(tail, true);
        wxCommandEvent click(wxEVT_BUTTON, CExplorerDlg::IDC_OPEN_ZIP);
        dlg.ProcessWindowEvent(click);
        EXPECT_TRUE(dialogs.seen().empty());
        EXPECT_EQ(dlg.fileDialogs, (std::vector<std::pair<bool, std::string>>{{true, ".zip"}}));
        EXPECT_EQ(dlg.Archive().GetArchivePath(), mine);
        EXPECT_FALSE(dlg.Archive().IsTailFile());
        EXPECT_EQ(dlg.EntryList()->GetItemCount(), 8);
        EXPECT_FALSE(std::filesystem::exists(tail));
    }
    EXPECT_TRUE(std::filesystem::exists(mine));
}

TEST_F(MainWindow, GetListsARemoteArchiveAndExtractSavesOneEntry) {
    TempDir root;
    std::filesystem::copy_file(Archive("list.zip"), root.path() + "/list.zip");
    NginxServer nginx(root.path());
    Settings().m_strHttpPort = std::to_string(nginx.port());  // no credentials question
    TempDir out;
    std::string tail;
    {
        RecordingExplorer dlg;
        DialogScript dialogs;
        dialogs.ThenReply(wxID_OK);  // "Files list has been downloaded"
        static_cast<wxTextCtrl*>(dlg.FindWindow(CExplorerDlg::IDC_URL))
            ->ChangeValue(nginx.Url("/list.zip"));
        wxCommandEvent get(wxEVT_BUTTON, CExplorerDlg::IDC_GET);
        dlg.ProcessWindowEvent(get);
        ASSERT_EQ(dlg.EntryList()->GetItemCount(), 8);
        EXPECT_EQ(Cell(dlg.EntryList(), 1, 0), "stored.txt");
        EXPECT_EQ(dialogs.Messages().back(), "Files list has been downloaded");
        int transfers = 0;
        for (const auto& seen : dialogs.seen()) transfers += seen.title == "File Download";
        EXPECT_EQ(transfers, 3);  // size, end record, central directory
        tail = dlg.Archive().GetArchivePath();
        EXPECT_TRUE(dlg.Archive().IsTailFile());
        EXPECT_TRUE(std::filesystem::exists(tail));

        // Only ranges went over the wire after the size.
        const uint64_t size = std::filesystem::file_size(Archive("list.zip"));
        auto log = nginx.WaitForAccessLog(3);
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1].range,
                  "bytes=" + std::to_string(size - 22) + "-" + std::to_string(size - 1));
        EXPECT_EQ(log[2].status, 206);

        // "Extract" on the selected row proposes its name and fetches one range.
        dlg.EntryList()->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        dlg.chosenFile = out.path() + "/saved.zip";
        wxCommandEvent extract(wxEVT_MENU, ui::ID_EXTRACT_COMMAND);
        dlg.ProcessWindowEvent(extract);
        EXPECT_EQ(dlg.fileDialogs,
                  (std::vector<std::pair<bool, std::string>>{{false, "stored.zip"}}));
        log = nginx.WaitForAccessLog(4);
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[3].status, 206);
        EXPECT_EQ(dialogs.unexpected(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(tail));  // the window's tail file went with it
    const std::string check =
        "/usr/bin/python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]);"
        " sys.exit(z.testzip() is not None or z.namelist()!=['stored.txt']"
        " or z.read('stored.txt')!=b'stored bytes\\n')\" " +
        out.path() + "/saved.zip";
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST_F(MainWindow, StartArgumentListsALocalArchiveOrGetsAnAddress) {
    TempDir root;
    const std::string spaced = root.path() + "/my list.zip";
    std::filesystem::copy_file(Archive("list.zip"), spaced);
    NginxServer nginx(root.path());
    Settings().m_strHttpPort = std::to_string(nginx.port());  // no credentials question
    {
        // A path and a launcher's file: URL open the user's file itself, with no dialog.
        RecordingExplorer dlg;
        DialogScript dialogs;
        dlg.OpenStartArgument(spaced);
        EXPECT_EQ(dlg.EntryList()->GetItemCount(), 8);
        dlg.OpenStartArgument("file://" + root.path() + "/my%20list.zip");
        EXPECT_EQ(dlg.Archive().GetArchivePath(), spaced);
        EXPECT_FALSE(dlg.Archive().IsTailFile());
        EXPECT_EQ(dlg.EntryList()->GetItemCount(), 8);
        EXPECT_TRUE(dialogs.seen().empty());
        EXPECT_TRUE(dlg.fileDialogs.empty());
    }
    EXPECT_TRUE(std::filesystem::exists(spaced));
    {
        // An address goes into "Web Path" and is fetched as "Get" fetches it.
        RecordingExplorer dlg;
        DialogScript dialogs;
        dialogs.ThenReply(wxID_OK);  // "Files list has been downloaded"
        const std::string url = nginx.Url("/my%20list.zip");
        dlg.OpenStartArgument(url);
        EXPECT_EQ(dlg.UrlText(), url);
        EXPECT_EQ(dlg.EntryList()->GetItemCount(), 8);
        EXPECT_TRUE(dlg.Archive().IsTailFile());
        EXPECT_EQ(nginx.WaitForAccessLog(3).size(), 3u);
        EXPECT_EQ(dialogs.unexpected(), 0);
    }
}

TEST_F(MainWindow, OwnTailFileGoesWithTheWindow) {
    TempDir dir;
    const std::string tail = dir.Write("tail.zip", "bytes");
    {
        RecordingExplorer dlg;
        dlg.Archive().SetArchivePath(tail, true);
    }
    EXPECT_FALSE(std::filesystem::exists(tail));
}

}  // namespace
}  // namespace fennic::test
