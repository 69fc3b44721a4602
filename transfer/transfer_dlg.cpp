#include "transfer/transfer_dlg.h"

#include <unistd.h>

#include <cstring>
#include <system_error>

#include "app/frontend.h"
#include "app/strings.h"
#include "inet/errors.h"
#include "inet/status.h"

namespace fennic {

unsigned ConnectStatusTextId(uint32_t status, unsigned connectedId) {
    switch (status) {
        case inet::kStatusResolvingName:
            return connectedId + 1;
        case inet::kStatusNameResolved:
            return connectedId + 2;
        case inet::kStatusConnecting:
            return connectedId + 3;
        case inet::kStatusConnected:
            return connectedId;
        default:
            return 0;
    }
}

std::string ApplicationName() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("fennic");
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

CTransferDlgBase::CTransferDlgBase(IProgressHost& host, unsigned texts)
    : m_host(host), m_texts(texts) {}

CTransferDlgBase::~CTransferDlgBase() {
    // A run always joins in OnDestroy; this only guards against a host that skipped it.
    if (m_pThread && m_pThread->joinable()) m_pThread->join();
}

int CTransferDlgBase::DoModal() {
    // No worker runs between runs: the facts start afresh for this one.
    m_factDone = 0;
    m_factTotal = 0;
    m_factRate = 0.0;
    m_strCause.clear();
    return m_host.RunModal(*this);
}

void CTransferDlgBase::ShowStatus(const std::string& text) {
    m_view->Send([this, text] { m_view->SetText(IDC_STATUS, text); });
}

void CTransferDlgBase::ShowStatusId(unsigned id) {
    ShowStatus(LoadString(id));
}

void CTransferDlgBase::ShowStatusArg(unsigned id, const std::string& arg) {
    ShowStatus(FormatMessageId(id, arg));
}

void CTransferDlgBase::ShowCaptionPercent(int percent, const std::string& name) {
    std::string caption = PercentCaption(percent, name, m_texts);
    m_view->Send([this, caption] { m_view->SetCaption(caption); });
}

void CTransferDlgBase::ShowTimeLeft(uint32_t seconds, uint32_t done, uint32_t total) {
    std::string text = TimeLeftText(seconds, done, total, m_texts);
    m_view->Send([this, text] { m_view->SetText(IDC_TIMELEFT, text); });
}

ProgressFacts CTransferDlgBase::Facts() const {
    ProgressFacts facts;
    facts.phase = m_strPhase;
    facts.quiet = m_bQuietProgress;
    facts.done = m_factDone;
    facts.total = m_factTotal;
    facts.bytesPerMs = m_factRate;
    return facts;
}

void CTransferDlgBase::StepProgressView(uint32_t startTick, uint32_t& lastTick, uint32_t done,
                                        uint32_t& lastBytes, int& lastPercent, bool sizeKnown,
                                        uint32_t total, bool movesBarByBytes) {
    struct Sink : IProgressSink {
        CTransferDlgBase& dlg;
        explicit Sink(CTransferDlgBase& d) : dlg(d) {}
        void ShowPercent(int p) override { dlg.ShowPercent(p); }
        void ShowProgressPos(uint32_t at) override { dlg.ShowProgressPos(at); }
        void ShowRate(double r) override { dlg.ShowRate(r); }
        void ShowTimeLeft(uint32_t s, uint32_t d, uint32_t t) override {
            dlg.ShowTimeLeft(s, d, t);
        }
    } sink(*this);
    UpdateProgress(sink, m_clock, startTick, lastTick, done, lastBytes, lastPercent, sizeKnown,
                   total, movesBarByBytes);
}

void CTransferDlgBase::ShowRate(double bytesPerMs) {
    m_factRate = bytesPerMs;
    std::string text = RateText(bytesPerMs, m_texts);
    m_view->Send([this, text] { m_view->SetText(IDC_TRANSFER_RATE, text); });
}

void CTransferDlgBase::ShowBarRange(uint16_t upper) {
    m_view->Send([this, upper] { m_view->SetProgressRange(upper); });
}

void CTransferDlgBase::ShowBarPos(int pos) {
    m_view->Send([this, pos] { m_view->SetProgressPos(pos); });
}

void CTransferDlgBase::StartAnimation() {
    m_view->Send([this] { m_view->StartAnimation(); });
}

void CTransferDlgBase::PostCompletion(int wParam) {
    m_view->Post([this, wParam] { OnTransferComplete(wParam); });
}

bool CTransferDlgBase::StartWorker() {
    try {
        m_pThread = std::make_unique<std::thread>([this] { RunTransfer(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CTransferDlgBase::SetCause(uint32_t error, const std::string& detail,
                                const std::string& server) {
    // A cancelled run has no cause to tell: the user ended it.
    if (m_bAbort || error == inet::kErrorOperationCancelled) {
        m_strCause.clear();
        return;
    }
    // Network errors are numbered from 12000 up; below are the system's errno values.
    const bool network = error >= inet::kErrorOutOfHandles || error == inet::kErrorConnectTimeout;
    if (!detail.empty()) {
        m_strCause = detail;
    } else if (network) {
        m_strCause = inet::ErrorText(error);
    } else if (error != 0) {
        m_strCause = std::strerror(static_cast<int>(error));
    } else {
        m_strCause.clear();
        return;
    }
    if (network && !server.empty()) m_strCause += " (" + server + ")";
}

int CTransferDlgBase::ShowMessage(const std::string& text, unsigned style) {
    return m_view->MessageBox(text, std::string(), style);
}

void CTransferDlgBase::OnTransferComplete(int wParam) {
    m_bFinished = true;
    m_view->StopAnimation();
    if (m_bAbort) {
        m_view->EndDialog(IDCANCEL);
    } else if (wParam == 0) {
        m_view->EndDialog(IDOK);
    } else {
        if (!(m_bSkipEmptyErrorBox && m_strError.empty())) ShowMessage(m_strError, MB_OK);
        m_view->EndDialog(IDCANCEL);
    }
}

void CTransferDlgBase::OnCancel() {
    m_bAbort = true;
    m_view->EnableCancel(false);
    m_view->SetText(IDC_STATUS, LoadString(m_texts + 32));
}

void CTransferDlgBase::OnClose() {
    // Once finished, the default handling of a dialog turns the close box into Cancel; before
    // that the close box is Cancel by design. Both take the same steps.
    OnCancel();
}

void CTransferDlgBase::OnDestroy() {
    if (m_pThread) {
        if (m_pThread->joinable()) m_pThread->join();
        m_pThread.reset();
    }
    CloseHandles();
    m_view = nullptr;
}

}  // namespace fennic
