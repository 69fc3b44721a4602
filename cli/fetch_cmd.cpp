// fennic fetch: one transfer as the windows run it, with the progress on stderr.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "app/settings.h"
#include "app/text_convert.h"
#include "cli/commands.h"
#include "cli/console_frontend.h"
#include "cli/console_progress.h"
#include "cli/direct_cmd.h"
#include "cli/help.h"
#include "fs/file_io.h"
#include "fs/output_file.h"
#include "inet/http.h"
#include "inet/url.h"
#include "remote/remote_session.h"
#include "remote/transfer_runs.h"
#include "transfer/ftp_transfer.h"
#include "transfer/http_download.h"

namespace fennic::cli {
namespace {

bool ParseOffset(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// The progress line's name for the run: the file's name on the server.
std::string RunName(const RemoteSession& session) {
    const std::string path =
        inet::PercentDecode(session.object.substr(0, session.object.find('?')));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One run; after a failure its cause follows the window's message, as on the roads.
bool Ran(CTransferDlgBase& dlg) {
    if (dlg.DoModal() == IDOK) return true;
    if (!dlg.GetFailureCause().empty()) {
        std::fprintf(stderr, "fennic: %s\n", TerminalText(dlg.GetFailureCause()).c_str());
    }
    return false;
}

int Fail(const char* text) {
    std::fprintf(stderr, "fennic fetch: %s\n", text);
    return 2;
}

// A size run's answer can be a size: an HTTP error page's length is none.
bool SizeRunAccepted(const CHttpDownloadDlg& dlg) {
    const uint32_t status = dlg.GetStatusCode();
    if (status >= 200 && status < 300) return true;
    std::fprintf(stderr, "fennic fetch: the server answered with HTTP status %u\n", status);
    return false;
}
bool SizeRunAccepted(const CFTPTransferDlg&) {
    return true;
}

void AskForRange(CHttpDownloadDlg& dlg) {
    dlg.m_bSendRange = true;
}
void AskForRange(CFTPTransferDlg& dlg) {
    dlg.m_bRangeOnly = true;
}

// Both fetches return the exit status and, on success, the size the server reported. The
// requests are filled as the roads fill theirs, from the session and the settings.
template <class Dialog>
int RunFetch(Dialog& dlg, const std::string& file, uint32_t& size, bool sizeOnly, bool ranged,
             uint32_t start, uint32_t end) {
    dlg.m_bSizeOnly = true;
    if (!sizeOnly) {
        if (!ranged) {
            // The whole resource: its size first, then every byte by one range.
            if (!Ran(dlg) || !SizeRunAccepted(dlg)) return 1;
            ::unlink(file.c_str());  // the next run would ask before overwriting it
            if (dlg.GetRemoteFileSize() == 0) return size = 0, 0;
            start = 0;
            end = dlg.GetRemoteFileSize() - 1;
        }
        dlg.m_bSizeOnly = false;
        AskForRange(dlg);
        dlg.m_dwRangeStart = start;
        dlg.m_dwRangeEnd = end;
    }
    if (!Ran(dlg) || (dlg.m_bSizeOnly && !SizeRunAccepted(dlg))) return 1;
    size = dlg.GetRemoteFileSize();
    return 0;
}

int FetchHttp(IProgressHost& host, const RemoteSession& session, const std::string& url,
              const std::string& file, uint32_t& size, bool sizeOnly, bool ranged, uint32_t start,
              uint32_t end) {
    CHttpDownloadDlg dlg(host);
    remote::FillHttpRequest(dlg, session, Settings(), url, file);
    dlg.m_strPhase = RunName(session);
    dlg.m_bSendRange = false;
    return RunFetch(dlg, file, size, sizeOnly, ranged, start, end);
}

int FetchFtp(IProgressHost& host, const RemoteSession& session, const std::string& file,
             uint32_t& size, bool sizeOnly, bool ranged, uint32_t start, uint32_t end) {
    CFTPTransferDlg dlg(host);
    remote::FillFtpRequest(dlg, session, Settings(), file);
    dlg.m_strPhase = RunName(session);
    return RunFetch(dlg, file, size, sizeOnly, ranged, start, end);
}

// Puts the fetched bytes at FILE ("-": standard output); 0, or 1 with the reason on stderr.
int SaveFetched(const std::string& fetched, const std::string& file) {
    const fs::OutputTarget target = file == "-"
                                        ? fs::OutputTarget::Descriptor(STDOUT_FILENO, "stdout")
                                        : fs::OutputTarget::Path(file);
    fs::OutputFile out;
    fs::OutputStatus s = out.Open(target);
    if (s.ok()) {
        // A run that only learnt a size of 0 may leave no file: FILE becomes empty.
        fs::UniqueFd in = fs::Open(fetched, O_RDONLY);
        if (in)
            s = out.CopyFrom(in.Get());
        else if (errno != ENOENT)
            s = {fs::OutputStep::kSource, errno};
    }
    if (s.ok()) s = out.Commit();
    if (s.ok()) return 0;
    std::fprintf(stderr, "fennic fetch: %s\n", fs::DescribeOutputFailure(s, target.path).c_str());
    return 1;
}

}  // namespace

int CmdFetch(const Args& args) {
    bool sizeOnly = false, ranged = false;
    uint32_t start = 0, end = 0;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            PrintCommandHelp("fetch", stdout);
            return FlushOutput(stdout) ? 0 : 1;
        } else if (a == "--size-only") {
            sizeOnly = true;
        } else if (a == "--range") {
            if (i + 2 >= args.size() || !ParseOffset(args[i + 1], start) ||
                !ParseOffset(args[i + 2], end))
                return Fail("--range takes two byte offsets from 0 to 4294967295");
            ranged = true;
            i += 2;
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail(("unknown option " + a).c_str());
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2) return PrintCommandHelp("fetch", stderr), 2;
    if (sizeOnly && ranged) return Fail("--size-only and --range exclude each other");
    if (ranged && start > end) return Fail("the range's START is after its END");
    const std::string& url = rest[0];
    const std::string& file = rest[1];

    inet::UrlParts parts;
    if (!inet::SplitUrl(url, parts) ||
        (parts.scheme != inet::Scheme::kHttp && parts.scheme != inet::Scheme::kFtp))
        return Fail("URL must be an http:// or ftp:// address");
    if (inet::HasLineBreak(parts)) {
        // Such a path or login would reach the server as commands of its own.
        std::fprintf(stderr, "fennic fetch: %s\n", kLineBreakInAddress);
        return 1;
    }
    if (parts.scheme == inet::Scheme::kFtp && ranged && end == UINT32_MAX)
        return Fail("an ftp range ends at 4294967294 at most");
    // From 0, that end would be 2^32 bytes, one more than a size can count.
    if (parts.scheme == inet::Scheme::kHttp && ranged && start == 0 && end == UINT32_MAX)
        return Fail("an http range from 0 ends at 4294967294 at most");
    if (!inet::InitNetwork()) {
        std::fprintf(stderr, "This program requires Winsock 2.x\n");
        return 1;
    }
    LoadUserSettings();
    // The address as typed: its port, user and password, never a question.
    CConsoleFrontEnd frontEnd;
    CCredentialAnswering answering(frontEnd, CredentialChoice::kUrl, false);
    RemoteSession session;
    if (!SplitAddress(url, Settings(), answering, session)) return 1;
    // The transfer fills a file of our own; FILE is touched only once it has succeeded.
    const std::string tempDir = GetTempPath();
    if (tempDir.empty()) {
        std::fprintf(stderr, "fennic fetch: %s\n", TempPathProblem().c_str());
        return 1;
    }
    const std::string fetched = tempDir + "fetch.part";
    CConsoleProgressHost host(frontEnd);
    uint32_t size = 0;
    int rc = parts.scheme == inet::Scheme::kHttp
                 ? FetchHttp(host, session, url, fetched, size, sizeOnly, ranged, start, end)
                 : FetchFtp(host, session, fetched, size, sizeOnly, ranged, start, end);
    if (rc == 0) rc = SaveFetched(fetched, file);
    ::unlink(fetched.c_str());
    // With FILE "-" standard output carries the bytes, so the size goes to stderr.
    if (rc == 0) std::fprintf(file == "-" ? stderr : stdout, "%u\n", size);
    if (rc == 0 && file != "-" && !FlushOutput(stdout)) rc = 1;
    return rc;
}

}  // namespace fennic::cli
