#include "zip/extra_field.h"

#include "zip/byte_reader.h"
#include "zip/crc32.h"

namespace fennic {

bool ExtraFieldIterator::Next(ExtraBlock& block) {
    if (m_size - m_pos < 4) return false;
    CByteReader in(m_field + m_pos, m_size - m_pos);
    block.id = in.U16();
    block.size = in.U16();
    if (block.size > in.Remaining()) {
        m_truncated = true;
        m_pos = m_size;
        return false;
    }
    block.offset = m_pos;
    block.data = m_field + m_pos + 4;
    m_pos += 4 + size_t{block.size};
    return true;
}

std::optional<ExtraBlock> FindExtraBlock(const void* field, size_t size, uint16_t id) {
    ExtraFieldIterator it(field, size);
    ExtraBlock block;
    while (it.Next(block))
        if (block.id == id) return block;
    return std::nullopt;
}

std::optional<std::string> UnicodeExtraText(const ExtraBlock& block, const std::string& stored) {
    if (block.size <= 5 || block.data[0] != 1) return std::nullopt;
    if (CByteReader(block.data + 1, 4).U32() != Crc32(stored.data(), stored.size()))
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(block.data) + 5, block.size - 5u);
}

bool ReadAesExtra(const ExtraBlock& block, AesExtra& out) {
    CByteReader in(block.data, block.size);
    out.version = in.U16();
    in.Skip(2);  // vendor id "AE"
    out.strength = in.U8();
    out.method = in.U16();
    return in.Ok();
}

}  // namespace fennic
