// "Get": the remote archive's size, its last 22 bytes and its central directory, each by one
// run of one transfer object, then the listing of the tail file.

#include <unistd.h>

#include <string>

#include "app/archive_view.h"
#include "app/frontend.h"
#include "app/settings.h"
#include "app/strings.h"
#include "remote/classic/end_record_reader.h"
#include "remote/classic/remote_host.h"
#include "remote/entry_archive.h"
#include "remote/remote_session.h"
#include "remote/transfer_runs.h"
#include "transfer/ftp_transfer.h"
#include "transfer/http_download.h"

namespace fennic::remote {

extern const char kFilesListDownloaded[] = "Files list has been downloaded";
extern const char kFtpNoEndRecord[] = "Hmm ..it seems that InetApi's can't deal with this server";
// This road reads the last 22 bytes only; the command line's default reads any end.
const char kNoEndRecordNote[] =
    "no end record in the last 22 bytes: not a ZIP archive, or one with a comment (fennic "
    "list without --classic reads those)";
extern const char kArchiveChangedNote[] = "the archive changed on the server during the run";
extern const char kHttpNoEndRecord[] =
    "The archive's end record is not in its last 22 bytes: the archive has a comment, or it "
    "is not a ZIP archive. No list can be shown.";

namespace {

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

// A file name in the private temporary folder; empty (with the reason noted) without one.
std::string NewTempPath(IRemoteHost& host) {
    const std::string dir = GetTempPath();
    if (dir.empty()) {
        host.Note(TempPathProblem());
        return {};
    }
    return dir + host.Settings().MakeTempName();
}

enum class EndRecordRead { kFound, kNotThere, kRefused };

// The central directory offset read from the probe file, when it is an end record that can
// belong to an archive of `size` bytes. kRefused: an end record this road cannot use, noted.
EndRecordRead ReadCentralDirOffset(IRemoteHost& host, const std::string& probe, uint32_t size,
                                   uint32_t& offset) {
    CEndRecordReader reader(probe, host.FrontEnd());
    if (!reader.HasSignature()) return EndRecordRead::kNotThere;
    offset = reader.GetRawCentralDirOffset();
    if (offset == UINT32_MAX) {
        // The 64-bit marker: the real offset is in a record this road does not read.
        host.Note(kZip64Text);
        return EndRecordRead::kRefused;
    }
    if (offset > size - kEndRecordFixedSize) {
        host.Note("the end record's central directory offset lies outside the archive");
        return EndRecordRead::kRefused;
    }
    return EndRecordRead::kFound;
}

// Steps 7 and 8 of both fetches: the tail file becomes the listed archive.
void ListTailFile(IRemoteHost& host, const std::string& tail, bool complete) {
    if (complete) host.FrontEnd().MessageBox(kFilesListDownloaded, "", MB_OK);
    CArchiveView& view = host.Archive();
    view.SetArchivePath(tail, true);
    view.OpenArchive(host.FrontEnd());
    host.FillEntryList();
    view.CloseArchive(host.FrontEnd());
}

// After each run of a listing: its answers must show the archive the first run found, or the
// list would be drawn from two archives. The window's text for a failed listing follows.
template <class Dialog>
bool SameArchive(IRemoteHost& host, const Dialog& dlg, const inet::ResourceVersion& first) {
    if (inet::SameVersion(first, dlg.GetVersion())) return true;
    host.Note(kArchiveChangedNote);
    host.FrontEnd().MessageBox(kInvalidZipArchive, "", MB_OK);
    return false;
}

// A remote file shorter than an end record: said in words, then the road's own text.
int TooShort(IRemoteHost& host, uint32_t size, const char* text) {
    host.Note("the remote file is " + std::to_string(size) +
              " bytes long, too short for an archive");
    host.FrontEnd().MessageBox(text, "", MB_OK);
    return 0;
}

// Steps 6 to 8 of both fetches: the directory to the archive's end into a new tail file, which
// is listed even when the run failed (the entries that came are shown).
template <class Dialog, class NoteFailure>
int FetchDirectory(IRemoteHost& host, Dialog& dlg, const std::string& probe, uint32_t centralDir,
                   uint32_t size, bool& complete, NoteFailure noteFailure) {
    RemoveFile(probe);
    const inet::ResourceVersion first = host.Session().version;
    const std::string tail = NewTempPath(host);
    dlg.m_strLocalFile = tail;
    dlg.m_dwRangeStart = centralDir;
    dlg.m_strPhase = "central directory";
    dlg.m_bQuietProgress = false;
    dlg.m_dwRangeEnd = size - 1;
    complete = dlg.DoModal() == IDOK;
    if (!complete) noteFailure(host, dlg);
    if (!SameArchive(host, dlg, first)) {
        complete = false;
        RemoveFile(tail);
        return 0;
    }
    ListTailFile(host, tail, complete);
    return 1;
}

int HttpFetch(IRemoteHost& host, const std::string& url, bool& complete) {
    const std::string probe = NewTempPath(host);
    if (probe.empty()) return 0;
    RemoveFile(probe);
    CHttpDownloadDlg dlg(host.ProgressHost());
    FillHttpRequest(dlg, host, url, probe);
    dlg.m_bPromptProxyLogin = true;
    dlg.m_dwRangeStart = 0;
    dlg.m_dwRangeEnd = 0;

    RemoveFile(probe);
    dlg.m_bSizeOnly = true;
    dlg.m_strPhase = "archive size";
    dlg.m_bSendRange = false;
    if (dlg.DoModal() != IDOK) return NoteHttpFailure(host, dlg), 0;
    host.Session().version = dlg.GetVersion();

    const uint32_t size = dlg.GetRemoteFileSize();
    if (size < kEndRecordFixedSize) {
        // A short error page says no more about the archive than a long one would: the
        // refusal is what the user must hear about.
        if (dlg.GetStatusCode() >= 400) {
            host.FrontEnd().MessageBox(LoadString(113), "", MB_OK);
            NoteHttpFailure(host, dlg);
            return 0;
        }
        return TooShort(host, size, kHttpNoEndRecord);
    }
    dlg.m_bSizeOnly = false;
    dlg.m_bSendRange = true;
    dlg.m_dwRangeStart = size - kEndRecordFixedSize;
    dlg.m_strPhase = "end record";
    dlg.m_bQuietProgress = true;  // 22 bytes
    dlg.m_dwRangeEnd = size - 1;
    if (dlg.DoModal() != IDOK) return NoteHttpFailure(host, dlg), 0;
    if (!SameArchive(host, dlg, host.Session().version)) return 0;

    uint32_t centralDir = 0;
    const EndRecordRead read = ReadCentralDirOffset(host, probe, size, centralDir);
    if (read != EndRecordRead::kFound) {
        // Without a word the window would look just like an empty archive.
        if (read == EndRecordRead::kNotThere) {
            host.FrontEnd().MessageBox(kHttpNoEndRecord, "", MB_OK);
            host.Note(kNoEndRecordNote);
        }
        return 0;
    }
    return FetchDirectory(host, dlg, probe, centralDir, size, complete, NoteHttpFailure);
}

int FtpFetch(IRemoteHost& host, bool& complete) {
    const std::string probe = NewTempPath(host);
    if (probe.empty()) return 0;
    CFTPTransferDlg dlg(host.ProgressHost());
    FillFtpRequest(dlg, host, probe);
    dlg.m_dwRangeStart = 0;

    RemoveFile(probe);
    dlg.m_bSizeOnly = true;
    dlg.m_strPhase = "archive size";
    if (dlg.DoModal() != IDOK) return NoteFailureCause(host, dlg), 0;
    host.Session().version = dlg.GetVersion();

    RemoveFile(probe);
    dlg.m_bSizeOnly = false;
    const uint32_t size = dlg.GetRemoteFileSize();
    if (size < kEndRecordFixedSize) {
        return TooShort(host, size, kFtpNoEndRecord);
    }
    dlg.m_dwRangeEnd = size - 1;
    dlg.m_bRangeOnly = true;
    dlg.m_dwRangeStart = size - kEndRecordFixedSize;
    dlg.m_strPhase = "end record";
    dlg.m_bQuietProgress = true;  // 22 bytes
    if (dlg.DoModal() != IDOK) return NoteFailureCause(host, dlg), 0;
    if (!SameArchive(host, dlg, host.Session().version)) return 0;

    uint32_t centralDir = 0;
    if (const EndRecordRead read = ReadCentralDirOffset(host, probe, size, centralDir);
        read != EndRecordRead::kFound) {
        host.FrontEnd().MessageBox(kFtpNoEndRecord, "", MB_OK);
        if (read == EndRecordRead::kNotThere) host.Note(kNoEndRecordNote);
        RemoveFile(probe);
        return 0;
    }
    return FetchDirectory(host, dlg, probe, centralDir, size, complete, NoteFailureCause);
}

}  // namespace

int Get(IRemoteHost& host, bool* listComplete) {
    bool complete = false;
    if (listComplete) *listComplete = false;
    const std::string url = host.UrlText();
    RemoteSession& session = host.Session();
    if (!SplitAddress(url, host.Settings(), host.FrontEnd(), session)) return 0;
    host.Archive().DeleteTailFile();
    int reached = 0;
    if (session.serviceType == kServiceHttp) reached = HttpFetch(host, url, complete);
    if (session.serviceType == kServiceFtp) reached = FtpFetch(host, complete);
    if (listComplete) *listComplete = complete;
    return reached;
}

}  // namespace fennic::remote
