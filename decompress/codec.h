#pragma once
// Inside the decoder: the output stage every method writes through, the methods themselves and
// the two decryptions in front of them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "decompress/entry_decoder.h"

namespace fennic::decompress::detail {

// Counts, limits and checksums the plain bytes on their way to the sink.
class Output {
public:
    Output(uint64_t declared, Sink sink) : m_declared(declared), m_sink(std::move(sink)) {}

    // The most the next piece may hold: kMaxPiece, or one byte more than the declared size
    // still allows, so that an entry longer than declared is caught at its first extra byte.
    size_t Room() const;
    // Passes a piece on; kTooLarge when it goes past the declared size (nothing is passed).
    DecodeStatus Put(const uint8_t* data, size_t size, std::string& message);

    uint64_t Count() const { return m_count; }
    uint32_t Crc() const { return m_crc; }

private:
    uint64_t m_declared;
    Sink m_sink;
    uint64_t m_count = 0;
    uint32_t m_crc = 0;
};

// One compression method's decoder.
class Codec {
public:
    virtual ~Codec() = default;
    // Decodes these bytes, all of them, into `out`. Bytes after the end of the stream fail.
    virtual DecodeStatus Decode(const uint8_t* data, size_t size, Output& out,
                                std::string& message) = 0;
    // No more input comes: kOk when the stream reached its end.
    virtual DecodeStatus End(Output& out, std::string& message) = 0;
};

// A decoder for `method`; null with `why` and `message` for one that is not supported.
// `flags` and `declared` matter to LZMA (its end marker and the dictionary it needs).
std::unique_ptr<Codec> MakeCodec(uint16_t method, uint16_t flags, uint64_t declared,
                                 DecodeStatus& why, std::string& message);

// Decryption in front of a codec: takes the stored bytes, passes the plain ones on.
class Decryption {
public:
    virtual ~Decryption() = default;
    // The stored bytes taken before and after the encrypted data.
    virtual uint64_t Overhead() const = 0;
    // `size` more stored bytes, never past the entry's end (the caller checks).
    virtual DecodeStatus Feed(const uint8_t* data, size_t size, Codec& codec, Output& out,
                              std::string& message) = 0;
    // Every stored byte was fed.
    virtual DecodeStatus Finish(std::string& message) = 0;
};

// The traditional PKWARE keys, exposed for tests.
class ZipCryptoKeys {
public:
    explicit ZipCryptoKeys(const std::string& password);
    uint8_t Decrypt(uint8_t c);

private:
    void Update(uint8_t plain);
    uint32_t m_keys[3];
};

// `check` is the byte the 12-byte header must end with.
std::unique_ptr<Decryption> MakeZipCrypto(const std::string& password, uint8_t check);

// WinZip AES: `strength` 1 to 3, `stored` all the entry's stored bytes. Null with `message`
// when the crypto library cannot set up.
std::unique_ptr<Decryption> MakeAes(const std::string& password, uint8_t strength, uint64_t stored,
                                    std::string& message);

}  // namespace fennic::decompress::detail
