#include "transfer/ftp_transfer.h"

#include <atomic>
#include <chrono>
#include <future>
#include <system_error>
#include <thread>
#include <vector>

#include "app/frontend.h"
#include "app/strings.h"
#include "app/text_convert.h"
#include "inet/errors.h"

namespace fennic {
namespace {

// The one failed lookup after which RETR is still worth a try: the server does not know SIZE
// (500, 502, 504) and its listing did not show the file either.
bool OnlyTheListingMissedIt(const inet::FtpConnection& conn) {
    if (conn.LastError() != inet::kErrorExtended) return false;
    const std::vector<int> codes = conn.LastReplyCodes();
    return !codes.empty() && (codes[0] == 500 || codes[0] == 502 || codes[0] == 504);
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::atomic<bool>& FtpCommandRecord() {
    static std::atomic<bool> available{true};
    return available;
}

}  // namespace

bool FtpCommandAvailable() {
    return FtpCommandRecord().load();
}
void SetFtpCommandAvailable(bool available) {
    FtpCommandRecord() = available;
}

CFTPTransferDlg::CFTPTransferDlg(IProgressHost& host) : CTransferDlgBase(host, kFtpTexts) {
    m_bSkipEmptyErrorBox = true;
}

CFTPTransferDlg::~CFTPTransferDlg() = default;

void CFTPTransferDlg::OnInitDialog(IProgressView& view) {
    m_view = &view;
    m_bAbort = false;  // a run after a cancelled one starts afresh
    view.SetProgressRange(100);
    if (FileExists(m_strLocalFile) && m_bPromptOverwrite) {
        const int answer =
            ShowMessage(FormatMessageId(230, m_strLocalFile), MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES) return view.EndDialog(IDCANCEL);
    }
    if (const int err = m_file.Open(m_strLocalFile, false)) {
        ShowMessage(FormatMessageId(231, std::to_string(err)), MB_OK | MB_ICONEXCLAMATION);
        return view.EndDialog(IDCANCEL);
    }
    if (!m_bRangeOnly) {
        if (const int err = m_file.SeekAndCut(m_dwRangeStart)) {
            ShowMessage(FormatMessageId(239, std::to_string(err)), MB_OK | MB_ICONEXCLAMATION);
            return view.EndDialog(IDCANCEL);
        }
    }
    view.SetText(IDC_FILESTATUS, FormatMessageId(202, m_strRemoteFile, m_strServer));
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_hSession = std::make_unique<inet::FtpSession>();
    }
    if (!StartWorker()) view.EndDialog(IDCANCEL);
}

void CFTPTransferDlg::OnCancel() {
    CTransferDlgBase::OnCancel();
    // Wakes a blocking wait at once instead of at its time limit.
    AbortSession();
}

void CFTPTransferDlg::AbortSession() {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (m_hSession) m_hSession->Abort();
}

void CFTPTransferDlg::CloseSession() {
    std::unique_ptr<inet::FtpSession> session;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        session = std::move(m_hSession);
    }
    if (session) session->Close();
}

void CFTPTransferDlg::CloseHandles() {
    if (m_hRestartData) m_hRestartData->Close();
    m_hRestartData.reset();
    if (m_hFile) m_hFile->Close();
    m_hFile.reset();
    if (m_hConnection) m_hConnection->Close();
    m_hConnection.reset();
    CloseSession();
}

void CFTPTransferDlg::Failed(uint32_t error, const std::string& response, const std::string& text) {
    m_dwLastError = error;
    m_strLastResponse = response;
    m_strLastErrorText = text;
}

bool CFTPTransferDlg::StoppedByCancel() {
    if (!m_bAbort) return false;
    Stop();
    return true;
}

void CFTPTransferDlg::ReportError(unsigned nMessageId, uint32_t dwError) {
    const bool recorded = dwError == 0 || dwError == m_dwLastError;
    if (dwError == 0) dwError = m_dwLastError;
    // A refusal's reply is in the message itself.
    if (dwError != inet::kErrorExtended) {
        SetCause(dwError, recorded ? m_strLastErrorText : std::string(), m_strServer);
    }
    const std::string arg = dwError == inet::kErrorExtended
                                ? "\n" + TerminalText(m_strLastResponse, true)
                                : std::to_string(dwError);
    SetError(FormatMessageId(nMessageId, arg));
}

void CFTPTransferDlg::SetError(const std::string& strText) {
    m_strError = strText;
    m_file.CloseAndDelete();
    PostCompletion(1);
}

void CFTPTransferDlg::OnStatusCallback(uint32_t dwStatus, const std::string& info) {
    // Redirects are not reported.
    if (const unsigned id = ConnectStatusTextId(dwStatus, 203)) ShowStatusArg(id, info);
}

void CFTPTransferDlg::ShowPercent(int nPercent) {
    ShowBarPos(nPercent);
    ShowCaptionPercent(nPercent, m_strRemoteFile);
}

void CFTPTransferDlg::UpdateProgress(uint32_t dwStartTick, uint32_t& dwLastTick, uint32_t dwDone,
                                     uint32_t& dwLastBytes, int& nLastPercent, bool bSizeKnown,
                                     uint32_t dwTotal) {
    // The window's percent is of the whole file even for a range; the facts are of the range.
    SetProgressFacts(dwDone, m_bRangeOnly ? static_cast<uint32_t>(RangeLength())
                             : bSizeKnown ? dwTotal
                                          : 0);
    StepProgressView(dwStartTick, dwLastTick, dwDone, dwLastBytes, nLastPercent, bSizeKnown,
                     dwTotal, false);
}

void CFTPTransferDlg::ConnectWorker() {
    const bool withUser = !m_strUser.empty();
    m_hConnection = m_hSession->Connect(m_strServer, m_nPort, withUser ? m_strUser : "",
                                        withUser ? m_strPassword : "");
    if (!m_hConnection) {
        m_dwConnectError = m_hSession->LastError();
        m_strConnectErrorText = m_hSession->LastErrorText();
        m_strLastResponse = m_hSession->LastResponse();
    }
}

bool CFTPTransferDlg::RestartAt(std::string& strError) {
    m_hRestartData.reset();
    if (!FtpCommandAvailable()) {
        strError = LoadString(226);
        return false;
    }
    // The name goes into a multi-command text below, where a line break would start a command
    // of its own.
    if (HasLineBreakOrNul(m_strRemoteFile)) {
        strError = FormatMessageId(236, std::to_string(inet::kErrorInvalidOption));
        return false;
    }
    // Offsets are unsigned 32-bit values and go out as such, never as negative numbers.
    const std::string offset = std::to_string(m_dwRangeStart);
    if (!m_hConnection->Command("REST " + offset + "\r\nPWD \r\n", false, nullptr)) {
        strError = FormatMessageId(236, std::to_string(m_hConnection->LastError()));
        return false;
    }
    const std::vector<int> codes = m_hConnection->LastReplyCodes();
    if (codes.empty() || codes[0] != 350) {
        strError = FormatMessageId(238, TerminalText(m_hConnection->LastResponse(), true));
        return false;
    }
    const std::string start = "ABOR\r\nNOOP\r\nNOOP\r\nREST " + offset + "\r\nRETR " +
                              m_strRemoteFile + "\r\nPWD\r\nNOOP\r\nNOOP\r\n";
    std::unique_ptr<inet::FtpFile> data;
    if (!m_hConnection->Command(start, true, &data) || !data) {
        strError = FormatMessageId(236, std::to_string(m_hConnection->LastError()));
        return false;
    }
    m_hRestartData = std::move(data);
    return true;
}

bool CFTPTransferDlg::OpenSessionAndConnect() {
    m_dwLastError = 0;
    m_strLastErrorText.clear();
    m_dwConnectError = 0;
    m_strLastResponse.clear();
    if (!m_hSession->Open(ApplicationName(), m_bUseProxy ? m_strProxy : std::string())) {
        Failed(m_hSession->LastError(), m_hSession->LastResponse(), m_hSession->LastErrorText());
        return ReportError(210, 0), false;
    }
    if (m_bAbort) return Stop(), false;
    m_hSession->SetStatusCallback(
        [this](uint32_t status, const std::string& info) { OnStatusCallback(status, info); });
    if (m_bAbort) return Stop(), false;

    // The client's own limit stays behind ours, so the wait below decides.
    const uint64_t clientLimit = static_cast<uint64_t>(m_dwConnectTimeout) + 5000;
    m_hSession->SetTimeouts(clientLimit > UINT32_MAX ? UINT32_MAX : uint32_t(clientLimit), 30000);
    m_hSession->SetRateFloor(m_dwRateFloor, m_dwRateFloorSeconds);
    std::promise<void> connected;
    std::future<void> connectEnd = connected.get_future();
    std::thread connectThread;
    try {
        connectThread = std::thread([this, &connected] {
            ConnectWorker();
            connected.set_value();
        });
    } catch (const std::system_error& e) {
        return ReportError(240, static_cast<uint32_t>(e.code().value())), false;
    }
    if (connectEnd.wait_for(std::chrono::milliseconds(m_dwConnectTimeout)) ==
        std::future_status::timeout) {
        AbortSession();  // ends the pending attempt
        connectThread.join();
        if (m_hConnection) m_hConnection->Close();
        m_hConnection.reset();
        CloseSession();
        if (m_bAbort) return Stop(), false;
        return ReportError(211, inet::kErrorConnectTimeout), false;
    }
    connectThread.join();
    if (!m_hConnection) {
        if (StoppedByCancel()) return false;
        m_dwLastError = m_dwConnectError;
        m_strLastErrorText = m_strConnectErrorText;
        return ReportError(211, m_dwConnectError), false;
    }
    if (m_bAbort) return Stop(), false;
    return true;
}

bool CFTPTransferDlg::LearnSize(bool& sizeKnown, uint32_t& total) {
    inet::FtpFileInfo info;
    if (m_hConnection->FindFile(m_strRemoteFile, info)) {
        // Sizes are 32-bit: a larger one cut to its low bits would be another file's size.
        if (info.size > UINT32_MAX)
            return ReportError(207, inet::kErrorInvalidServerResponse), false;
        total = static_cast<uint32_t>(info.size);
        sizeKnown = true;
        m_dwFileSize = total;
        m_version.size = total;
        if (m_bSizeOnly) {
            m_hConnection->Close();
            m_hConnection.reset();
            CloseSession();
            PostCompletion(0);
            m_file.Close();
            return false;
        }
    } else if (!OnlyTheListingMissedIt(*m_hConnection)) {
        // A refused SIZE (550 and the like) is the answer; RETR would only hide it.
        if (StoppedByCancel()) return false;
        Failed(m_hConnection->LastError(), m_hConnection->LastResponse(),
               m_hConnection->LastErrorText());
        return ReportError(207, 0), false;
    }
    if (m_bAbort) return Stop(), false;
    return true;
}

inet::FtpFile* CFTPTransferDlg::OpenSource() {
    if (m_dwRangeStart != 0) {
        std::string error;
        if (!RestartAt(error)) {
            if (!StoppedByCancel()) SetError(error);
            return nullptr;
        }
    }
    inet::FtpFile* source = m_hRestartData.get();
    if (!source) {
        m_hFile = m_hConnection->OpenFile(m_strRemoteFile);
        if (!m_hFile) {
            if (StoppedByCancel()) return nullptr;
            Failed(m_hConnection->LastError(), m_hConnection->LastResponse(),
                   m_hConnection->LastErrorText());
            return ReportError(207, 0), nullptr;
        }
        source = m_hFile.get();
    }
    if (m_bAbort) return Stop(), nullptr;
    return source;
}

void CFTPTransferDlg::RunTransfer() {
    m_version = {};
    if (!OpenSessionAndConnect()) return;
    StartAnimation();
    ShowStatusId(208);
    bool sizeKnown = false;
    uint32_t total = 0;
    if (!LearnSize(sizeKnown, total)) return;
    inet::FtpFile* source = OpenSource();
    if (!source) return;
    ShowStatusId(216);
    CopyData(*source, sizeKnown, total);
}

void CFTPTransferDlg::CopyData(inet::FtpFile& source, bool sizeKnown, uint32_t total) {
    const uint32_t t0 = m_clock();
    uint32_t done = 0, lastTick = t0, lastBytes = 0;
    int lastPercent = 0;
    std::vector<char> buffer(kReadBlock);
    auto update = [&](uint32_t at) {
        UpdateProgress(t0, lastTick, at, lastBytes, lastPercent, sizeKnown, total);
    };
    for (;;) {
        size_t got = 0;
        if (!source.Read(buffer.data(), buffer.size(), got)) {
            if (m_bAbort) break;  // a read cut short by Cancel
            Failed(source.LastError(), m_hConnection->LastResponse(), source.LastErrorText());
            return ReportError(214, 0);
        }
        if (got == 0 || m_bAbort) break;
        const uint64_t wanted = RangeLength() - done;
        if (wanted < kReadBlock && wanted <= got) {
            if (const int err = m_file.Write(buffer.data(), wanted)) return ReportError(214, err);
            // The range's last part short of a whole step ends the run unreported.
            const uint32_t whole = static_cast<uint32_t>(wanted / kProgressStep * kProgressStep);
            if (whole > 0) StepProgress(done, done + whole, update);
            SetProgressFacts(static_cast<uint32_t>(done + wanted),
                             static_cast<uint32_t>(RangeLength()));
            m_file.Close();
            return PostCompletion(0);
        }
        if (const int err = m_file.Write(buffer.data(), got)) return ReportError(214, err);
        const uint32_t from = done;
        done += static_cast<uint32_t>(got);
        StepProgress(from, done, update);
    }
    if (!m_bAbort) {
        // The data ended: the server's own word on the transfer comes first, then the count.
        if (!source.Close()) {
            Failed(source.LastError(), source.LastResponse(), source.LastErrorText());
            return ReportError(214, 0);
        }
        if (m_bRangeOnly && done < RangeLength()) {
            return ReportError(214, inet::kErrorConnectionAborted);
        }
    }
    m_file.Close();
    if (m_bAbort) m_file.CloseAndDelete();
    PostCompletion(0);
}

}  // namespace fennic
