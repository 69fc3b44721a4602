#pragma once
// A progress window for tests: runs on the test's thread through CWindowThread and records every
// update the engine hands to it, in order. Scripted answers for boxes and the proxy prompt.

#include <deque>
#include <functional>
#include <string>
#include <vector>

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
    int RunModal(IProgressDialog& dlg) override { return CLoopProgressView::RunModal(dlg); }

    void SetText(int controlId, const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void SetProgressRange(uint16_t upper) override;
    void SetProgressPos(int pos) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void EnableCancel(bool enable) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    bool PromptProxyLogin(std::string& user, std::string& password) override;

    // Answers for the next boxes (default IDOK) and prompts (default: dismissed).
    std::deque<int> boxAnswers;
    struct PromptAnswer {
        bool retry;
        std::string user, password;
    };
    std::deque<PromptAnswer> promptAnswers;
    // Called on the window thread after each recorded event (e.g. to press Cancel).
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
