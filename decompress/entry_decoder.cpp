#include "decompress/entry_decoder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "decompress/codec.h"
#include "zip/zip_entry_header.h"

namespace fennic::decompress {

using detail::Codec;
using detail::Decryption;
using detail::Output;

namespace {

// In the order of DecodeStatus.
constexpr const char* kStatusNames[] = {
    "ok",           "unsupported method", "wrong password", "corrupt",
    "CRC mismatch", "size mismatch",      "too large",      "output failed",
};
static_assert(std::size(kStatusNames) == size_t(DecodeStatus::kOutputFailed) + 1);

}  // namespace

const char* StatusName(DecodeStatus status) {
    const size_t index = size_t(status);
    if (index >= std::size(kStatusNames)) return "unknown";
    return kStatusNames[index];
}

bool FactsFromHeader(const CZipEntryHeader& header, EntryFacts& facts, std::string& message) {
    facts = EntryFacts{};
    facts.method = header.method;
    facts.flags = header.flags;
    facts.crc32 = header.crc32;
    facts.compressedSize = header.CompressedSize();
    facts.uncompressedSize = header.UncompressedSize();
    facts.modTime = header.modTime;
    const auto block = header.Extra(kAesExtraId);
    if (!block) return true;
    AesExtra aes;
    if (!ReadAesExtra(*block, aes)) {
        message = "the AES extra field has " + std::to_string(block->size) + " bytes, not 7";
        return false;
    }
    facts.aesVersion = aes.version;
    facts.aesStrength = aes.strength;
    facts.aesMethod = aes.method;
    return true;
}

class EntryDecoder::Impl {
public:
    Impl(const EntryFacts& given, Sink sink)
        : facts(given), output(given.uncompressedSize, std::move(sink)) {}

    EntryFacts facts;
    Output output;
    std::unique_ptr<Decryption> decryption;  // null for a plain entry
    std::unique_ptr<Codec> codec;
    bool checkCrc = true;
};

std::unique_ptr<EntryDecoder> EntryDecoder::Create(const EntryFacts& facts,
                                                   const std::string& password, Sink sink,
                                                   DecodeStatus& why, std::string& message) {
    auto impl = std::make_unique<Impl>(facts, std::move(sink));
    uint16_t method = facts.method;
    if (method == kMethodAes) {
        if (facts.aesVersion == 0) {
            why = DecodeStatus::kCorrupt;
            message = "an AES entry (method 99) without its AES extra field";
            return nullptr;
        }
        if (facts.aesVersion > 2 || facts.aesStrength < 1 || facts.aesStrength > 3) {
            why = DecodeStatus::kUnsupportedMethod;
            message = "AES version " + std::to_string(facts.aesVersion) + " with strength " +
                      std::to_string(facts.aesStrength) + " is not supported";
            return nullptr;
        }
        method = facts.aesMethod;
        impl->checkCrc = facts.aesVersion == 1;  // AE-2 stores no CRC
        impl->decryption =
            detail::MakeAes(password, facts.aesStrength, facts.compressedSize, message);
        if (!impl->decryption) {
            why = DecodeStatus::kUnsupportedMethod;
            return nullptr;
        }
    } else if (facts.flags & kFlagEncrypted) {
        if (facts.flags & kFlagStrongEncryption) {
            why = DecodeStatus::kUnsupportedMethod;
            message = "strong encryption is not supported";
            return nullptr;
        }
        // The header's last byte repeats the CRC's high byte, or the time's when the CRC
        // was not known before the data (a data descriptor follows).
        const uint8_t check = (facts.flags & kFlagDataDescriptor) ? uint8_t(facts.modTime >> 8)
                                                                  : uint8_t(facts.crc32 >> 24);
        impl->decryption = detail::MakeZipCrypto(password, check);
    }
    impl->codec = detail::MakeCodec(method, facts.flags, facts.uncompressedSize, why, message);
    if (!impl->codec) return nullptr;
    const uint64_t overhead = impl->decryption ? impl->decryption->Overhead() : 0;
    if (facts.compressedSize < overhead) {
        why = DecodeStatus::kCorrupt;
        message = "the encrypted entry's " + std::to_string(facts.compressedSize) +
                  " bytes are fewer than the " + std::to_string(overhead) + " its encryption takes";
        return nullptr;
    }
    // No stored bytes and nothing declared: empty, whatever the method would have needed.
    if (facts.compressedSize == overhead && facts.uncompressedSize == 0) {
        impl->codec = detail::MakeCodec(kMethodStored, 0, 0, why, message);
    }
    why = DecodeStatus::kOk;
    message.clear();
    return std::unique_ptr<EntryDecoder>(new EntryDecoder(std::move(impl)));
}

EntryDecoder::EntryDecoder(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
EntryDecoder::~EntryDecoder() = default;

DecodeStatus EntryDecoder::Fail(DecodeStatus status, std::string message) {
    m_status = status;
    m_message = std::move(message);
    return status;
}

DecodeStatus EntryDecoder::Feed(const uint8_t* data, size_t size) {
    if (m_status != DecodeStatus::kOk) return m_status;
    const uint64_t declared = m_impl->facts.compressedSize;
    if (size > declared - m_in) {
        return Fail(DecodeStatus::kTooLarge, "more than the entry's " + std::to_string(declared) +
                                                 " stored bytes were given");
    }
    m_in += size;
    std::string message;
    DecodeStatus st = DecodeStatus::kOk;
    if (m_impl->decryption) {
        st = m_impl->decryption->Feed(data, size, *m_impl->codec, m_impl->output, message);
    } else {
        // Library counters are 32-bit: pieces stay well below that.
        constexpr size_t kChunk = size_t(1) << 20;
        while (size && st == DecodeStatus::kOk) {
            const size_t n = std::min(size, kChunk);
            st = m_impl->codec->Decode(data, n, m_impl->output, message);
            data += n;
            size -= n;
        }
    }
    m_out = m_impl->output.Count();
    return st == DecodeStatus::kOk ? st : Fail(st, std::move(message));
}

DecodeStatus EntryDecoder::Finish() {
    if (m_finished || m_status != DecodeStatus::kOk) return m_status;
    m_finished = true;
    const EntryFacts& facts = m_impl->facts;
    if (m_in < facts.compressedSize) {
        return Fail(DecodeStatus::kCorrupt, "the entry's data ends after " + std::to_string(m_in) +
                                                " of its " + std::to_string(facts.compressedSize) +
                                                " bytes");
    }
    std::string message;
    if (m_impl->decryption) {
        const DecodeStatus st = m_impl->decryption->Finish(message);
        if (st != DecodeStatus::kOk) return Fail(st, std::move(message));
    }
    const DecodeStatus st = m_impl->codec->End(m_impl->output, message);
    m_out = m_impl->output.Count();
    if (st != DecodeStatus::kOk) return Fail(st, std::move(message));
    if (m_out != facts.uncompressedSize) {
        return Fail(DecodeStatus::kSizeMismatch,
                    "the entry decodes to " + std::to_string(m_out) + " bytes, not the " +
                        std::to_string(facts.uncompressedSize) + " its directory declares");
    }
    if (m_impl->checkCrc && m_impl->output.Crc() != facts.crc32) {
        char text[96];
        std::snprintf(text, sizeof text, "CRC-32 %08x, but the directory says %08x",
                      unsigned(m_impl->output.Crc()), unsigned(facts.crc32));
        return Fail(DecodeStatus::kCrcMismatch, text);
    }
    return DecodeStatus::kOk;
}

DecodeStatus DecodeBuffer(const EntryFacts& facts, const std::string& password, const uint8_t* data,
                          size_t size, size_t piece, const Sink& sink, std::string& message) {
    DecodeStatus why = DecodeStatus::kOk;
    auto decoder = EntryDecoder::Create(facts, password, sink, why, message);
    if (!decoder) return why;
    if (piece == 0) piece = size ? size : 1;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min(piece, size - at);
        const DecodeStatus st = decoder->Feed(data + at, n);
        at += n;
        if (st != DecodeStatus::kOk) {
            message = decoder->Message();
            return st;
        }
    }
    const DecodeStatus st = decoder->Finish();
    message = decoder->Message();
    return st;
}

}  // namespace fennic::decompress
