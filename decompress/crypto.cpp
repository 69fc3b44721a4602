// The two encryptions a ZIP reader meets: the traditional PKWARE stream cipher and WinZip's
// AES (counter mode, PBKDF2 keys, an HMAC-SHA1 over the encrypted bytes).

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "decompress/codec.h"

namespace fennic::decompress::detail {

namespace {

uint32_t CrcByte(uint32_t crc, uint8_t b) {
    static const z_crc_t* const kTable = get_crc_table();
    return uint32_t(kTable[(crc ^ b) & 0xFF]) ^ (crc >> 8);
}

// Plain bytes go to the codec in pieces of at most this many.
constexpr size_t kChunk = EntryDecoder::kMaxPiece;

}  // namespace

ZipCryptoKeys::ZipCryptoKeys(const std::string& password)
    : m_keys{0x12345678u, 0x23456789u, 0x34567890u} {
    for (char c : password) Update(uint8_t(c));
}

void ZipCryptoKeys::Update(uint8_t plain) {
    m_keys[0] = CrcByte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = CrcByte(m_keys[2], uint8_t(m_keys[1] >> 24));
}

uint8_t ZipCryptoKeys::Decrypt(uint8_t c) {
    const uint32_t t = (m_keys[2] | 2) & 0xFFFF;
    const uint8_t plain = c ^ uint8_t((t * (t ^ 1)) >> 8);
    Update(plain);
    return plain;
}

namespace {

constexpr size_t kZipCryptoHeader = 12;

class ZipCrypto : public Decryption {
public:
    ZipCrypto(const std::string& password, uint8_t check)
        : m_keys(password), m_check(check), m_noPassword(password.empty()) {}

    uint64_t Overhead() const override { return kZipCryptoHeader; }

    DecodeStatus Feed(const uint8_t* data, size_t size, Codec& codec, Output& out,
                      std::string& message) override {
        if (m_have < kZipCryptoHeader) {
            while (size && m_have < kZipCryptoHeader) {
                m_last = m_keys.Decrypt(*data++);
                --size;
                ++m_have;
            }
            if (m_have == kZipCryptoHeader && m_last != m_check) {
                message = m_noPassword ? "the entry is encrypted and no password was given"
                                       : "wrong password";
                return DecodeStatus::kWrongPassword;
            }
        }
        while (size) {
            const size_t n = std::min(size, kChunk);
            for (size_t i = 0; i < n; ++i) m_plain[i] = m_keys.Decrypt(data[i]);
            const DecodeStatus st = codec.Decode(m_plain, n, out, message);
            if (st != DecodeStatus::kOk) return st;
            data += n;
            size -= n;
        }
        return DecodeStatus::kOk;
    }

    DecodeStatus Finish(std::string&) override { return DecodeStatus::kOk; }

private:
    ZipCryptoKeys m_keys;
    uint8_t m_check;
    bool m_noPassword;
    size_t m_have = 0;
    uint8_t m_last = 0;
    uint8_t m_plain[kChunk];
};

constexpr size_t kAesVerifier = 2;
constexpr size_t kAesAuthCode = 10;
constexpr int kAesIterations = 1000;
constexpr size_t kKeystreamBlocks = 256;

class Aes : public Decryption {
public:
    Aes(const std::string& password, uint8_t strength, uint64_t stored)
        : m_password(password),
          m_keyLength(8 + 8 * strength),
          m_saltLength(4 + 4 * strength),
          m_stored(stored) {}

    ~Aes() override {
        EVP_CIPHER_CTX_free(m_cipher);
        EVP_MAC_CTX_free(m_mac);
        OPENSSL_cleanse(m_header, sizeof m_header);
    }

    bool Init(std::string& message) {
        m_cipher = EVP_CIPHER_CTX_new();
        EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        if (hmac) m_mac = EVP_MAC_CTX_new(hmac);
        EVP_MAC_free(hmac);
        if (!m_cipher || !m_mac) {
            message = "the AES decryption could not be set up";
            return false;
        }
        return true;
    }

    uint64_t Overhead() const override { return m_saltLength + kAesVerifier + kAesAuthCode; }

    DecodeStatus Feed(const uint8_t* data, size_t size, Codec& codec, Output& out,
                      std::string& message) override {
        const size_t headerLength = m_saltLength + kAesVerifier;
        const uint64_t dataEnd = m_stored - kAesAuthCode;
        while (size) {
            if (m_pos < headerLength) {
                const size_t n = std::min(size, size_t(headerLength - m_pos));
                std::memcpy(m_header + m_pos, data, n);
                m_pos += n;
                data += n;
                size -= n;
                if (m_pos == headerLength) {
                    const DecodeStatus st = DeriveKeys(message);
                    if (st != DecodeStatus::kOk) return st;
                }
            } else if (m_pos < dataEnd) {
                const size_t n = size_t(std::min<uint64_t>({size, dataEnd - m_pos, kChunk}));
                if (EVP_MAC_update(m_mac, data, n) != 1 || !Decrypt(data, n)) {
                    return Failed(message);
                }
                const DecodeStatus st = codec.Decode(m_plain, n, out, message);
                if (st != DecodeStatus::kOk) return st;
                m_pos += n;
                data += n;
                size -= n;
            } else {
                // The caller never passes the entry's end, so this fits the code's 10 bytes.
                const size_t at = size_t(m_pos - dataEnd);
                const size_t n = std::min(size, kAesAuthCode - at);
                std::memcpy(m_authCode + at, data, n);
                m_pos += n;
                data += n;
                size -= n;
            }
        }
        return DecodeStatus::kOk;
    }

    DecodeStatus Finish(std::string& message) override {
        uint8_t mac[EVP_MAX_MD_SIZE];
        size_t length = 0;
        if (EVP_MAC_final(m_mac, mac, &length, sizeof mac) != 1 || length < kAesAuthCode) {
            return Failed(message);
        }
        if (CRYPTO_memcmp(mac, m_authCode, kAesAuthCode) != 0) {
            message =
                "the AES authentication code does not match: damaged data or a wrong "
                "password";
            return DecodeStatus::kCorrupt;
        }
        return DecodeStatus::kOk;
    }

private:
    DecodeStatus Failed(std::string& message) {
        message = "the AES decryption failed";
        return DecodeStatus::kCorrupt;
    }

    DecodeStatus DeriveKeys(std::string& message) {
        // AES key, HMAC key, then the 2-byte password verifier.
        uint8_t keys[2 * 32 + kAesVerifier];
        const size_t total = 2 * m_keyLength + kAesVerifier;
        if (m_password.size() > INT32_MAX ||
            PKCS5_PBKDF2_HMAC_SHA1(m_password.data(), int(m_password.size()), m_header,
                                   int(m_saltLength), kAesIterations, int(total), keys) != 1) {
            return Failed(message);
        }
        if (std::memcmp(keys + 2 * m_keyLength, m_header + m_saltLength, kAesVerifier) != 0) {
            OPENSSL_cleanse(keys, sizeof keys);
            message = m_password.empty() ? "the entry is encrypted and no password was given"
                                         : "wrong password";
            return DecodeStatus::kWrongPassword;
        }
        const EVP_CIPHER* cipher = m_keyLength == 16   ? EVP_aes_128_ecb()
                                   : m_keyLength == 24 ? EVP_aes_192_ecb()
                                                       : EVP_aes_256_ecb();
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA1"), 0),
            OSSL_PARAM_construct_end()};
        const bool ok = EVP_EncryptInit_ex(m_cipher, cipher, nullptr, keys, nullptr) == 1 &&
                        EVP_CIPHER_CTX_set_padding(m_cipher, 0) == 1 &&
                        EVP_MAC_init(m_mac, keys + m_keyLength, m_keyLength, params) == 1;
        OPENSSL_cleanse(keys, sizeof keys);
        return ok ? DecodeStatus::kOk : Failed(message);
    }

    // Counter mode with a 128-bit little-endian counter that starts at 1.
    bool Decrypt(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (m_used == sizeof m_keystream && !Refill()) return false;
            m_plain[i] = data[i] ^ m_keystream[m_used++];
        }
        return true;
    }

    bool Refill() {
        uint8_t counters[sizeof m_keystream];
        for (size_t b = 0; b < kKeystreamBlocks; ++b) {
            for (size_t k = 0; k < 16 && ++m_counter[k] == 0; ++k) {
            }
            std::memcpy(counters + 16 * b, m_counter, 16);
        }
        int length = 0;
        if (EVP_EncryptUpdate(m_cipher, m_keystream, &length, counters, int(sizeof counters)) !=
                1 ||
            length != int(sizeof m_keystream)) {
            return false;
        }
        m_used = 0;
        return true;
    }

    std::string m_password;
    size_t m_keyLength;
    size_t m_saltLength;
    uint64_t m_stored;
    uint64_t m_pos = 0;
    EVP_CIPHER_CTX* m_cipher = nullptr;
    EVP_MAC_CTX* m_mac = nullptr;
    uint8_t m_header[16 + kAesVerifier];
    uint8_t m_authCode[kAesAuthCode] = {};
    uint8_t m_counter[16] = {};
    uint8_t m_keystream[16 * kKeystreamBlocks];
    size_t m_used = sizeof m_keystream;
    uint8_t m_plain[kChunk];
};

}  // namespace

std::unique_ptr<Decryption> MakeZipCrypto(const std::string& password, uint8_t check) {
    return std::make_unique<ZipCrypto>(password, check);
}

std::unique_ptr<Decryption> MakeAes(const std::string& password, uint8_t strength, uint64_t stored,
                                    std::string& message) {
    auto aes = std::make_unique<Aes>(password, strength, stored);
    if (!aes->Init(message)) return nullptr;
    return aes;
}

}  // namespace fennic::decompress::detail
