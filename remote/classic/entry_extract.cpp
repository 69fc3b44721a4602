// "Extract": one entry of the listed archive, fetched with one byte range and saved as a
// one-entry archive.

#include <unistd.h>

#include <string>
#include <vector>

#include "app/archive_view.h"
#include "app/frontend.h"
#include "app/settings.h"
#include "remote/classic/remote_host.h"
#include "remote/entry_archive.h"
#include "remote/entry_archive_file.h"
#include "remote/proxy_fields.h"
#include "remote/remote_session.h"
#include "remote/transfer_runs.h"

namespace fennic::remote {

extern const char kInvalidZipArchive[] = "Invalid Zip Archive";

namespace {

// What the extraction needs of the listed archive, copied while it is open.
struct ListedEntry {
    CZipEntryHeader header;
    uint64_t start = 0;  // of the local header in the remote file
    std::vector<uint64_t> localOffsets;
    uint64_t centralDirOffset = 0;
    uint32_t diskNumber = 0;
    uint32_t centralDirDisk = 0;
};

bool ReadListedEntry(IRemoteHost& host, int index, ListedEntry& out) {
    CArchiveView& view = host.Archive();
    const bool open = view.OpenArchive(host.FrontEnd());
    bool ok = open && index >= 0 && view.Engine().GetEntryInfo(out.header, index);
    if (ok) {
        const CZipDirectory& dir = view.Engine().GetDirectory();
        out.diskNumber = dir.GetDiskNumber();
        out.centralDirDisk = dir.GetCentralDirDisk();
        // Bytes in front of the archive (a self-extractor's stub) whose offsets the maker did
        // not adjust: the tail file starts at the stored directory offset, so the engine's
        // start shift plus that offset is the shift in the remote file (0 for most archives).
        // This road's offsets are 32-bit and so is the shift.
        const auto shift =
            static_cast<uint32_t>(dir.GetBytesBeforeArchive() + dir.GetCentralDirOffset());
        auto shifted = [&](uint64_t offset) {
            const uint64_t real = offset + shift;
            ok = ok && real <= UINT32_MAX;
            return real;
        };
        out.start = shifted(out.header.LocalHeaderOffset());
        out.centralDirOffset = shifted(dir.GetCentralDirOffset());
        out.localOffsets = dir.LocalHeaderOffsets(shift);
        for (const uint64_t offset : out.localOffsets) ok = ok && offset <= UINT32_MAX;
    }
    view.CloseArchive(host.FrontEnd());
    return ok;
}

}  // namespace

int ExtractEntry(IRemoteHost& host, int index, const std::string& destPath) {
    return ExtractEntry(host, index, fs::OutputTarget::Path(destPath));
}

int ExtractEntry(IRemoteHost& host, int index, const fs::OutputTarget& dest) {
    const std::string url = host.UrlText();
    const RemoteSession& session = host.Session();
    if (session.serviceType != kServiceHttp && session.serviceType != kServiceFtp) return 0;

    ListedEntry listed;
    if (!ReadListedEntry(host, index, listed)) return 0;
    const auto span =
        EntryFetchSpan(listed.header, listed.start, listed.localOffsets, listed.centralDirOffset);
    if (!span) {
        host.Note("the entry's local header offset lies at or behind the central directory");
        return 0;
    }

    const std::string tempDir = GetTempPath();
    if (tempDir.empty()) {
        host.Note(TempPathProblem());
        return 0;
    }
    // A name drawn in the same second as a failed extraction's would append to its leftovers.
    const std::string fetched = tempDir + host.Settings().MakeTempName();
    ::unlink(fetched.c_str());
    const std::string phase = EntryNameUtf8(listed.header);
    const bool done = session.serviceType == kServiceHttp
                          ? FetchHttpRange(host, url, fetched, *span, phase)
                          : FetchFtpRange(host, fetched, *span, phase);
    if (!done) {
        ::unlink(fetched.c_str());
        return 0;
    }

    const SaveResult saved =
        SaveEntryArchive(fetched, listed.header, listed.diskNumber, listed.centralDirDisk, dest);
    ::unlink(fetched.c_str());
    if (!saved.ok) {
        // The window has always shown the bare errno when the file could not be made.
        if (saved.error != 0 && saved.OutputNotOpened())
            host.FrontEnd().MessageBox(std::to_string(saved.error), "", MB_OK);
        host.Note(saved.why + (saved.error ? " (errno " + std::to_string(saved.error) + ")" : ""));
        return 0;
    }
    return 1;
}

void OnExtractCommand(IRemoteHost& host, int selectedIndex, const std::string& itemText) {
    if (selectedIndex < 0) return;
    std::string path;
    if (!host.PromptZipFileName(path, ProposeZipName(itemText))) return;
    if (ExtractEntry(host, selectedIndex, path) == 0)
        host.FrontEnd().MessageBox(kInvalidZipArchive, "", MB_OK);
}

}  // namespace fennic::remote
