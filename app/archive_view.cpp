#include "app/archive_view.h"

#include <unistd.h>

namespace fennic {

const char kDirNotFoundQuestion[] =
    "The central directory was not found. If you're opening a multi-disk archive, make sure "
    "you have inserted the last disk. Retry?";
const char kOpenFailedText[] = "Open failed";
const char kZip64Text[] = "ZIP64 archives are not supported";
const char kCloseFailedText[] = "Close failed";

void CArchiveView::SetArchivePath(const std::string& path, bool isTailFile) {
    m_strArchivePath = path;
    m_bTailFile = isTailFile;
}

void CArchiveView::DeleteTailFile() {
    if (m_bTailFile && !m_strArchivePath.empty()) ::unlink(m_strArchivePath.c_str());
    if (m_bTailFile) m_strArchivePath.clear();
    m_bTailFile = false;
}

bool CArchiveView::OpenArchive(IFrontEnd& frontEnd) {
    const std::string path = m_strArchivePath;
    for (;;) {
        enum { kOpened, kRetry, kFail, kZip64 } outcome = kFail;
        try {
            m_archive.Open(path, m_openMode, m_spanOption);
            outcome = kOpened;
        } catch (const CZipException& e) {
            outcome = e.m_iCause == ZipErrDirNotFound ? kRetry
                      : e.m_iCause == ZipErrZip64     ? kZip64
                                                      : kFail;
        } catch (...) {
            outcome = kFail;
        }
        if (outcome == kOpened) {
            m_bLastOpenFailed = false;
            return !m_archive.IsClosed();
        }
        m_bLastOpenFailed = true;
        if (outcome == kRetry &&
            frontEnd.MessageBox(kDirNotFoundQuestion, "", MB_YESNO | MB_ICONSTOP) == IDYES) {
            try {
                m_archive.Close(true);
            } catch (...) {
            }
            continue;
        }
        frontEnd.MessageBox(outcome == kZip64 ? kZip64Text : kOpenFailedText, "",
                            MB_OK | MB_ICONSTOP);
        return false;
    }
}

std::vector<EntryRow> CArchiveView::FillEntryList() const {
    std::vector<EntryRow> rows;
    const int count = m_archive.GetEntryCount();
    for (int i = 0; i < count; ++i) {
        CZipEntryHeader header;
        const auto index = static_cast<uint16_t>(i);
        if (!m_archive.GetEntryInfo(header, index)) continue;
        rows.push_back(FormatEntryColumns(header, m_archive.IsEntryDirectory(index)));
    }
    return rows;
}

bool CArchiveView::CloseArchive(IFrontEnd& frontEnd) {
    // After a failed open only a close with the after-error flag releases the file.
    const bool afterError = m_bLastOpenFailed;
    m_bLastOpenFailed = false;
    try {
        m_archive.Close(afterError);
    } catch (...) {
        frontEnd.MessageBox(kCloseFailedText, "", MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

}  // namespace fennic
