#pragma once
// Bounds-checked little-endian reading from a byte range. A read past the end yields 0 and
// marks the reader as failed, so a caller checks Ok() once after a run of reads.

#include <cstddef>
#include <cstdint>

namespace fennic {

class CByteReader {
public:
    CByteReader(const void* data, size_t size)
        : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}

    uint8_t U8() { return Has(1) ? m_data[m_pos++] : Fail8(); }
    uint16_t U16() {
        if (!Has(2)) return Fail8();
        uint16_t v = static_cast<uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    uint32_t U32() {
        if (!Has(4)) return Fail8();
        uint32_t v = static_cast<uint32_t>(m_data[m_pos]) |
                     (static_cast<uint32_t>(m_data[m_pos + 1]) << 8) |
                     (static_cast<uint32_t>(m_data[m_pos + 2]) << 16) |
                     (static_cast<uint32_t>(m_data[m_pos + 3]) << 24);
        m_pos += 4;
        return v;
    }
    void Skip(size_t n) {
        if (Has(n))
            m_pos += n;
        else
            Fail8();
    }

    bool Ok() const { return m_ok; }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_size - m_pos; }

private:
    bool Has(size_t n) const { return m_ok && n <= m_size - m_pos; }
    uint8_t Fail8() {
        m_ok = false;
        return 0;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace fennic
