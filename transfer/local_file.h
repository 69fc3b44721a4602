#pragma once
// The local file a transfer writes into: opened for writing with others' writes locked out
// (an advisory lock), closed by its destructor. Failures give the errno value. A missing file
// is created exclusively with mode 0600; nothing is opened through a symbolic link, and only
// regular files are written.

#include <cstdint>
#include <string>

#include "fs/unique_fd.h"

namespace fennic {

class CLocalFile {
public:
    CLocalFile() = default;
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    // Opens path for writing, creating it when missing; truncate empties it once locked.
    // Returns 0 or the errno value.
    int Open(const std::string& path, bool truncate);
    bool IsOpen() const { return m_fd.Valid(); }
    // Moves the write position to the end; returns 0 or the errno value.
    int SeekToEnd();
    // Moves the write position to offset and cuts the file there; returns 0 or errno.
    int SeekAndCut(uint32_t offset);
    // Writes all bytes; returns 0 or the errno value.
    int Write(const void* data, size_t size);
    void Close();
    // Closes the file and removes the file last opened (also when already closed).
    void CloseAndDelete();

private:
    fs::UniqueFd m_fd;
    std::string m_path;
};

bool FileExists(const std::string& path);

}  // namespace fennic
