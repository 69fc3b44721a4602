#pragma once
// The progress window of a transfer ("File Download") on wxWidgets: the window
// itself and the host that runs one modally for each transfer.

#include <wx/dialog.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "app/frontend.h"
#include "transfer/progress_view.h"

class wxAnimationCtrl;
class wxGauge;

namespace fennic::ui {

// Hands functions from any thread to the window thread. Once closed, whatever is still queued
// is dropped and every waiting sender is released.
class CWindowChannel : public std::enable_shared_from_this<CWindowChannel> {
public:
    void Send(std::function<void()> fn);
    void Post(std::function<void()> fn);
    void Close();

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_open = true;
};

class CProgressWnd : public wxDialog, public IProgressView {
public:
    CProgressWnd(wxWindow* parent, IProgressDialog& dlg);
    ~CProgressWnd() override;

    // The modal run of IProgressHost::RunModal.
    int Run();

    // IProgressView.
    void Send(std::function<void()> fn) override { m_channel->Send(std::move(fn)); }
    void Post(std::function<void()> fn) override { m_channel->Post(std::move(fn)); }
    void SetText(int controlId, const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void SetProgressRange(uint16_t upper) override;
    void SetProgressPos(int pos) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void EnableCancel(bool enable) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    bool PromptProxyLogin(std::string& user, std::string& password) override;
    void EndDialog(int result) override;

private:
    void OnCancelButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    IProgressDialog& m_dlg;
    std::shared_ptr<CWindowChannel> m_channel = std::make_shared<CWindowChannel>();
    wxAnimationCtrl* m_animation = nullptr;
    wxGauge* m_bar = nullptr;
    bool m_ended = false;
    int m_result = IDCANCEL;
};

// Runs each transfer's progress window modally over `parent`.
class CWxProgressHost : public IProgressHost {
public:
    explicit CWxProgressHost(wxWindow* parent) : m_parent(parent) {}
    int RunModal(IProgressDialog& dlg) override;

private:
    wxWindow* m_parent;
};

}  // namespace fennic::ui
