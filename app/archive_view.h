#pragma once
// What the main window keeps about the listed archive, without any toolkit: the engine, the
// archive path and whether that path is our own temporary tail file, with the three
// operations that the listing and extraction roads call.
//
//   OpenArchive(fe)    opens the archive path; asks to retry when no central directory is
//                      found, shows "Open failed" otherwise ("ZIP64 archives are not
//                      supported" for those); true when the archive is open.
//   FillEntryList()    the rows of the entry table in engine order, eight cells each.
//   CloseArchive(fe)   closes the engine, "Close failed" on error; after a failed open it
//                      closes with the after-error flag so the file is released.

#include <string>
#include <vector>

#include "app/entry_columns.h"
#include "app/frontend.h"
#include "zip/zip_engine.h"

namespace fennic {

extern const char kDirNotFoundQuestion[];
extern const char kOpenFailedText[];
extern const char kZip64Text[];
extern const char kCloseFailedText[];

class CArchiveView {
public:
    CArchiveView() = default;
    CArchiveView(const CArchiveView&) = delete;
    CArchiveView& operator=(const CArchiveView&) = delete;
    virtual ~CArchiveView() = default;

    const std::string& GetArchivePath() const { return m_strArchivePath; }
    // `isTailFile`: the path names a temporary tail file that this object owns.
    void SetArchivePath(const std::string& path, bool isTailFile);
    bool IsTailFile() const { return m_bTailFile; }
    // Deletes the path when it is our tail file (a missing file is no error) and forgets it.
    void DeleteTailFile();

    // Returns true when the archive is open afterwards.
    bool OpenArchive(IFrontEnd& frontEnd);
    // The last OpenArchive failed: the engine may still hold the file, yet lists nothing.
    bool LastOpenFailed() const { return m_bLastOpenFailed; }
    // Why the last OpenArchive failed, in plain words (the system's text for the file, or that
    // it is not a ZIP archive), for front ends that show more than the message; may be empty.
    const std::string& LastOpenCause() const { return m_strOpenCause; }
    std::vector<EntryRow> FillEntryList() const;
    // Returns false when the close raised (the message has then been shown).
    bool CloseArchive(IFrontEnd& frontEnd);

    CZipEngine& Engine() { return m_archive; }
    const CZipEngine& Engine() const { return m_archive; }

    // ZipOpenExisting, as the window opens; the command line reads only.
    void SetOpenMode(int mode) { m_openMode = mode; }

private:
    std::string m_strArchivePath;
    bool m_bTailFile = false;
    CZipEngine m_archive;
    int m_openMode = ZipOpenExisting;
    int m_spanOption = 0;  // the volume size of the archive options
    bool m_bLastOpenFailed = false;
    std::string m_strOpenCause;
};

}  // namespace fennic
