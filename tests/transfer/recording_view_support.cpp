#include "app/frontend.h"
#include "tests/transfer/recording_view.h"

namespace fennic::test {

void RecordingView::Record(ViewEvent e) {
    events.push_back(e);
    if (onEvent) onEvent(events.back());
}

void RecordingView::SetText(int controlId, const std::string& text) {
    Record({ViewEvent::kText, controlId, text});
}
void RecordingView::SetCaption(const std::string& text) {
    Record({ViewEvent::kCaption, 0, text});
}
void RecordingView::SetProgressRange(uint16_t upper) {
    Record({ViewEvent::kRange, upper, {}});
}
void RecordingView::SetProgressPos(int pos) {
    Record({ViewEvent::kPos, pos, {}});
}
void RecordingView::StartAnimation() {
    Record({ViewEvent::kAnimStart, 0, {}});
}
void RecordingView::StopAnimation() {
    Record({ViewEvent::kAnimStop, 0, {}});
}
void RecordingView::EnableCancel(bool enable) {
    Record({ViewEvent::kCancelEnabled, enable ? 1 : 0, {}});
}

int RecordingView::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    Record({ViewEvent::kBox, 0, caption.empty() ? text : caption + "|" + text, style});
    if (boxAnswers.empty()) return IDOK;
    const int answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
}

bool RecordingView::PromptProxyLogin(std::string& user, std::string& password) {
    ++prompts;
    Record({ViewEvent::kPrompt, 0, user});
    if (promptAnswers.empty()) return false;
    PromptAnswer a = promptAnswers.front();
    promptAnswers.pop_front();
    user = a.user;
    password = a.password;
    return a.retry;
}

std::vector<std::string> RecordingView::Texts(int controlId) const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == ViewEvent::kText && e.id == controlId) out.push_back(e.text);
    return out;
}

std::vector<std::string> RecordingView::Captions() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == ViewEvent::kCaption) out.push_back(e.text);
    return out;
}

std::vector<std::string> RecordingView::Boxes() const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.kind == ViewEvent::kBox) out.push_back(e.text);
    return out;
}

std::vector<int> RecordingView::Values(ViewEvent::Kind kind) const {
    std::vector<int> out;
    for (const auto& e : events)
        if (e.kind == kind) out.push_back(e.id);
    return out;
}

}  // namespace fennic::test
