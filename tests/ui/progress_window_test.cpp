#include <gtest/gtest.h>
#include <wx/animate.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "tests/fixtures/fixtures.h"
#include "tests/ui/ui_test_support.h"
#include "transfer/http_download.h"
#include "ui/progress_ui.h"
#include "ui/wx_util.h"

namespace fennic::test {
namespace {

using ui::CProgressWnd;

// Runs the progress windows as the front end does, and keeps the last one for inspection.
class KeepingHost : public IProgressHost {
public:
    int RunModal(IProgressDialog& dlg) override {
        last = std::make_unique<CProgressWnd>(nullptr, dlg);
        running = last.get();
        const int result = last->Run();
        running = nullptr;
        return result;
    }
    std::string Text(int id) const {
        return static_cast<wxStaticText*>(last->FindWindow(id))->GetLabel().utf8_string();
    }
    std::unique_ptr<CProgressWnd> last;
    CProgressWnd* running = nullptr;
};

void Prepare(CHttpDownloadDlg& dlg, const std::string& url, const std::string& local,
             uint32_t size) {
    dlg.m_strUrl = url;
    dlg.m_strLocalFile = local;
    dlg.m_nAccessType = 1;  // direct
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = size - 1;
}

TEST(WindowChannel, SendWaitsForTheWindowThreadAndClosingDropsTheRest) {
    auto channel = std::make_shared<ui::CWindowChannel>();
    std::atomic<int> ran{0};
    std::atomic<bool> sent{false};
    std::thread worker([&] {
        channel->Send([&] {
            EXPECT_TRUE(wxThread::IsMain());
            ++ran;
        });
        sent = true;  // only once the function has run on the window thread
        EXPECT_EQ(ran.load(), 1);
    });
    EXPECT_TRUE(PumpUntil([&] { return sent.load(); }));
    worker.join();

    channel->Post([&] { ran += 10; });
    channel->Close();
    std::thread late([&] { channel->Send([&] { ran += 100; }); });  // released, not run
    late.join();
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(ran.load(), 1);
}

TEST(ProgressWindow, TransferShowsCaptionRateAndTimeLeft) {
    TempDir root;
    const uint32_t size = 2 * 1048576;
    root.Write("big.bin", PatternBytes(size, 3));
    NginxServer nginx(root.path());
    TempDir out;
    KeepingHost host;
    CHttpDownloadDlg dlg(host);
    Prepare(dlg, nginx.Url("/big.bin"), out.path() + "/got.bin", size);
    // A clock that moves 1.001 s per look, so that every block updates rate and time left.
    auto now = std::make_shared<std::atomic<uint32_t>>(5000);
    dlg.SetTickClock([now] { return now->fetch_add(1001); });
    DialogScript dialogs;
    ASSERT_EQ(dlg.DoModal(), IDOK);

    ASSERT_EQ(dialogs.seen().size(), 1u);
    EXPECT_EQ(dialogs.seen()[0].title, "File Download");  // the caption it opened with
    EXPECT_EQ(host.last->GetTitle(), "100% of big.bin Completed");
    EXPECT_EQ(host.Text(IDC_FILESTATUS), "big.bin from 127.0.0.1");
    EXPECT_EQ(host.Text(IDC_STATUS), "Retrieving the file");
    EXPECT_TRUE(
        std::regex_match(host.Text(IDC_TIMELEFT),
                         std::regex(R"(\d+ (sec|min)( \d+ sec)? \(2\.00 MB of 2\.00 MB copied\))")))
        << host.Text(IDC_TIMELEFT);
    EXPECT_TRUE(
        std::regex_match(host.Text(IDC_TRANSFER_RATE), std::regex(R"([0-9.]+ (Bytes|KB)/Sec)")))
        << host.Text(IDC_TRANSFER_RATE);
    auto* bar = static_cast<wxGauge*>(host.last->FindWindow(IDC_PROGRESS));
    EXPECT_EQ(bar->GetValue(), bar->GetRange());
    EXPECT_EQ(bar->GetRange(), 2048);  // KiB
    EXPECT_FALSE(static_cast<wxAnimationCtrl*>(host.last->FindWindow(IDC_ANIMATE))->IsPlaying());
    EXPECT_EQ(ReadFile(out.path() + "/got.bin"), PatternBytes(size, 3));
    const auto log = nginx.WaitForAccessLog(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=0-2097151");
    EXPECT_EQ(log[0].status, 206);
}

TEST(ProgressWindow, QuickTransferShowsNoRate) {
    TempDir root;
    root.Write("small.bin", PatternBytes(3000, 4));
    NginxServer nginx(root.path());
    TempDir out;
    KeepingHost host;
    CHttpDownloadDlg dlg(host);
    Prepare(dlg, nginx.Url("/small.bin"), out.path() + "/got.bin", 3000);
    dlg.SetTickClock([] { return 777u; });  // no time passes
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(host.Text(IDC_TRANSFER_RATE), "");
    EXPECT_EQ(host.Text(IDC_TIMELEFT), "");
    EXPECT_EQ(host.last->GetTitle(), "100% of small.bin Completed");
}

// A transfer whose server holds the body back until the test ends.
class HeldBackTransfer : public ::testing::Test {
protected:
    HeldBackTransfer() { Prepare(dlg, held.Url("/a.zip"), out.path() + "/got.bin", 100000); }
    // Runs the transfer; act runs once, from a timer, when the window says the body is coming.
    int RunAndWhenRetrieving(const std::function<void(CProgressWnd&)>& act) {
        wxTimer poll;
        poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            CProgressWnd* wnd = host.running;
            if (!wnd || acted) return;
            if (static_cast<wxStaticText*>(wnd->FindWindow(IDC_STATUS))->GetLabel() !=
                "Retrieving the file")
                return;
            acted = true;
            act(*wnd);
        });
        poll.Start(20);
        const int result = dlg.DoModal();
        poll.Stop();
        return result;
    }

    HeldBackHttpServer held{PatternBytes(100000, 5), 4096};
    TempDir out;
    KeepingHost host;
    CHttpDownloadDlg dlg{host};
    bool acted = false;
};

TEST_F(HeldBackTransfer, CancelGreysTheButtonAndEndsWithCancel) {
    DialogScript dialogs;
    bool greyed = false;
    std::string statusAfter;
    EXPECT_EQ(
        RunAndWhenRetrieving([&](CProgressWnd& wnd) {
            wxWindow* cancel = wnd.FindWindow(ui::ID_CANCEL);
            wxUIActionSimulator sim;
            sim.MouseMove(cancel->GetScreenRect().GetPosition() + cancel->GetSize() / 2);
            sim.MouseClick();
            PumpUntil([&] { return !cancel->IsEnabled(); }, 3000);
            greyed = !cancel->IsEnabled();
            statusAfter =
                static_cast<wxStaticText*>(wnd.FindWindow(IDC_STATUS))->GetLabel().utf8_string();
        }),
        IDCANCEL);
    EXPECT_TRUE(acted);
    EXPECT_TRUE(greyed);
    EXPECT_EQ(statusAfter, "Aborting transfer");
    EXPECT_EQ(dialogs.seen().size(), 1u);  // the progress window alone: no message box
    EXPECT_EQ(dialogs.unexpected(), 0);
}

TEST_F(HeldBackTransfer, CloseBoxDuringTheTransferActsAsCancel) {
    EXPECT_EQ(RunAndWhenRetrieving([](CProgressWnd& wnd) {
                  wnd.Close();  // the close box; the window stays until the worker reports
                  EXPECT_TRUE(wnd.IsShown());
              }),
              IDCANCEL);
    EXPECT_TRUE(acted);
    EXPECT_EQ(host.Text(IDC_STATUS), "Aborting transfer");
}

}  // namespace
}  // namespace fennic::test
