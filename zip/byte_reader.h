#pragma once
// Little-endian reading and writing for every byte that comes from outside. A read past the
// end yields 0 and marks the reader as failed, so a caller checks Ok() once after a run of
// reads; the position never passes the end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennic {

class CByteReader {
public:
    CByteReader(const void* data, size_t size)
        : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
    explicit CByteReader(const std::vector<uint8_t>& bytes)
        : CByteReader(bytes.data(), bytes.size()) {}

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    uint64_t U64() { return Take(8); }
    void Skip(size_t n) {
        if (Has(n))
            m_pos += n;
        else
            m_ok = false;
    }
    // Moves to an absolute position; past the end fails.
    void Seek(size_t pos) {
        if (m_ok && pos <= m_size)
            m_pos = pos;
        else
            m_ok = false;
    }

    bool Ok() const { return m_ok; }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_size - m_pos; }

private:
    bool Has(size_t n) const { return m_ok && n <= m_size - m_pos; }
    uint64_t Take(size_t n) {
        if (!Has(n)) {
            m_ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = n; i-- > 0;) v = (v << 8) | m_data[m_pos + i];
        m_pos += n;
        return v;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Appends little-endian values to a byte vector.
class CByteWriter {
public:
    explicit CByteWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void U16(uint16_t v) { Put(v, 2); }
    void U32(uint32_t v) { Put(v, 4); }
    void U64(uint64_t v) { Put(v, 8); }
    void Bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        m_out.insert(m_out.end(), b, b + n);
    }
    void Bytes(const std::vector<uint8_t>& v) { Bytes(v.data(), v.size()); }
    void Bytes(const std::string& s) { Bytes(s.data(), s.size()); }

private:
    void Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t>& m_out;
};

}  // namespace fennic
