#pragma once
// A window thread for front ends without a toolkit loop (the command line, tests): a queue of
// functions that other threads hand over, served by a modal loop on the thread that runs it.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "transfer/progress_view.h"

namespace fennic {

class CWindowThread {
public:
    // Opens the queue for a new run; the calling thread becomes the window thread.
    void Begin();
    // Any thread. Runs fn on the window thread and waits for it; on the window thread fn runs
    // at once. When the run has ended (or ends while waiting) fn is dropped and Send returns.
    void Send(std::function<void()> fn);
    // Any thread. Queues fn; dropped when the run has ended.
    void Post(std::function<void()> fn);
    // Window thread. Serves queued functions in order until Quit(), then drops what is left
    // and closes the queue. Returns the value given to Quit().
    int Run();
    // Window thread. Ends Run() after the function being served returns.
    void Quit(int result);
    bool QuitRequested() const;
    // Functions waiting to be served (Send and Post alike).
    size_t QueuedCount() const;
    // Closes the queue without serving (the run ended before its loop started).
    void Close();
    // While Run() waits, idle is called on the window thread at least every period.
    void SetIdleHandler(std::function<void()> idle, std::chrono::milliseconds period);

private:
    struct Item {
        std::function<void()> fn;
        bool done = false;
    };
    void DropAllLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // window thread: something queued
    std::condition_variable m_done;  // senders: their item ran or was dropped
    std::deque<std::shared_ptr<Item>> m_queue;
    bool m_open = false;
    bool m_quit = false;
    int m_result = 0;
    std::thread::id m_owner;
    std::function<void()> m_idle;
    std::chrono::milliseconds m_idlePeriod{100};
};

// A progress window whose thread hops go through a CWindowThread; subclasses show the texts.
// Cancel() and Close() may be called on any thread: they reach the dialog on the window thread
// like the Cancel button and the close box.
class CLoopProgressView : public IProgressView {
public:
    void Send(std::function<void()> fn) final { m_loop.Send(std::move(fn)); }
    void Post(std::function<void()> fn) final { m_loop.Post(std::move(fn)); }
    void EndDialog(int result) final { m_loop.Quit(result); }

    void Cancel();
    void Close();

    // Runs dlg modally on the calling thread, as IProgressHost::RunModal describes.
    int RunModal(IProgressDialog& dlg);

protected:
    // Called on the window thread when a run begins, before OnInitDialog (reset the texts).
    virtual void OnRunBegin() {}
    CWindowThread& Loop() { return m_loop; }

private:
    CWindowThread m_loop;
    IProgressDialog* m_dlg = nullptr;  // set and read on the window thread only
};

class IFrontEnd;

// A view that shows nothing: messages and questions go to a front end's MessageBox, the
// credential prompt is dismissed. Views that show some of it override what they show.
class CHeadlessView : public CLoopProgressView {
public:
    explicit CHeadlessView(IFrontEnd& fe) : m_frontEnd(fe) {}
    void SetText(int, const std::string&) override {}
    void SetCaption(const std::string&) override {}
    void SetProgressRange(uint16_t) override {}
    void SetProgressPos(int) override {}
    void StartAnimation() override {}
    void StopAnimation() override {}
    void EnableCancel(bool) override {}
    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    bool PromptProxyLogin(std::string&, std::string&) override { return false; }

protected:
    IFrontEnd& FrontEnd() { return m_frontEnd; }

private:
    IFrontEnd& m_frontEnd;
};

// Runs progress windows on a CHeadlessView.
class CHeadlessProgressHost : public IProgressHost {
public:
    explicit CHeadlessProgressHost(IFrontEnd& fe) : m_frontEnd(fe) {}
    int RunModal(IProgressDialog& dlg) override;

private:
    IFrontEnd& m_frontEnd;
};

}  // namespace fennic
