#pragma once
// The transfer requests of the two roads, filled from the session and the settings, and the
// ranged run of the extraction.

#include <string>

#include "remote/entry_archive.h"

namespace fennic {
class CSettings;
struct RemoteSession;
class CHttpDownloadDlg;
class CFTPTransferDlg;
class CTransferDlgBase;
}  // namespace fennic

namespace fennic::remote {

class IRemoteHost;

// URL, local file, agent, session credentials and the proxy fields; the switches and the
// range are left to the caller.
void FillHttpRequest(CHttpDownloadDlg& dlg, IRemoteHost& host, const std::string& url,
                     const std::string& localFile);
void FillHttpRequest(CHttpDownloadDlg& dlg, const RemoteSession& session, const CSettings& settings,
                     const std::string& url, const std::string& localFile);
// Server, object path, credentials and port of the session, the proxy, the local file.
void FillFtpRequest(CFTPTransferDlg& dlg, IRemoteHost& host, const std::string& localFile);
void FillFtpRequest(CFTPTransferDlg& dlg, const RemoteSession& session, const CSettings& settings,
                    const std::string& localFile);

// For the command line, after a failed run: its cause in plain words (the server that could not
// be resolved or reached, the system's text for a local file), when the run knows one.
void NoteFailureCause(IRemoteHost& host, const CTransferDlgBase& dlg);
// The same, and the HTTP status behind a failed run in one line ("404 Not Found", or that the
// server ignored the range) when the status was the cause.
void NoteHttpFailure(IRemoteHost& host, const CHttpDownloadDlg& dlg);

// One ranged run for the bytes of span into localFile, named `phase` for the progress display;
// true when it completed.
bool FetchHttpRange(IRemoteHost& host, const std::string& url, const std::string& localFile,
                    ByteSpan span, const std::string& phase);

bool FetchFtpRange(IRemoteHost& host, const std::string& localFile, ByteSpan span,
                   const std::string& phase);

}  // namespace fennic::remote
