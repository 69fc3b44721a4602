#pragma once
// CHttpDownloadDlg: one HTTP resource, or one byte range of it, into a local file while the
// progress window is shown. The network work runs on a worker thread.

#include <cstdint>
#include <memory>
#include <string>

#include "inet/errors.h"
#include "inet/http.h"
#include "transfer/transfer_dlg.h"

namespace fennic {

class CHttpDownloadDlg : public CTransferDlgBase {
public:
    explicit CHttpDownloadDlg(IProgressHost& host);
    ~CHttpDownloadDlg() override;

    // Request, set before DoModal (nobody changes them while the worker runs).
    std::string m_strUrl;
    std::string m_strLocalFile;
    std::string m_strUserAgent;  // empty: the application's name
    int m_nAccessType = 0;       // 0 preconfigured, 1 direct, 2 the proxy in m_strProxy
    std::string m_strProxy;
    std::string m_strProxyUser;
    std::string m_strProxyPassword;
    std::string m_strUser;
    std::string m_strPassword;
    bool m_bPromptProxyLogin = true;
    bool m_bSizeOnly = false;  // no body is read and any status is accepted
    bool m_bSendRange = true;
    uint32_t m_dwRangeStart = 0;  // first byte wanted; > 0 appends to an existing file
    uint32_t m_dwRangeEnd = 0;    // last byte wanted (inclusive)
    // Transfers slower than this for that long fail with the time-limit error.
    uint32_t m_dwRateFloor = inet::kRateFloorBytesPerSecond;
    uint32_t m_dwRateFloorSeconds = inet::kRateFloorSeconds;

    // Status code of the last run's final response; 0 when none came.
    uint32_t GetStatusCode() const { return m_dwStatusCode; }

    // Split from m_strUrl at dialog start, for display and the connection.
    const std::string& Server() const { return m_strServer; }
    const std::string& Object() const { return m_strObject; }
    uint16_t Port() const { return m_nPort; }
    const std::string& FileName() const { return m_strFileName; }

    void OnInitDialog(IProgressView& view) override;
    void OnCancel() override;

    // Operations in the engine's slot order.
    virtual void ReportError(unsigned nMessageId, uint32_t dwError);
    virtual void ReportErrorId(unsigned nMessageId);
    void RunTransfer() override;
    void ShowPercent(int nPercent) override;
    virtual void ShowTimeLeft(uint32_t dwSeconds, uint32_t dwDone, uint32_t dwTotal);
    virtual void ShowProgressRange(uint32_t dwTotal);
    void ShowProgressPos(uint32_t dwDone) override;
    virtual void ShowStatusArg(unsigned nId, const std::string& text);
    virtual void ShowStatusId(unsigned nId);
    virtual void ShowStatus(const std::string& text);
    virtual void ShowRate(double dRate);
    virtual void StartAnimation();
    virtual void UpdateProgress(uint32_t dwStartTick, uint32_t& dwLastTick, uint32_t dwDone,
                                uint32_t& dwLastBytes, int& nLastPercent, bool bSizeKnown,
                                uint32_t dwTotal);

    // The session's status notifications (on the worker, inside library calls).
    void OnStatusCallback(uint32_t dwStatus, const std::string& info);

protected:
    void CloseHandles() override;

private:
    bool SplitUrl();
    // The run ended as asked: its connection may carry the next run.
    void Done();
    // Records the error of a failed library call for ReportError(id, 0).
    void Failed(uint32_t error, std::string text) {
        m_dwLastError = error;
        m_strLastErrorText = std::move(text);
    }
    // The send loop; false when it reported a failure.
    bool SendRequest();
    // The steps of RunTransfer; each false when the run has ended and was reported.
    bool OpenRequest();
    bool LearnSize(bool ranged, bool& sizeKnown, uint32_t& total);
    void CopyBody(bool ranged, bool sizeKnown, uint32_t total);
    // A ranged answer must be exactly the range asked, in plain bytes; false when it reported.
    bool CheckRangedResponse();

    std::string m_strServer;
    std::string m_strObject;
    uint16_t m_nPort = 0;
    std::string m_strFileName;
    uint32_t m_dwLastError = 0;      // worker only
    std::string m_strLastErrorText;  // worker only
    uint32_t m_dwStatusCode = 0;     // worker writes; read after the run
    bool m_bClean = false;           // worker writes; read at teardown, after the join

    // The session object lives from dialog start to teardown, so Cancel can interrupt a
    // blocking call; the worker opens it and makes the connection and request. A run that
    // ended cleanly leaves it to the next run of this object, which reuses its connection.
    std::unique_ptr<inet::HttpSession> m_hSession;
    std::unique_ptr<inet::HttpConnection> m_hConnection;
    std::unique_ptr<inet::HttpRequest> m_hRequest;
};

}  // namespace fennic
