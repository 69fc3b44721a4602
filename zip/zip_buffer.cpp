#include "zip/zip_buffer.h"

#include <cstring>

namespace fennic {

CZipBuffer::CZipBuffer(const CZipBuffer& other) {
    *this = other;
}

CZipBuffer& CZipBuffer::operator=(const CZipBuffer& other) {
    if (this == &other) return *this;
    Release();
    if (other.m_size != 0) {
        Allocate(other.m_size);
        std::memcpy(m_data.get(), other.m_data.get(), m_size);
    }
    return *this;
}

CZipBuffer::CZipBuffer(CZipBuffer&& other) noexcept
    : m_data(std::move(other.m_data)), m_size(other.m_size) {
    other.m_size = 0;
}

CZipBuffer& CZipBuffer::operator=(CZipBuffer&& other) noexcept {
    if (this != &other) {
        m_data = std::move(other.m_data);
        m_size = other.m_size;
        other.m_size = 0;
    }
    return *this;
}

char* CZipBuffer::Allocate(uint32_t size, bool zeroFill) {
    if (size != m_size) {
        Release();
        if (size != 0) {
            m_data.reset(new char[size]);
            m_size = size;
        }
    }
    if (zeroFill && m_size != 0) std::memset(m_data.get(), 0, m_size);
    return m_data.get();
}

void CZipBuffer::Release() {
    m_data.reset();
    m_size = 0;
}

std::string CZipBuffer::ToString() const {
    return m_size ? std::string(m_data.get(), m_size) : std::string();
}

void CZipBuffer::Assign(const std::string& text) {
    Release();
    if (text.empty()) return;
    Allocate(static_cast<uint32_t>(text.size()));
    std::memcpy(m_data.get(), text.data(), m_size);
}

}  // namespace fennic
