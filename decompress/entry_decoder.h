#pragma once
// One entry's stored bytes in, its plain bytes out: decryption, decompression and the checks
// of the central directory's sizes and CRC-32, on input that arrives in pieces of any size.
// Output goes to a sink in pieces of at most kMaxPiece bytes; the entry is never held whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fennic {
class CZipEntryHeader;
}

namespace fennic::decompress {

enum class DecodeStatus {
    kOk,
    kUnsupportedMethod,  // a method, or an encryption, this decoder does not have
    kWrongPassword,      // the password check failed (or none was given); nothing was written
    kCorrupt,            // the stream is damaged, ends early or has bytes after its end
    kCrcMismatch,        // the output's CRC-32 differs from the directory's
    kSizeMismatch,       // the stream ended with fewer bytes than the directory declares
    kTooLarge,           // more output or input than declared, or more memory than allowed
    kOutputFailed,       // the sink refused a piece
};

// The words for a status ("ok", "unsupported method", ...), for logs and tests.
const char* StatusName(DecodeStatus status);

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodBzip2 = 12;
constexpr uint16_t kMethodLzma = 14;
constexpr uint16_t kMethodZstd = 93;
constexpr uint16_t kMethodXz = 95;
constexpr uint16_t kMethodAes = 99;

// What the central directory says about an entry.
struct EntryFacts {
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;  // everything between the local header and the descriptor
    uint64_t uncompressedSize = 0;
    uint16_t modTime = 0;  // MS-DOS time: its high byte is the password check with bit 3
    // The AES extra field (0x9901), present when aesVersion != 0.
    uint16_t aesVersion = 0;  // 1: AE-1 (CRC checked), 2: AE-2 (CRC not stored)
    uint8_t aesStrength = 0;  // 1, 2, 3: 128, 192, 256-bit keys
    uint16_t aesMethod = 0;   // the compression method under the encryption
};

// The facts of a directory record, its 64-bit sizes and AES extra field included. False (and
// a message) when the AES extra field is there but cut short.
bool FactsFromHeader(const CZipEntryHeader& header, EntryFacts& facts, std::string& message);

// Receives one piece of output; false stops the decoding with kOutputFailed.
using Sink = std::function<bool(const uint8_t* data, size_t size)>;

class EntryDecoder {
public:
    static constexpr size_t kMaxPiece = 64 * 1024;
    // The largest dictionary or window a stream may ask for.
    static constexpr uint64_t kMaxWindow = uint64_t(1) << 28;

    // A decoder for the entry, or null with `why` and `message` set: an unsupported method
    // ("compression method N is not supported") or encryption, or facts that contradict
    // themselves (an encrypted entry too short for its header).
    static std::unique_ptr<EntryDecoder> Create(const EntryFacts& facts,
                                                const std::string& password, Sink sink,
                                                DecodeStatus& why, std::string& message);

    ~EntryDecoder();
    EntryDecoder(const EntryDecoder&) = delete;
    EntryDecoder& operator=(const EntryDecoder&) = delete;

    // The next stored bytes; the sink gets whatever they decode to. After a failure every
    // later call returns that failure again.
    DecodeStatus Feed(const uint8_t* data, size_t size);
    // Every stored byte has been given: checks that the stream ended, the sizes, the CRC-32
    // (and with AES the authentication code).
    DecodeStatus Finish();

    DecodeStatus Status() const { return m_status; }
    // Why the last call failed, for a person to read; empty while all is well.
    const std::string& Message() const { return m_message; }
    uint64_t BytesIn() const { return m_in; }
    uint64_t BytesOut() const { return m_out; }

private:
    class Impl;
    explicit EntryDecoder(std::unique_ptr<Impl> impl);
    DecodeStatus Fail(DecodeStatus status, std::string message);

    std::unique_ptr<Impl> m_impl;
    DecodeStatus m_status = DecodeStatus::kOk;
    std::string m_message;
    uint64_t m_in = 0;
    uint64_t m_out = 0;
    bool m_finished = false;
};

// Decodes a whole entry held in memory, fed in pieces of `piece` bytes: for tests and fuzzing.
DecodeStatus DecodeBuffer(const EntryFacts& facts, const std::string& password, const uint8_t* data,
                          size_t size, size_t piece, const Sink& sink, std::string& message);

}  // namespace fennic::decompress
