#include "tests/ui/ui_test_support.h"

#include <unistd.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "ui/progress_ui.h"
#include "ui/wx_util.h"

namespace fennic::test {

namespace {
wxDialog* g_dialogUnderTest = nullptr;  // run for real by RunModalWithScript
}

int DialogScript::Enter(wxDialog* dialog) {
    if (dialog == g_dialogUnderTest) return wxID_NONE;
    Seen seen;
    seen.className = wxString(dialog->GetClassInfo()->GetClassName()).utf8_string();
    seen.title = dialog->GetTitle().utf8_string();
    if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        seen.message = box->GetMessage().utf8_string();
        seen.style = box->GetMessageDialogStyle();
    }
    m_seen.push_back(seen);
    // Transfer windows run for real; the test sees that they were there.
    if (dynamic_cast<ui::CProgressWnd*>(dialog)) return wxID_NONE;
    if (m_next >= m_answers.size()) {
        ++m_unexpected;
        return wxID_CANCEL;
    }
    return m_answers[m_next++](dialog);
}

std::vector<std::string> DialogScript::Messages() const {
    std::vector<std::string> texts;
    for (const Seen& s : m_seen) texts.push_back(s.message);
    return texts;
}

bool PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return pred();
        wxTheApp->Yield(true);
        wxTheApp->ProcessPendingEvents();
        usleep(2000);
    }
    return true;
}

int RunModalWithScript(wxDialog* dialog, const std::function<void()>& script, int timeout_ms) {
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [dialog](wxTimerEvent&) {
        ADD_FAILURE() << "dialog still open at the deadline";
        if (dialog->IsModal()) dialog->EndModal(-1);
    });
    guard.StartOnce(timeout_ms);
    dialog->CallAfter([dialog, script] {
        PumpUntil([dialog] { return dialog->IsShownOnScreen(); }, 3000);
        // Without a window manager the keyboard goes to the window under the pointer.
        wxUIActionSimulator().MouseMove(dialog->GetScreenRect().GetTopLeft() + wxPoint(2, 2));
        PumpUntil([dialog] { return wxGetMousePosition() != wxPoint(0, 0); }, 1000);
        script();
    });
    wxDialog* outer = g_dialogUnderTest;
    g_dialogUnderTest = dialog;
    const int result = dialog->ShowModal();
    g_dialogUnderTest = outer;
    guard.Stop();
    return result;
}

void ProfileTest::SetUp() {
    Settings() = CSettings();
    CSettings::BindSection("Settings");  // as the window's start does
    Settings().LoadSettings();
}

std::string ProfileTest::IniText() const {
    return ReadFile(CSettings::ProfilePath());
}

namespace {

// wxWidgets is started once for the whole program, as the program itself does.
class WxEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static char name[] = "fennic_ui_tests";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        // No accessibility bus: its client keeps allocations until exit and is not needed.
        setenv("NO_AT_BRIDGE", "1", 0);
        wxApp::SetInstance(new wxApp);
        ASSERT_TRUE(wxEntryStart(argc, argv)) << "no display (run under xvfb-run -a)";
        wxTheApp->SetAppDisplayName(wxEmptyString);
        ui::InitResources();
        // An event loop for the code that runs outside modal dialogs.
        m_loop = new wxEventLoop;
        wxEventLoop::SetActive(m_loop);
    }
    void TearDown() override {
        wxEventLoop::SetActive(nullptr);
        delete m_loop;
        wxEntryCleanup();
    }

private:
    wxEventLoopBase* m_loop = nullptr;
};

}  // namespace
}  // namespace fennic::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new fennic::test::WxEnvironment);
    return RUN_ALL_TESTS();
}
