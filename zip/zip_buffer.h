#pragma once
// An owned byte buffer with a length; copies are deep.

#include <cstdint>
#include <memory>
#include <string>

namespace fennic {

class CZipBuffer {
public:
    CZipBuffer() = default;
    CZipBuffer(const CZipBuffer& other);
    CZipBuffer& operator=(const CZipBuffer& other);
    CZipBuffer(CZipBuffer&& other) noexcept;
    CZipBuffer& operator=(CZipBuffer&& other) noexcept;
    ~CZipBuffer() = default;

    // Reallocates when the size differs (0 leaves the buffer empty); zeroes the bytes when asked,
    // also when the size did not change. Returns the memory (null when empty).
    char* Allocate(uint32_t size, bool zeroFill = false);
    void Release();

    uint32_t GetSize() const { return m_size; }
    bool IsEmpty() const { return m_size == 0; }
    char* GetBuffer() { return m_data.get(); }
    const char* GetBuffer() const { return m_data.get(); }
    // Exactly GetSize() bytes as a string; no terminator is looked for.
    std::string ToString() const;
    // Replaces the contents with a copy of `text`.
    void Assign(const std::string& text);

private:
    std::unique_ptr<char[]> m_data;
    uint32_t m_size = 0;
};

}  // namespace fennic
