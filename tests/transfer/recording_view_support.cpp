#include "tests/transfer/recording_view.h"

namespace fennic::test {

void RecordingView::Record(ViewEvent e) {
    events.push_back(e);
    if (onEvent) onEvent(events.back());
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

void RecordingView::WhenText(const std::string& prefix, std::function<void()> action) {
    onEvent = [prefix, action](const ViewEvent& e) {
        if (e.kind == ViewEvent::kText && e.text.rfind(prefix, 0) == 0) action();
    };
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
