#pragma once
// The engine's file layer: a small file class over POSIX and its exception.

#include <cstdint>
#include <string>

#include "fs/unique_fd.h"
#include "zip/zip_exception.h"

namespace fennic {

class CFileException : public CException {
public:
    // Causes, with the values the file layer has always used (those never raised are gone).
    enum Cause : int {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        diskFull = 13,
    };

    CFileException(int cause, int osError, std::string path);
    const char* what() const noexcept override;

    // The cause that fits an errno value.
    static int CauseFromErrno(int err);

    int m_cause;
    int m_lOsError;  // errno; printed in decimal where a system error number is shown
    std::string m_strFileName;

private:
    std::string m_what;
};

class CFile {
public:
    // Open flags, with the framework's values.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyWrite = 0x0020,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // Opens `path`; false with `error` filled (when given) on failure. "Deny write" takes an
    // advisory lock: shared for a read-only open, exclusive when opened for writing.
    bool Open(const std::string& path, unsigned flags, CFileException* error = nullptr);
    // Like Open, but raises the CFileException.
    void OpenOrThrow(const std::string& path, unsigned flags);

    // Reads up to `count` bytes; fewer only at the end of the file. Raises on a read error.
    uint32_t Read(void* buffer, uint32_t count);
    void Write(const void* buffer, uint32_t count);
    // Moves the position; raises badSeek for a position before the start.
    uint64_t Seek(int64_t offset, SeekPosition from);
    uint64_t GetPosition() const;
    uint64_t GetLength() const;
    void Close();
    // Closes without raising.
    void Abort();

    bool IsOpen() const { return m_fd.Valid(); }
    int GetHandle() const { return m_fd.Get(); }
    const std::string& GetFilePath() const { return m_path; }
    virtual void SetFilePath(const std::string& path) { m_path = path; }

protected:
    [[noreturn]] void ThrowErrno(int err) const;

private:
    fs::UniqueFd m_fd;
    std::string m_path;
};

// The engine's file: stores the path exactly as given.
class CZipBigFile : public CFile {
public:
    void SetFilePath(const std::string& path) override { CFile::SetFilePath(path); }
};

}  // namespace fennic
