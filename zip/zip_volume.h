#pragma once
// The archive's storage: one file, or a set of volumes of a multi-disk archive.

#include <cstdint>
#include <functional>
#include <string>

#include "zip/zip_buffer.h"
#include "zip/zip_file.h"

namespace fennic {

enum ZipOpenMode : int {
    ZipOpenExisting = 0,  // read and write
    ZipOpenReadOnly = 1,
};

enum ZipSpanMode : int {
    SpanNone = 0,
    SpanRemovable = 1,    // several removable disks, each with a file of the same name
    SpanSplit = 2,        // base.000, base.001, ... and base.zip for the last disk
    SpanDetect = 3,       // opened with span option 0; settled by the end record
    SpanAssumeSplit = 4,  // opened with a non-zero span option; settled by the end record
};

// Given the 1-based disk wanted, a reason (-1: for reading) and the callback data; false gives up.
using DiskChangeCallback = bool (*)(uint32_t disk, int reason, void* data);

class CZipVolume {
public:
    CZipVolume();
    CZipVolume(const CZipVolume&) = delete;
    CZipVolume& operator=(const CZipVolume&) = delete;
    virtual ~CZipVolume() = default;

    void Open(const std::string& path, int mode, int spanOption);
    // Reads `size` bytes; see the .cpp for when the next volume is taken. Raises
    // ZipErrBadArchive when the bytes cannot all be had.
    uint32_t Read(void* buffer, uint32_t size, bool atOnce);
    void SetCurrentDisk(int disk);
    void ChangeDisk(int disk);
    void Close(bool afterError);

    int GetCurrentDisk() const { return m_currentDisk; }
    // 0 for one file, -1 for a spanned one.
    int GetSpanState() const;
    ZipSpanMode GetSpanMode() const { return m_spanMode; }
    uint32_t GetLastDisk() const { return m_lastDisk; }
    // The split volume name of `path` for the current disk: base.NNN, or base.zip when `last`.
    std::string GetSplitVolumeName(bool last, const std::string& path) const;

    // The file in use; null while closed.
    CZipBigFile* GetFile() { return m_file; }
    const CZipBigFile* GetFile() const { return m_file; }
    std::string GetFilePath() const { return m_file ? m_file->GetFilePath() : std::string(); }

    void SetDiskChangeCallback(DiskChangeCallback callback, void* data) {
        m_callback = callback;
        m_callbackData = data;
    }
    // Decides whether a path lies on a removable drive; the default asks /sys/block.
    void SetRemovableProbe(std::function<bool(const std::string&)> probe) {
        m_removableProbe = std::move(probe);
    }

    static bool IsOnRemovableDrive(const std::string& path);

private:
    bool OpenFile(const std::string& path, unsigned flags, bool raise);
    [[noreturn]] void Throw(int code) const;

    void* m_callbackData = nullptr;
    CZipBigFile m_ownFile;
    CZipBigFile* m_file = nullptr;
    ZipSpanMode m_spanMode = SpanNone;
    DiskChangeCallback m_callback = nullptr;
    uint32_t m_lastDisk = 0;
    int m_currentDisk = -1;
    std::function<bool(const std::string&)> m_removableProbe;
};

}  // namespace fennic
