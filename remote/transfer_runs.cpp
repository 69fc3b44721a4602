#include "remote/transfer_runs.h"

#include "app/frontend.h"
#include "inet/http_text.h"
#include "inet/url.h"
#include "remote/classic/remote_host.h"
#include "remote/proxy_fields.h"
#include "remote/remote_session.h"
#include "transfer/ftp_transfer.h"
#include "transfer/http_download.h"

namespace fennic::remote {

void FillHttpRequest(CHttpDownloadDlg& dlg, IRemoteHost& host, const std::string& url,
                     const std::string& localFile) {
    FillHttpRequest(dlg, host.Session(), host.Settings(), url, localFile);
}

void FillHttpRequest(CHttpDownloadDlg& dlg, const RemoteSession& session, const CSettings& settings,
                     const std::string& url, const std::string& localFile) {
    const HttpProxyFields proxy = HttpProxyFor(settings);
    dlg.m_strUrl = url;
    dlg.m_strLocalFile = localFile;
    dlg.m_strUserAgent = inet::kUserAgent;
    dlg.m_strUser = session.user;
    dlg.m_strPassword = session.password;
    dlg.m_nAccessType = proxy.accessType;
    dlg.m_strProxy = proxy.proxy;
    dlg.m_strProxyUser = proxy.user;
    dlg.m_strProxyPassword = proxy.password;
}

void FillFtpRequest(CFTPTransferDlg& dlg, IRemoteHost& host, const std::string& localFile) {
    FillFtpRequest(dlg, host.Session(), host.Settings(), localFile);
}

void FillFtpRequest(CFTPTransferDlg& dlg, const RemoteSession& session, const CSettings& settings,
                    const std::string& localFile) {
    dlg.m_strServer = session.server;
    // FTP names files by their own bytes, not by URL escapes (the split refused line breaks).
    dlg.m_strRemoteFile = inet::PercentDecode(session.object);
    dlg.m_strLocalFile = localFile;
    dlg.m_strUser = session.user;
    dlg.m_strPassword = session.password;
    dlg.m_nPort = static_cast<uint16_t>(session.port & 0xFFFF);
    dlg.m_bUseProxy = FtpUseProxy(settings);
    if (dlg.m_bUseProxy) dlg.m_strProxy = FtpProxyFor(settings);
}

namespace {

// These transfers count in 32 bits, as the archives of this road do.
bool FitsTheEngines(ByteSpan span) {
    return span.length != 0 && span.start + (span.length - 1) <= UINT32_MAX;
}

// The run of one filled request over `span`; its failure noted as the scheme notes it.
template <class Dialog, class NoteFailure>
bool RunRange(IRemoteHost& host, Dialog& dlg, ByteSpan span, const std::string& phase,
              NoteFailure noteFailure) {
    dlg.m_strPhase = phase;
    dlg.m_bSizeOnly = false;
    dlg.m_dwRangeStart = static_cast<uint32_t>(span.start);
    dlg.m_dwRangeEnd = static_cast<uint32_t>(span.start + (span.length - 1));
    if (dlg.DoModal() != IDOK) {
        noteFailure(host, dlg);
        return false;
    }
    // The entry's bytes must come from the archive the list was read from.
    if (inet::SameVersion(host.Session().version, dlg.GetVersion())) return true;
    host.Note(kArchiveChangedNote);
    return false;
}

}  // namespace

bool FetchHttpRange(IRemoteHost& host, const std::string& url, const std::string& localFile,
                    ByteSpan span, const std::string& phase) {
    if (!FitsTheEngines(span)) return false;
    CHttpDownloadDlg dlg(host.ProgressHost());
    FillHttpRequest(dlg, host, url, localFile);
    dlg.m_bPromptProxyLogin = false;
    dlg.m_bSendRange = true;
    return RunRange(host, dlg, span, phase, NoteHttpFailure);
}

void NoteFailureCause(IRemoteHost& host, const CTransferDlgBase& dlg) {
    if (!dlg.GetFailureCause().empty()) host.Note(dlg.GetFailureCause());
}

void NoteHttpFailure(IRemoteHost& host, const CHttpDownloadDlg& dlg) {
    NoteFailureCause(host, dlg);
    const uint32_t status = dlg.GetStatusCode();
    if (status == 0 || status == 206 || (dlg.m_bSizeOnly && status < 400)) return;
    if (dlg.m_bSendRange && status == 200) {
        host.Note("the server ignored the byte range (200 instead of 206)");
        return;
    }
    host.Note(inet::ServerAnswered(status));
}

bool FetchFtpRange(IRemoteHost& host, const std::string& localFile, ByteSpan span,
                   const std::string& phase) {
    if (!FitsTheEngines(span)) return false;
    CFTPTransferDlg dlg(host.ProgressHost());
    FillFtpRequest(dlg, host, localFile);
    dlg.m_bRangeOnly = true;
    return RunRange(host, dlg, span, phase, NoteFailureCause);
}

}  // namespace fennic::remote
