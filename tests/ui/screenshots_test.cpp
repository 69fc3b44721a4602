// Pictures of each window for the documentation. Disabled in test runs; scripts/screenshots.sh
// runs them under Xvfb with FENNIC_SHOTS_DIR set.

#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/settings.h"
#include "tests/fixtures/fixtures.h"
#include "tests/ui/ui_test_support.h"
#include "transfer/http_download.h"
#include "ui/entry_list.h"
#include "ui/explorer_dlg.h"
#include "ui/help_dlg.h"
#include "ui/options_dlg.h"
#include "ui/progress_ui.h"

namespace fennic::test {
namespace {

std::string ShotsDir() {
    const char* dir = std::getenv("FENNIC_SHOTS_DIR");
    return dir ? dir : "";
}

// Captures the window with its frame from the screen once it has been drawn.
void Capture(wxTopLevelWindow* window, const std::string& name) {
    window->Raise();
    window->Refresh();
    window->Update();
    // Give the window manager and the toolkit time to map and paint (bounded).
    int rounds = 0;
    PumpUntil([&] { return ++rounds > 60; }, 3000);
    const wxRect r = window->GetRect().Inflate(2);
    const std::string cmd = "import -window root -crop " + std::to_string(r.width) + "x" +
                            std::to_string(r.height) + "+" + std::to_string(std::max(0, r.x)) +
                            "+" + std::to_string(std::max(0, r.y)) + " " + ShotsDir() + "/" + name +
                            ".png";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

class Screenshots : public ProfileTest {
protected:
    void SetUp() override {
        if (ShotsDir().empty()) GTEST_SKIP() << "FENNIC_SHOTS_DIR is not set";
        ProfileTest::SetUp();
    }
};

TEST_F(Screenshots, DISABLED_MainWindowWithRows) {
    TempDir dir;
    const std::string cmd = std::string("/usr/bin/python3 ") + FENNIC_UI_TEST_DIR +
                            "/make_ui_archives.py " + dir.path();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ui::CExplorerDlg dlg(nullptr);
    static_cast<wxTextCtrl*>(dlg.FindWindow(ui::CExplorerDlg::IDC_URL))
        ->ChangeValue("http://www.example.com/files/list.zip");
    dlg.Archive().SetArchivePath(dir.path() + "/list.zip", false);
    dlg.OpenArchive();
    dlg.FillEntryList();
    dlg.CloseArchive();
    dlg.EntryList()->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    RunModalWithScript(&dlg, [&] {
        Capture(&dlg, "main");
        dlg.EndModal(1);
    });
}

TEST_F(Screenshots, DISABLED_Options) {
    Settings().m_strHttpUsr = "anna";
    Settings().m_strHttpPwd = "s3cret";
    Settings().m_nUseProxy = 1;
    Settings().m_strProxyPort = "3128";
    ui::COptionsDlg dlg(nullptr);
    RunModalWithScript(&dlg, [&] {
        Capture(&dlg, "options");
        dlg.EndModal(1);
    });
}

TEST_F(Screenshots, DISABLED_Help) {
    const std::string shipped = std::string(FENNIC_UI_TEST_DIR) + "/../../ui/res/fxnfo.cmh";
    std::filesystem::copy_file(shipped, ui::CHelpDlg::HelpFilePath(),
                               std::filesystem::copy_options::overwrite_existing);
    ui::CHelpDlg dlg(nullptr);
    RunModalWithScript(&dlg, [&] {
        Capture(&dlg, "help");
        dlg.EndModal(1);
    });
    std::filesystem::remove(ui::CHelpDlg::HelpFilePath());
}

TEST_F(Screenshots, DISABLED_About) {
    ui::CAboutDlg dlg(nullptr);
    RunModalWithScript(&dlg, [&] {
        Capture(&dlg, "about");
        dlg.EndModal(1);
    });
}

TEST_F(Screenshots, DISABLED_ProgressWindow) {
    HeldBackHttpServer server(PatternBytes(300000, 7), 111000);
    struct Host : IProgressHost {
        int RunModal(IProgressDialog& dlg) override {
            ui::CProgressWnd wnd(nullptr, dlg);
            wnd.CallAfter([&] {
                PumpUntil([&] {
                    return static_cast<wxStaticText*>(wnd.FindWindow(IDC_TRANSFER_RATE))
                                   ->GetLabel() != "" &&
                           wnd.GetTitle() != "File Download";
                });
                Capture(&wnd, "progress");
                (*gate).Open();
            });
            return wnd.Run();
        }
        Gate* gate = nullptr;
    } host;
    host.gate = &server.gate;
    TempDir out;
    CHttpDownloadDlg dlg(host);
    dlg.m_strUrl = server.Url("/pub/archive.zip");
    dlg.m_strLocalFile = out.path() + "/got.bin";
    dlg.m_nAccessType = 1;
    dlg.m_dwRangeEnd = 299999;
    auto now = std::make_shared<std::atomic<uint32_t>>(0);
    dlg.SetTickClock([now] { return now->fetch_add(700); });
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

}  // namespace
}  // namespace fennic::test
