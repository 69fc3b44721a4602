#include "app/archive_view.h"

#include <unistd.h>

#include <cstring>

#include "zip/zip_file.h"

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
            m_strOpenCause = e.m_iCause == ZipErrDirNotFound  ? "not a ZIP archive (no end record)"
                             : e.m_iCause == ZipErrBadArchive ? "a damaged ZIP archive"
                                                              : "";
        } catch (const CFileException& e) {
            outcome = kFail;
            m_strOpenCause = e.m_lOsError != 0 ? std::strerror(e.m_lOsError) : "";
        } catch (...) {
            outcome = kFail;
            m_strOpenCause.clear();
        }
        if (outcome == kOpened) {
            m_bLastOpenFailed = false;
            m_strOpenCause.clear();
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
    if (m_archive.IsClosed()) return rows;
    const int count = m_archive.GetEntryCount();
    rows.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<size_t>(i);
        // In place: the cells are made from the stored bytes, so no copy of the record is needed.
        const CZipEntryHeader& header = m_archive.GetDirectory().GetHeader(index);
        rows.push_back(FormatEntryColumns(header, header.IsDirectory()));
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
