#pragma once
// A progress window for tests: runs on the test's thread through CWindowThread and records every
// update the engine hands to it, in order. Boxes go to a recording front end; the proxy prompt
// takes scripted answers.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tests/fixtures/recording_front_end.h"
#include "transfer/window_thread.h"

namespace fennic::test {

struct ViewEvent {
    enum Kind {
        kText,
        kCaption,
        kRange,
        kPos,
        kAnimStart,
        kAnimStop,
        kCancelEnabled,
        kBox,
        kPrompt
    };
    Kind kind;
    int id = 0;        // control id (kText), range/pos/enabled value
    std::string text;  // text, caption, box text
    unsigned style = 0;
};

class RecordingView : public CLoopProgressView, public IProgressHost {
public:
    RecordingView() { frontEnd.unanswered = IDOK; }
    int RunModal(IProgressDialog& dlg) override { return CLoopProgressView::RunModal(dlg); }

    void SetText(int id, const std::string& text) override { Record({ViewEvent::kText, id, text}); }
    void SetCaption(const std::string& text) override { Record({ViewEvent::kCaption, 0, text}); }
    void SetProgressRange(uint16_t upper) override { Record({ViewEvent::kRange, upper, {}}); }
    void SetProgressPos(int pos) override { Record({ViewEvent::kPos, pos, {}}); }
    void StartAnimation() override { Record({ViewEvent::kAnimStart, 0, {}}); }
    void StopAnimation() override { Record({ViewEvent::kAnimStop, 0, {}}); }
    void EnableCancel(bool on) override { Record({ViewEvent::kCancelEnabled, on ? 1 : 0, {}}); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
        Record({ViewEvent::kBox, 0, caption.empty() ? text : caption + "|" + text, style});
        return frontEnd.MessageBox(text, caption, style);
    }
    bool PromptProxyLogin(std::string& user, std::string& password) override;

    // Runs action on the window thread once a text starting with prefix is shown (e.g. to press
    // Cancel when the transfer begins).
    void WhenText(const std::string& prefix, std::function<void()> action);

    // Answers the questions of the boxes (IDOK once its queue has run out).
    RecordingFrontEnd frontEnd;
    struct PromptAnswer {
        bool retry;
        std::string user, password;
    };
    std::deque<PromptAnswer> promptAnswers;  // default: dismissed
    // Called on the window thread after each recorded event.
    std::function<void(const ViewEvent&)> onEvent;

    // All events of the runs so far (read after RunModal returned).
    std::vector<ViewEvent> events;
    std::vector<std::string> Texts(int controlId) const;
    std::vector<std::string> Captions() const;
    std::vector<std::string> Boxes() const;
    std::vector<int> Values(ViewEvent::Kind kind) const;
    int prompts = 0;

private:
    void Record(ViewEvent e);
};

}  // namespace fennic::test
