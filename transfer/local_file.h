#pragma once
// The local file a transfer writes into: opened for writing with others' writes locked out
// (an advisory lock), closed by its destructor. Failures give the errno value.

#include <cstdint>
#include <string>

namespace fennic {

class CLocalFile {
public:
    CLocalFile() = default;
    ~CLocalFile() { Close(); }
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    // Opens path for writing, creating it when missing; truncate empties it once locked.
    // Returns 0 or the errno value.
    int Open(const std::string& path, bool truncate);
    bool IsOpen() const { return m_fd >= 0; }
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
    int m_fd = -1;
    std::string m_path;
};

bool FileExists(const std::string& path);

}  // namespace fennic
