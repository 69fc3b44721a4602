#pragma once
// The progress window of a transfer ("File Download"), as the engines see it.
//
// Three parties meet here:
//  - the engine (CHttpDownloadDlg, CFTPTransferDlg) implements IProgressDialog;
//  - the front end implements IProgressHost (it creates and runs the window modally) and
//    IProgressView (the window itself);
//  - the engine's worker thread, which never touches the window: it hands each display update
//    to the window thread with IProgressView::Send and waits until that has run, and it ends
//    with one IProgressView::Post (never waited for).
//
// A run, as the host performs it on the window thread:
//   1. create the window (caption "File Download", empty texts, bar range 0..100, Cancel on);
//   2. dlg.OnInitDialog(view): the engine may end the run right there with view.EndDialog();
//   3. serve events until EndDialog() was called: functions given to Send/Post, in the order
//      they were handed over, the Cancel button and Escape (dlg.OnCancel()) and the close box
//      (dlg.OnClose());
//   4. dlg.OnDestroy() while the view still exists (the engine joins its worker there; the
//      worker no longer calls Send once it has posted its end), then destroy the window and
//      return the value given to EndDialog().
// Functions still queued when the run ends are dropped without being called. Every text is UTF-8.

#include <cstdint>
#include <functional>
#include <string>

namespace fennic {

// Control ids of the progress window.
enum ProgressControl : int {
    IDC_ANIMATE = 1000,
    IDC_STATUS = 1001,         // status line
    IDC_FILESTATUS = 1002,     // "%1 from %2", set once at dialog start
    IDC_PROGRESS = 1003,       // progress bar
    IDC_TIMELEFT = 1004,       // "%1 (%2 copied)"
    IDC_TRANSFER_RATE = 1005,  // rate text
};

class IProgressView {
public:
    virtual ~IProgressView() = default;

    // --- The only two calls allowed on threads other than the window thread. ---

    // Runs fn on the window thread and returns once it has run. On the window thread itself
    // fn runs at once. fn must not block on the calling thread.
    virtual void Send(std::function<void()> fn) = 0;
    // Queues fn for the window thread and returns at once.
    virtual void Post(std::function<void()> fn) = 0;

    // --- Window thread only. ---

    // Text of one of the static controls IDC_STATUS, IDC_FILESTATUS, IDC_TIMELEFT,
    // IDC_TRANSFER_RATE.
    virtual void SetText(int controlId, const std::string& text) = 0;
    // The window's caption.
    virtual void SetCaption(const std::string& text) = 0;
    // Progress bar range 0..upper, and its position within it.
    virtual void SetProgressRange(uint16_t upper) = 0;
    virtual void SetProgressPos(int pos) = 0;
    // The looping animation: plays from StartAnimation() until StopAnimation().
    virtual void StartAnimation() = 0;
    virtual void StopAnimation() = 0;
    // Greys the Cancel button (false) or enables it again (true).
    virtual void EnableCancel(bool enable) = 0;
    // A message box over the progress window; returns IDOK, IDYES or IDNO (app/frontend.h).
    // An empty caption is the application's display name. Also asks Yes/No questions.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
    // The credential prompt of a proxy that answered 407. user and password come in with the
    // values last used and go out with the ones entered. Returns true when the user entered
    // credentials and wants the request sent again, false when the prompt was dismissed.
    virtual bool PromptProxyLogin(std::string& user, std::string& password) = 0;
    // Ends the modal run with this result (IDOK or IDCANCEL) once the current event returns.
    virtual void EndDialog(int result) = 0;
};

// What a front end may show besides the window's texts, all from one moment of the run.
struct ProgressFacts {
    std::string phase;        // the road's name for the run ("central directory"); may be empty
    bool quiet = false;       // too small a run to be worth a progress display
    uint64_t done = 0;        // bytes so far
    uint64_t total = 0;       // bytes expected; 0 when unknown
    double bytesPerMs = 0.0;  // the rate last shown; 0 before the first
};

// The engine's side; every call comes on the window thread.
class IProgressDialog {
public:
    virtual ~IProgressDialog() = default;
    virtual ProgressFacts Facts() const { return {}; }
    virtual void OnInitDialog(IProgressView& view) = 0;
    virtual void OnCancel() = 0;   // Cancel button, Escape
    virtual void OnClose() = 0;    // close box
    virtual void OnDestroy() = 0;  // the run has ended; the view still exists
};

// Creates and runs progress windows; one window per RunModal call.
class IProgressHost {
public:
    virtual ~IProgressHost() = default;
    // Runs one progress window modally on the calling thread (the window thread) as described
    // at the top of this file and returns the result given to EndDialog().
    virtual int RunModal(IProgressDialog& dlg) = 0;
};

}  // namespace fennic
