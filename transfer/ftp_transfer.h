#pragma once
// CFTPTransferDlg: a file from an FTP server, or a byte range of it by a restart, into a local
// file while the progress window is shown. The network work runs on a worker thread; the
// connection is made on a short-lived thread of its own so that it has a time limit.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "inet/ftp.h"
#include "transfer/transfer_dlg.h"

namespace fennic {

// Whether raw FTP commands (needed for restarts) can be sent, decided once per process. Our
// FTP client always can; tests switch it off to see the restart refused.
bool FtpCommandAvailable();
void SetFtpCommandAvailable(bool available);

class CFTPTransferDlg : public CTransferDlgBase {
public:
    explicit CFTPTransferDlg(IProgressHost& host);
    ~CFTPTransferDlg() override;

    // Request, set before DoModal.
    std::string m_strServer;
    uint16_t m_nPort = 21;
    std::string m_strRemoteFile;  // as sent to the server
    std::string m_strLocalFile;
    std::string m_strUser;  // empty: anonymous login
    std::string m_strPassword;
    bool m_bUseProxy = false;
    std::string m_strProxy;
    bool m_bPromptOverwrite = true;
    bool m_bSizeOnly = false;
    uint32_t m_dwRangeStart = 0;  // not 0: a restart at this offset
    uint32_t m_dwRangeEnd = 0;    // the last byte wanted (inclusive), as for HTTP
    bool m_bRangeOnly = false;    // on: the range is written from the local file's start
    uint32_t m_dwConnectTimeout = 15000;
    // Data reads slower than this for that long fail with the time-limit error.
    uint32_t m_dwRateFloor = inet::kRateFloorBytesPerSecond;
    uint32_t m_dwRateFloorSeconds = inet::kRateFloorSeconds;

    void OnInitDialog(IProgressView& view) override;
    void OnCancel() override;

    void RunTransfer() override;
    bool RestartAt(std::string& strError);
    void ReportError(unsigned nMessageId, uint32_t dwError);
    // The steps of RunTransfer; each false (or null) when the run has ended and was reported.
    bool OpenSessionAndConnect();
    bool LearnSize(bool& sizeKnown, uint32_t& total);
    inet::FtpFile* OpenSource();
    void CopyData(inet::FtpFile& source, bool sizeKnown, uint32_t total);
    void SetError(const std::string& strText);
    void OnStatusCallback(uint32_t dwStatus, const std::string& info);

    void ShowPercent(int nPercent) override;
    uint64_t RangeLength() const { return uint64_t{m_dwRangeEnd} - m_dwRangeStart + 1; }
    void UpdateProgress(uint32_t dwStartTick, uint32_t& dwLastTick, uint32_t dwDone,
                        uint32_t& dwLastBytes, int& nLastPercent, bool bSizeKnown,
                        uint32_t dwTotal);

protected:
    void CloseHandles() override;

private:
    void ConnectWorker();
    // Records a failed call's error and the server's reply for ReportError(id, 0).
    void Failed(uint32_t error, const std::string& response, const std::string& text);
    // After a failed call: when Cancel caused it, stop quietly and return true.
    bool StoppedByCancel();
    // The session and connection are closed by the worker at times; Cancel reaches them here.
    void AbortSession();
    void CloseSession();

    uint32_t m_dwConnectError = 0;      // connection thread writes, worker reads after the join
    std::string m_strConnectErrorText;  // likewise
    uint32_t m_dwLastError = 0;         // worker only
    std::string m_strLastResponse;      // worker only
    std::string m_strLastErrorText;     // worker only

    std::mutex m_sessionMutex;  // guards the m_hSession pointer, not the session's calls
    std::unique_ptr<inet::FtpSession> m_hSession;
    std::unique_ptr<inet::FtpConnection> m_hConnection;
    std::unique_ptr<inet::FtpFile> m_hFile;
    std::unique_ptr<inet::FtpFile> m_hRestartData;
};

}  // namespace fennic
