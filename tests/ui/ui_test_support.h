#pragma once
// Shared by the window tests: one wxWidgets start per program, scripted answers to modal
// dialogs, a private settings profile per test, and waiting on the event loop with a deadline.

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/fixtures/files.h"

namespace fennic::test {

// Answers modal dialogs without showing them, in order; transfer progress windows are recorded
// and run for real. An answer returns the dialog's result;
// returning wxID_NONE lets the dialog run for real. Dialogs beyond the script are refused
// (wxID_CANCEL) and counted as unexpected.
class DialogScript : public wxModalDialogHook {
public:
    using Answer = std::function<int(wxDialog*)>;
    struct Seen {
        std::string className;
        std::string title;
        std::string message;  // message boxes only
        long style = 0;       // message boxes only
    };

    DialogScript() { Register(); }
    ~DialogScript() override { Unregister(); }

    void Then(Answer answer) { m_answers.push_back(std::move(answer)); }
    // Shorthand: answer the next dialog with a fixed result.
    void ThenReply(int result) {
        Then([result](wxDialog*) { return result; });
    }

    const std::vector<Seen>& seen() const { return m_seen; }
    int unexpected() const { return m_unexpected; }
    std::vector<std::string> Messages() const;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}

private:
    std::vector<Answer> m_answers;
    size_t m_next = 0;
    std::vector<Seen> m_seen;
    int m_unexpected = 0;
};

// Serves events until pred holds or timeout_ms pass; returns pred's last value.
bool PumpUntil(const std::function<bool()>& pred, int timeout_ms = 5000);

// Runs dialog->ShowModal() while script runs inside its modal loop (once the window is shown).
// The dialog is ended with -1 if it is still open after timeout_ms. Returns ShowModal's value.
int RunModalWithScript(wxDialog* dialog, const std::function<void()>& script,
                       int timeout_ms = 10000);

// A fresh XDG_CONFIG_HOME for every test, removed afterwards, and the settings read from it.
class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::string IniText() const;
    ConfigHome config_;
};

}  // namespace fennic::test
