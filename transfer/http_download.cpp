#include "transfer/http_download.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/frontend.h"
#include "app/strings.h"
#include "app/text_convert.h"
#include "inet/content_range.h"
#include "inet/errors.h"
#include "inet/http_text.h"
#include "inet/url.h"

namespace fennic {
namespace {

constexpr size_t kDiscardBlock = 50;
// The most of an authentication answer's body read to keep its connection for the retry.
constexpr size_t kDiscardLimit = 64 * 1024;

// Certificate and TLS failures get their cause spelled out after the number.
std::string ErrorCodeText(uint32_t error) {
    std::string text = std::to_string(error);
    switch (error) {
        case inet::kErrorCertDateInvalid:
        case inet::kErrorCertNameInvalid:
        case inet::kErrorInvalidCa:
        case inet::kErrorSecureChannel:
            text += std::string(" (") + inet::ErrorText(error) + ")";
            break;
        default:
            break;
    }
    return text;
}

// "bytes START-END/TOTAL" naming exactly the range asked; TOTAL may be "*".
bool ContentRangeIs(const std::string& value, uint32_t start, uint32_t end, uint64_t& total) {
    inet::ContentRange range;
    if (!inet::ParseContentRange(value, range) || range.first != start || range.last != end)
        return false;
    total = range.totalKnown ? range.total : 0;
    return true;
}

}  // namespace

CHttpDownloadDlg::CHttpDownloadDlg(IProgressHost& host) : CTransferDlgBase(host, kHttpTexts) {}

CHttpDownloadDlg::~CHttpDownloadDlg() = default;

bool CHttpDownloadDlg::SplitUrl() {
    inet::UrlParts parts;
    if (!inet::SplitUrl(m_strUrl, parts)) return false;
    m_strServer = parts.host;
    m_strObject = parts.path;
    m_nPort = parts.port;
    return true;
}

void CHttpDownloadDlg::OnInitDialog(IProgressView& view) {
    m_view = &view;
    m_bAbort = false;  // a run after a cancelled one starts afresh
    if (!SplitUrl()) {
        m_strUrl = "http://" + m_strUrl;
        if (!SplitUrl()) return view.EndDialog(IDCANCEL);
    }
    if (const int err = m_file.Open(m_strLocalFile, m_dwRangeStart == 0)) {
        ShowMessage(FormatMessageId(131, std::to_string(err)), MB_OK | MB_ICONEXCLAMATION);
        return view.EndDialog(IDCANCEL);
    }
    if (const int err = m_file.SeekToEnd()) {
        ShowMessage(FormatMessageId(133, std::to_string(err)), MB_OK | MB_ICONEXCLAMATION);
        return view.EndDialog(IDCANCEL);
    }
    // The name shown: the path's last segment, with its query, whose secrets are masked.
    const std::string shown = inet::WithoutSecretQuery(m_strObject);
    const size_t query = shown.find('?');
    size_t slash = shown.rfind('/', query);
    if (slash == std::string::npos) slash = shown.rfind('\\', query);
    if (slash != std::string::npos && shown.size() > 1)
        m_strFileName = shown.substr(slash + 1);
    else
        m_strFileName = shown;
    view.SetText(IDC_FILESTATUS, FormatMessageId(102, m_strFileName, m_strServer));
    // A session kept from the last run brings its connection along.
    if (!m_hSession) m_hSession = std::make_unique<inet::HttpSession>();
    if (!StartWorker()) view.EndDialog(IDCANCEL);
}

void CHttpDownloadDlg::OnCancel() {
    CTransferDlgBase::OnCancel();
    // Ends a blocking call at once instead of after the server's next bytes.
    if (m_hSession) m_hSession->Cancel();
}

void CHttpDownloadDlg::CloseHandles() {
    if (m_hRequest) m_hRequest->Close();
    m_hRequest.reset();
    m_hConnection.reset();
    // After a failure or Cancel nobody knows what the connection still carries: it goes with
    // its session, and the next run connects afresh.
    if (m_bClean && !m_bAbort) return;
    if (m_hSession) m_hSession->Close();
    m_hSession.reset();
}

void CHttpDownloadDlg::ReportError(unsigned nMessageId, uint32_t dwError) {
    const bool recorded = dwError == 0 || dwError == m_dwLastError;
    if (dwError == 0) dwError = m_dwLastError;
    SetCause(dwError, recorded ? m_strLastErrorText : std::string(), m_strServer);
    m_strError = FormatMessageId(nMessageId, ErrorCodeText(dwError));
    m_file.CloseAndDelete();
    PostCompletion(1);
}

void CHttpDownloadDlg::ReportErrorId(unsigned nMessageId) {
    m_strError = LoadString(nMessageId);
    PostCompletion(1);
}

void CHttpDownloadDlg::ShowPercent(int nPercent) {
    ShowCaptionPercent(nPercent, m_strFileName);
}

void CHttpDownloadDlg::ShowTimeLeft(uint32_t dwSeconds, uint32_t dwDone, uint32_t dwTotal) {
    CTransferDlgBase::ShowTimeLeft(dwSeconds, dwDone, dwTotal);
}

void CHttpDownloadDlg::ShowProgressRange(uint32_t dwTotal) {
    ShowBarRange(HttpProgressUpper(dwTotal));
}

void CHttpDownloadDlg::ShowProgressPos(uint32_t dwDone) {
    ShowBarPos(HttpProgressPos(dwDone));
}

void CHttpDownloadDlg::ShowStatusArg(unsigned nId, const std::string& text) {
    CTransferDlgBase::ShowStatusArg(nId, text);
}

void CHttpDownloadDlg::ShowStatusId(unsigned nId) {
    CTransferDlgBase::ShowStatusId(nId);
}

void CHttpDownloadDlg::ShowStatus(const std::string& text) {
    CTransferDlgBase::ShowStatus(text);
}

void CHttpDownloadDlg::ShowRate(double dRate) {
    CTransferDlgBase::ShowRate(dRate);
}

void CHttpDownloadDlg::StartAnimation() {
    CTransferDlgBase::StartAnimation();
}

void CHttpDownloadDlg::UpdateProgress(uint32_t dwStartTick, uint32_t& dwLastTick, uint32_t dwDone,
                                      uint32_t& dwLastBytes, int& nLastPercent, bool bSizeKnown,
                                      uint32_t dwTotal) {
    SetProgressFacts(dwDone, bSizeKnown ? dwTotal : 0);
    StepProgressView(dwStartTick, dwLastTick, dwDone, dwLastBytes, nLastPercent, bSizeKnown,
                     dwTotal, true);
}

void CHttpDownloadDlg::OnStatusCallback(uint32_t dwStatus, const std::string& info) {
    if (const unsigned id = ConnectStatusTextId(dwStatus, 103)) return ShowStatusArg(id, info);
    if (dwStatus == inet::kStatusRedirect) {
        // The server's Location: it may carry a password, and any bytes at all.
        ShowStatusArg(107, TerminalText(inet::WithoutSecrets(info)));
    }
}

bool CHttpDownloadDlg::SendRequest() {
    const std::string headers =
        m_bSendRange ? inet::RangeHeader(m_dwRangeStart, m_dwRangeEnd) : std::string();
    bool serverCredentialsSent = false, proxyCredentialsSent = false;
    std::string promptUser = m_strProxyUser, promptPassword = m_strProxyPassword;
    for (;;) {
        if (!m_hRequest->Send(headers, !m_bSizeOnly)) {
            Failed(m_hRequest->LastError(), m_hRequest->LastErrorText());
            ReportError(111, 0);
            return false;
        }
        uint32_t status = 0;
        if (!m_hRequest->QueryStatusCode(status)) {
            ReportErrorId(112);
            return false;
        }
        m_dwStatusCode = status;
        if (status == 407 || status == 401) {
            // A body past the limit stays unread: the next Send, or the end of the run, drops
            // the request and its connection with it.
            char discard[kDiscardBlock];
            size_t got = 0, discarded = 0;
            while (discarded < kDiscardLimit && m_hRequest->Read(discard, sizeof discard, got) &&
                   got > 0) {
                discarded += got;
            }
            bool again = false;
            if (status == 407 && !m_strProxyUser.empty()) {
                // Configured credentials are tried once; a second 407 means they are wrong.
                if (!proxyCredentialsSent) {
                    m_hRequest->SetProxyCredentials(m_strProxyUser, m_strProxyPassword);
                    again = proxyCredentialsSent = true;
                }
            } else if (status == 407 && m_bPromptProxyLogin) {
                bool retry = false;
                m_view->Send([&] { retry = m_view->PromptProxyLogin(promptUser, promptPassword); });
                if (retry && !m_bAbort) {
                    m_hRequest->SetProxyCredentials(promptUser, promptPassword);
                    again = true;
                }
            } else if (status == 401 && !m_strUser.empty()) {
                if (!serverCredentialsSent) {
                    m_hRequest->SetCredentials(m_strUser, m_strPassword);
                    again = serverCredentialsSent = true;
                }
            }
            if (m_bAbort) {
                Stop();
                return false;
            }
            if (again) continue;
            // No (more) credentials to offer: the answer stands as it is, and outside
            // size-only mode an authentication answer is no valid response.
        }
        if (m_bSizeOnly || status == 206) return true;
        // No call failed: the status is the cause, and the roads name it themselves. (The text
        // has no place for a number.)
        Failed(0, std::string());
        ReportError(113, 0);
        return false;
    }
}

bool CHttpDownloadDlg::CheckRangedResponse() {
    std::string range, coding;
    uint64_t length = 0;
    const uint64_t wanted = uint64_t{m_dwRangeEnd} - m_dwRangeStart + 1;
    // We never ask for an encoding, so coded bytes are no bytes of the file.
    const bool encoded =
        m_hRequest->QueryHeader("Content-Encoding", coding) && !inet::IsIdentityCoding(coding);
    if (!m_hRequest->QueryHeader("Content-Range", range) ||
        !ContentRangeIs(range, m_dwRangeStart, m_dwRangeEnd, m_version.size) || encoded ||
        (m_hRequest->QueryContentLength(length) && length != wanted)) {
        ReportError(113, inet::kErrorInvalidServerResponse);
        return false;
    }
    return true;
}

void CHttpDownloadDlg::Done() {
    m_bClean = true;
    PostCompletion(0);
}

bool CHttpDownloadDlg::OpenRequest() {
    m_bClean = false;
    m_dwLastError = 0;
    m_strLastErrorText.clear();
    m_dwStatusCode = 0;
    // Bytes 0 to 4294967295 are 2^32 of them, one more than our 32-bit sizes can count.
    if (m_bSendRange && !m_bSizeOnly && m_dwRangeStart == 0 && m_dwRangeEnd == UINT32_MAX) {
        return ReportError(110, inet::kErrorInvalidOption), false;
    }
    const std::string agent = m_strUserAgent.empty() ? ApplicationName() : m_strUserAgent;
    if (!m_hSession->Open(agent, m_nAccessType, m_strProxy)) {
        Failed(m_hSession->LastError(), m_hSession->LastErrorText());
        return ReportError(110, 0), false;
    }
    if (m_bAbort) return Stop(), false;
    m_hSession->SetRateFloor(m_dwRateFloor, m_dwRateFloorSeconds);
    m_hSession->SetStatusCallback(
        [this](uint32_t status, const std::string& info) { OnStatusCallback(status, info); });
    if (m_bAbort) return Stop(), false;
    const bool withUser = !m_strUser.empty();
    m_hConnection = m_hSession->Connect(m_strServer, m_nPort, withUser ? m_strUser : "",
                                        withUser ? m_strPassword : "");
    if (!m_hConnection) {
        Failed(m_hSession->LastError(), m_hSession->LastErrorText());
        return ReportError(111, 0), false;
    }
    if (m_bAbort) return Stop(), false;
    StartAnimation();
    // TLS follows the port alone; the peer's certificate is checked in full.
    m_hRequest = m_hConnection->OpenRequest(m_strObject, m_nPort == 443);
    if (!m_hRequest) {
        Failed(m_hConnection->LastError(), m_hConnection->LastErrorText());
        return ReportError(111, 0), false;
    }
    if (m_bAbort) return Stop(), false;
    return true;
}

bool CHttpDownloadDlg::LearnSize(bool ranged, bool& sizeKnown, uint32_t& total) {
    uint64_t length = 0;
    if (m_hRequest->QueryContentLength(length)) {
        if (length > UINT32_MAX) return ReportError(113, 0), false;  // beyond 32-bit sizes
        total = static_cast<uint32_t>(length);
        sizeKnown = true;
        ShowProgressRange(total);
        m_dwFileSize = total;
        if (!ranged) m_version.size = total;
        if (m_bSizeOnly) {
            m_file.Close();
            return Done(), false;
        }
    } else if (!ranged) {
        const uint32_t queryError = m_hRequest->LastError();
        uint64_t end = 0;
        if (!m_hRequest->SeekToEnd(end) || end > UINT32_MAX) {
            if (m_bAbort) return Stop(), false;
            return ReportError(134, queryError), false;
        }
        m_dwFileSize = static_cast<uint32_t>(end);
        if (!m_hRequest->SeekToBegin()) {
            if (m_bAbort) return Stop(), false;
            Failed(m_hRequest->LastError(), m_hRequest->LastErrorText());
            return ReportError(114, 0), false;
        }
        if (m_bSizeOnly) {
            m_file.Close();
            return Done(), false;
        }
    }
    return true;
}

void CHttpDownloadDlg::RunTransfer() {
    m_version = {};
    if (!OpenRequest() || !SendRequest()) return;
    inet::ReadValidators(*m_hRequest, m_version);
    const bool ranged = m_bSendRange && !m_bSizeOnly;
    if (ranged && !CheckRangedResponse()) return;
    ShowStatusId(108);
    bool sizeKnown = false;
    uint32_t total = 0;
    if (!LearnSize(ranged, sizeKnown, total)) return;
    ShowStatusId(116);
    CopyBody(ranged, sizeKnown, total);
}

void CHttpDownloadDlg::CopyBody(bool ranged, bool sizeKnown, uint32_t total) {
    // A ranged body is read up to its length, and then one byte more must not come.
    const uint64_t wanted = ranged ? uint64_t{m_dwRangeEnd} - m_dwRangeStart + 1 : 0;
    const uint32_t t0 = m_clock();
    uint32_t done = 0, lastTick = t0, lastBytes = 0;
    int lastPercent = 0;
    std::vector<char> buffer(kReadBlock);
    for (;;) {
        size_t got = 0;
        const size_t ask =
            ranged ? std::max<uint64_t>(1, std::min<uint64_t>(buffer.size(), wanted - done))
                   : buffer.size();
        if (!m_hRequest->Read(buffer.data(), ask, got)) {
            // A read cut short by Cancel is a stop like any other after Cancel.
            if (m_bAbort) break;
            Failed(m_hRequest->LastError(), m_hRequest->LastErrorText());
            return ReportError(114, 0);
        }
        if (ranged && !m_bAbort && got > 0 && done == wanted) {
            return ReportError(114, inet::kErrorInvalidServerResponse);
        }
        if (ranged && !m_bAbort && got == 0 && done < wanted) {
            return ReportError(114, inet::kErrorConnectionAborted);
        }
        if (got > 0 && !m_bAbort) {
            if (const int err = m_file.Write(buffer.data(), got)) return ReportError(114, err);
        }
        const uint32_t from = done;
        done += static_cast<uint32_t>(got);
        StepProgress(from, done, [&](uint32_t at) {
            UpdateProgress(t0, lastTick, at, lastBytes, lastPercent, sizeKnown, total);
        });
        if (got == 0 || m_bAbort) break;
    }
    if (!sizeKnown) m_dwFileSize = done;
    m_file.Close();
    if (m_bAbort) return Stop();
    Done();
}

}  // namespace fennic
