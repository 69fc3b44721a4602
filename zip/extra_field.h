#pragma once
// The blocks of an extra field (local or central): id, length, data. One walk for every reader,
// so each treats a block that runs past the field's end the same way: as the field's end.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fennic {

constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kUnicodeCommentExtraId = 0x6375;  // the comment in UTF-8, see UnicodeExtraText
constexpr uint16_t kUnicodePathExtraId = 0x7075;     // the name in UTF-8 with the stored name's CRC
constexpr uint16_t kAesExtraId = 0x9901;

struct ExtraBlock {
    uint16_t id = 0;
    const uint8_t* data = nullptr;
    uint16_t size = 0;
    size_t offset = 0;  // of the block's 4-byte head within the field
};

class ExtraFieldIterator {
public:
    ExtraFieldIterator(const void* field, size_t size)
        : m_field(static_cast<const uint8_t*>(field)), m_size(size) {}
    // The next whole block; false at the end or at a block cut short (then Truncated()).
    bool Next(ExtraBlock& block);
    bool Truncated() const { return m_truncated; }

private:
    const uint8_t* m_field;
    size_t m_size;
    size_t m_pos = 0;
    bool m_truncated = false;
};

// The first block with `id`, when the walk reaches one.
std::optional<ExtraBlock> FindExtraBlock(const void* field, size_t size, uint16_t id);

// The text of a Unicode path or comment block (version 1, the CRC-32 of the stored bytes, the
// UTF-8 text), when it matches `stored`: a stale block (the name was changed by a tool that did
// not know it) has another CRC and is ignored, and so is an empty text.
std::optional<std::string> UnicodeExtraText(const ExtraBlock& block, const std::string& stored);

// The AES block: vendor version (1: AE-1, 2: AE-2), key strength and the method beneath.
struct AesExtra {
    uint16_t version = 0;
    uint8_t strength = 0;
    uint16_t method = 0;
};
constexpr size_t kAesExtraSize = 7;
// False when the block is shorter than its 7 bytes.
bool ReadAesExtra(const ExtraBlock& block, AesExtra& out);

}  // namespace fennic
