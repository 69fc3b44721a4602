#pragma once
// What the two transfer engines share: the modal run on a progress window, the flags, the
// display operations that hand every update to the window thread and wait for it, the
// completion message, Cancel, close and the joining of the worker.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "inet/resource_version.h"
#include "transfer/local_file.h"
#include "transfer/progress.h"
#include "transfer/progress_view.h"

namespace fennic {

// The executable's file name without its extension (the session's default agent).
std::string ApplicationName();

// The text of a connection step (resolving, resolved, connecting, connected) for a transfer
// whose texts start at `connectedId` ("connected"), then the other three in that order; 0 for
// any other status.
unsigned ConnectStatusTextId(uint32_t status, unsigned connectedId);

class CTransferDlgBase : public IProgressDialog {
public:
    CTransferDlgBase(IProgressHost& host, unsigned texts);
    ~CTransferDlgBase() override;
    CTransferDlgBase(const CTransferDlgBase&) = delete;
    CTransferDlgBase& operator=(const CTransferDlgBase&) = delete;

    // Runs the transfer with its progress window: IDOK when done, IDCANCEL on failure (the
    // user has seen the message) or cancel (no message). Can be called again.
    int DoModal();
    uint32_t GetRemoteFileSize() const { return m_dwFileSize; }
    // The file's size and validators as the last run's answers showed them (size 0: none).
    const inet::ResourceVersion& GetVersion() const { return m_version; }
    // After a failed run: its cause in plain words (the network layer's text with the server's
    // name, or the system's text for a local file), for front ends that show more than the
    // message. Empty when there is nothing to add.
    const std::string& GetFailureCause() const { return m_strCause; }

    // The millisecond clock of the progress arithmetic (tests steer it). Set before DoModal.
    void SetTickClock(TickClock clock) { m_clock = std::move(clock); }

    // The road's name for the run and whether it is too small to show progress for; set
    // before DoModal.
    std::string m_strPhase;
    bool m_bQuietProgress = false;

    // IProgressDialog, on the window thread.
    ProgressFacts Facts() const override;
    void OnCancel() override;
    void OnClose() override;
    void OnDestroy() override;

protected:
    // Display operations, called on the worker (or connection) thread.
    void ShowStatus(const std::string& text);
    void ShowStatusId(unsigned id);
    void ShowStatusArg(unsigned id, const std::string& arg);
    void ShowCaptionPercent(int percent, const std::string& name);
    void ShowTimeLeft(uint32_t seconds, uint32_t done, uint32_t total);
    void ShowRate(double bytesPerMs);
    void ShowBarRange(uint16_t upper);
    void ShowBarPos(int pos);
    void StartAnimation();
    // The percent each engine shows its own way, and the bar moved by bytes (HTTP's alone).
    virtual void ShowPercent(int percent) = 0;
    virtual void ShowProgressPos(uint32_t done) { (void)done; }
    // Worker: one step of the progress arithmetic, shown through the operations above.
    void StepProgressView(uint32_t startTick, uint32_t& lastTick, uint32_t done,
                          uint32_t& lastBytes, int& lastPercent, bool sizeKnown, uint32_t total,
                          bool movesBarByBytes);

    // Worker: the bytes so far and the bytes expected (0 when unknown), before each update.
    void SetProgressFacts(uint32_t done, uint32_t total) {
        m_factDone = done;
        m_factTotal = total;
    }
    // Worker: the cause of the failure being reported, from the failed call's error number and
    // text (`server` is named after network errors).
    void SetCause(uint32_t error, const std::string& detail, const std::string& server);
    // Worker: posts the completion message (0 done or stopped, 1 failed with m_strError).
    void PostCompletion(int wParam);
    // Window thread, dialog start: starts RunTransfer() on the worker; false when it could not.
    bool StartWorker();
    // Window thread: a message box over the progress window, captioned with the app's name.
    int ShowMessage(const std::string& text, unsigned style);

    // Worker: the run ended as asked (done or stopped by Cancel).
    void Stop() { PostCompletion(0); }

    // Worker body and the handles to close at teardown (after the worker was joined).
    virtual void RunTransfer() = 0;
    virtual void CloseHandles() = 0;

    IProgressView* m_view = nullptr;  // set on the window thread before the worker starts
    std::atomic<bool> m_bAbort{false};
    std::atomic<bool> m_bFinished{false};
    uint32_t m_dwFileSize = 0;        // worker writes; read after the run
    inet::ResourceVersion m_version;  // worker writes; read after the run
    std::string m_strError;  // worker writes before posting; window thread reads on arrival
    std::string m_strCause;  // worker writes before posting; read after the run
    CLocalFile m_file;
    TickClock m_clock = SteadyTickCount;
    bool m_bSkipEmptyErrorBox = false;  // the FTP engine shows no box for an empty text

private:
    void OnTransferComplete(int wParam);

    IProgressHost& m_host;
    const unsigned m_texts;
    std::unique_ptr<std::thread> m_pThread;
    std::atomic<uint32_t> m_factDone{0}, m_factTotal{0};
    std::atomic<double> m_factRate{0.0};
};

}  // namespace fennic
