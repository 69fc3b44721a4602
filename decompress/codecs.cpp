// The compression methods over their libraries: each call's output is bounded by the output
// stage's room, so no method runs ahead of the declared size.

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader, for the window a frame asks for
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "decompress/codec.h"
#include "zip/crc32.h"

namespace fennic::decompress::detail {

size_t Output::Room() const {
    const uint64_t left = m_declared - m_count;
    return left >= EntryDecoder::kMaxPiece ? EntryDecoder::kMaxPiece : size_t(left) + 1;
}

DecodeStatus Output::Put(const uint8_t* data, size_t size, std::string& message) {
    if (size > m_declared - m_count) {
        message = "the entry decodes to more than the " + std::to_string(m_declared) +
                  " bytes its directory declares";
        return DecodeStatus::kTooLarge;
    }
    m_crc = Crc32(data, size, m_crc);
    m_count += size;
    if (!m_sink(data, size)) {
        message = "the output refused " + std::to_string(size) + " bytes";
        return DecodeStatus::kOutputFailed;
    }
    return DecodeStatus::kOk;
}

namespace {

DecodeStatus Corrupt(std::string& message, std::string text) {
    message = std::move(text);
    return DecodeStatus::kCorrupt;
}

DecodeStatus Trailing(const char* name, std::string& message) {
    return Corrupt(message, std::string("bytes follow the end of the ") + name + " stream");
}

// What one call into a library did.
struct Step {
    size_t produced = 0;
    bool progressed = false;  // took input or gave output
    bool ended = false;       // reached the stream's end
    DecodeStatus status = DecodeStatus::kOk;
};

// Calls `step(room)` until the input is used up and no output waits; `left()` is the input
// not yet taken. Each call's output goes to `out` before the next.
template <typename StepFn, typename LeftFn>
DecodeStatus Drive(const char* name, uint8_t* buffer, Output& out, bool& ended,
                   std::string& message, StepFn step, LeftFn left) {
    for (;;) {
        const size_t room = out.Room();
        const Step s = step(room);
        if (s.status != DecodeStatus::kOk) return s.status;
        if (s.produced) {
            const DecodeStatus put = out.Put(buffer, s.produced, message);
            if (put != DecodeStatus::kOk) return put;
        }
        if (s.ended) {
            ended = true;
            return left() ? Trailing(name, message) : DecodeStatus::kOk;
        }
        if (s.produced == room) continue;  // more output may be waiting
        if (left() == 0) return DecodeStatus::kOk;
        if (!s.progressed) {
            return Corrupt(message, std::string("the ") + name + " decoder stopped short");
        }
    }
}

class BufferedCodec : public Codec {
public:
    explicit BufferedCodec(const char* name) : m_name(name) {}
    DecodeStatus Decode(const uint8_t* data, size_t size, Output& out,
                        std::string& message) override {
        if (size == 0) return DecodeStatus::kOk;
        if (m_ended) return Trailing(m_name, message);
        return DecodeSome(data, size, out, message);
    }
    DecodeStatus End(Output&, std::string& message) override {
        if (m_ended) return DecodeStatus::kOk;
        return Corrupt(message, std::string("the ") + m_name + " stream ends early");
    }

protected:
    virtual DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                                    std::string& message) = 0;

    const char* m_name;
    bool m_ended = false;
    uint8_t m_buffer[EntryDecoder::kMaxPiece];
};

class StoredCodec : public Codec {
public:
    DecodeStatus Decode(const uint8_t* data, size_t size, Output& out,
                        std::string& message) override {
        while (size) {
            const size_t n = std::min(size, out.Room());
            const DecodeStatus st = out.Put(data, n, message);
            if (st != DecodeStatus::kOk) return st;
            data += n;
            size -= n;
        }
        return DecodeStatus::kOk;
    }
    DecodeStatus End(Output&, std::string&) override { return DecodeStatus::kOk; }
};

class InflateCodec : public BufferedCodec {
public:
    InflateCodec() : BufferedCodec("deflate") {}
    ~InflateCodec() override {
        if (m_ready) inflateEnd(&m_z);
    }
    bool Init() { return m_ready = inflateInit2(&m_z, -MAX_WBITS) == Z_OK; }

protected:
    DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                            std::string& message) override {
        m_z.next_in = const_cast<Bytef*>(data);
        m_z.avail_in = uInt(size);  // the caller's pieces are far below 4 GiB
        auto step = [&](size_t room) {
            Step s;
            const uInt inBefore = m_z.avail_in;
            m_z.next_out = m_buffer;
            m_z.avail_out = uInt(room);
            const int rc = inflate(&m_z, Z_NO_FLUSH);
            s.produced = room - m_z.avail_out;
            s.progressed = s.produced || m_z.avail_in != inBefore;
            if (rc == Z_STREAM_END) {
                s.ended = true;
            } else if (rc == Z_MEM_ERROR) {
                message = "out of memory inflating";
                s.status = DecodeStatus::kTooLarge;
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                message = std::string("bad deflate data: ") + (m_z.msg ? m_z.msg : "error");
                s.status = DecodeStatus::kCorrupt;
            }
            return s;
        };
        return Drive(m_name, m_buffer, out, m_ended, message, step,
                     [&] { return size_t(m_z.avail_in); });
    }

private:
    z_stream m_z{};
    bool m_ready = false;
};

class Bzip2Codec : public BufferedCodec {
public:
    Bzip2Codec() : BufferedCodec("bzip2") {}
    ~Bzip2Codec() override {
        if (m_ready) BZ2_bzDecompressEnd(&m_bz);
    }
    bool Init() { return m_ready = BZ2_bzDecompressInit(&m_bz, 0, 0) == BZ_OK; }

protected:
    DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                            std::string& message) override {
        m_bz.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
        m_bz.avail_in = unsigned(size);
        auto step = [&](size_t room) {
            Step s;
            const unsigned inBefore = m_bz.avail_in;
            m_bz.next_out = reinterpret_cast<char*>(m_buffer);
            m_bz.avail_out = unsigned(room);
            const int rc = BZ2_bzDecompress(&m_bz);
            s.produced = room - m_bz.avail_out;
            s.progressed = s.produced || m_bz.avail_in != inBefore;
            if (rc == BZ_STREAM_END) {
                s.ended = true;
            } else if (rc == BZ_MEM_ERROR) {
                message = "out of memory decoding bzip2";
                s.status = DecodeStatus::kTooLarge;
            } else if (rc != BZ_OK) {
                message = "bad bzip2 data (error " + std::to_string(rc) + ")";
                s.status = DecodeStatus::kCorrupt;
            }
            return s;
        };
        return Drive(m_name, m_buffer, out, m_ended, message, step,
                     [&] { return size_t(m_bz.avail_in); });
    }

private:
    bz_stream m_bz{};
    bool m_ready = false;
};

DecodeStatus FromLzma(lzma_ret rc, const char* name, std::string& message) {
    switch (rc) {
        case LZMA_OK:
        case LZMA_BUF_ERROR:  // no progress: the driver tells why
        case LZMA_STREAM_END:
            return DecodeStatus::kOk;
        case LZMA_MEM_ERROR:
            message = std::string("out of memory decoding ") + name;
            return DecodeStatus::kTooLarge;
        case LZMA_MEMLIMIT_ERROR:
            message = std::string("the ") + name + " stream needs more memory than the " +
                      std::to_string(EntryDecoder::kMaxWindow >> 20) + " MiB allowed";
            return DecodeStatus::kTooLarge;
        case LZMA_OPTIONS_ERROR:
        case LZMA_UNSUPPORTED_CHECK:
            message = std::string("the ") + name + " stream uses options that are not supported";
            return DecodeStatus::kUnsupportedMethod;
        default:
            message = std::string("bad ") + name + " data (error " + std::to_string(int(rc)) + ")";
            return DecodeStatus::kCorrupt;
    }
}

// Shared by LZMA and xz: both run through lzma_code once set up.
class LzmaStreamCodec : public BufferedCodec {
public:
    using BufferedCodec::BufferedCodec;
    ~LzmaStreamCodec() override { lzma_end(&m_lz); }

protected:
    DecodeStatus Run(const uint8_t* data, size_t size, Output& out, std::string& message) {
        m_lz.next_in = data;
        m_lz.avail_in = size;
        auto step = [&](size_t room) {
            Step s;
            const size_t inBefore = m_lz.avail_in;
            m_lz.next_out = m_buffer;
            m_lz.avail_out = room;
            const lzma_ret rc = lzma_code(&m_lz, LZMA_RUN);
            s.produced = room - m_lz.avail_out;
            s.progressed = s.produced || m_lz.avail_in != inBefore;
            s.ended = rc == LZMA_STREAM_END;
            s.status = FromLzma(rc, m_name, message);
            return s;
        };
        return Drive(m_name, m_buffer, out, m_ended, message, step, [&] { return m_lz.avail_in; });
    }

    lzma_stream m_lz = LZMA_STREAM_INIT;
};

class XzCodec : public LzmaStreamCodec {
public:
    XzCodec() : LzmaStreamCodec("xz") {}
    // A dictionary of kMaxWindow and the decoder's own tables.
    bool Init() {
        return lzma_stream_decoder(&m_lz, EntryDecoder::kMaxWindow + (64u << 20), 0) == LZMA_OK;
    }

protected:
    DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                            std::string& message) override {
        return Run(data, size, out, message);
    }
};

// The ZIP form of LZMA: a 4-byte header (version, properties size) and 5 bytes of properties
// in front of a raw stream, with an end marker when flag bit 1 says so.
class LzmaCodec : public LzmaStreamCodec {
public:
    LzmaCodec(bool endMarker, uint64_t declared)
        : LzmaStreamCodec("LZMA"), m_endMarker(endMarker), m_declared(declared) {}

    DecodeStatus End(Output& out, std::string& message) override {
        if (!m_ready) return Corrupt(message, "the LZMA stream ends inside its header");
        return LzmaStreamCodec::End(out, message);
    }

protected:
    DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                            std::string& message) override {
        if (!m_ready) {
            const size_t n = std::min(size, sizeof m_header - m_have);
            std::memcpy(m_header + m_have, data, n);
            m_have += n;
            data += n;
            size -= n;
            if (m_have < sizeof m_header) return DecodeStatus::kOk;
            const DecodeStatus st = Start(message);
            if (st != DecodeStatus::kOk) return st;
        }
        return size ? Run(data, size, out, message) : DecodeStatus::kOk;
    }

private:
    DecodeStatus Start(std::string& message) {
        const unsigned propsSize = m_header[2] | m_header[3] << 8;
        if (propsSize != 5) {
            return Corrupt(message,
                           "LZMA properties of " + std::to_string(propsSize) + " bytes, not 5");
        }
        unsigned d = m_header[4];
        if (d >= 9 * 5 * 5) return Corrupt(message, "bad LZMA properties");
        lzma_options_lzma opt;
        std::memset(&opt, 0, sizeof opt);
        opt.lc = d % 9;
        d /= 9;
        opt.lp = d % 5;
        opt.pb = d / 5;
        if (opt.lc + opt.lp > LZMA_LCLP_MAX) {
            message = "LZMA with lc=" + std::to_string(opt.lc) +
                      " and lp=" + std::to_string(opt.lp) + " is not supported";
            return DecodeStatus::kUnsupportedMethod;
        }
        uint64_t dict = uint64_t(m_header[5]) | uint64_t(m_header[6]) << 8 |
                        uint64_t(m_header[7]) << 16 | uint64_t(m_header[8]) << 24;
        // Output stops one byte past the declared size, so no match reaches further back: a
        // larger dictionary would only be memory spent.
        if (m_declared < EntryDecoder::kMaxWindow) dict = std::min(dict, m_declared + 1);
        if (dict > EntryDecoder::kMaxWindow) {
            message = "the LZMA dictionary of " + std::to_string(dict) + " bytes is over the " +
                      std::to_string(EntryDecoder::kMaxWindow >> 20) + " MiB allowed";
            return DecodeStatus::kTooLarge;
        }
        opt.dict_size = uint32_t(std::max<uint64_t>(dict, LZMA_DICT_SIZE_MIN));
        if (m_endMarker) {
            lzma_set_ext_size(opt, UINT64_MAX);  // unknown size: the marker must come
        } else {
            // Some writers add the marker without saying so; it is taken at the size only.
            lzma_set_ext_size(opt, m_declared);
            opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        }
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
        const DecodeStatus st = FromLzma(lzma_raw_decoder(&m_lz, filters), m_name, message);
        m_ready = st == DecodeStatus::kOk;
        return st;
    }

    bool m_endMarker;
    uint64_t m_declared;
    uint8_t m_header[9];
    size_t m_have = 0;
    bool m_ready = false;
};

class ZstdCodec : public BufferedCodec {
public:
    ZstdCodec() : BufferedCodec("zstd") {}
    ~ZstdCodec() override { ZSTD_freeDCtx(m_dctx); }
    bool Init() {
        constexpr int kWindowLog = 28;
        static_assert(uint64_t(1) << kWindowLog == EntryDecoder::kMaxWindow);
        m_dctx = ZSTD_createDCtx();
        return m_dctx &&
               !ZSTD_isError(ZSTD_DCtx_setParameter(m_dctx, ZSTD_d_windowLogMax, kWindowLog));
    }

    DecodeStatus End(Output&, std::string& message) override {
        // Frames may follow each other; the last one must be whole.
        if (m_frameDone) return DecodeStatus::kOk;
        return Corrupt(message, "the zstd stream ends early");
    }

protected:
    DecodeStatus DecodeSome(const uint8_t* data, size_t size, Output& out,
                            std::string& message) override {
        ZSTD_inBuffer in{data, size, 0};
        bool unused = false;
        auto step = [&](size_t room) {
            Step s;
            const size_t inBefore = in.pos;
            ZSTD_outBuffer o{m_buffer, room, 0};
            const size_t rc = ZSTD_decompressStream(m_dctx, &o, &in);
            s.produced = o.pos;
            s.progressed = s.produced || in.pos != inBefore;
            if (ZSTD_isError(rc)) {
                s.status = Failed(rc, data + inBefore, size - inBefore, message);
                return s;
            }
            KeepHead(data + inBefore, in.pos - inBefore);
            if (rc == 0) {
                m_frameDone = true;
                m_head.clear();  // the next frame's header starts here
            } else if (s.progressed) {
                m_frameDone = false;
            }
            return s;
        };
        return Drive(m_name, m_buffer, out, unused, message, step,
                     [&] { return in.size - in.pos; });
    }

private:
    // The first bytes of the frame being decoded, enough for its header.
    void KeepHead(const uint8_t* taken, size_t n) {
        const size_t want =
            ZSTD_FRAMEHEADERSIZE_MAX - std::min(m_head.size(), size_t{ZSTD_FRAMEHEADERSIZE_MAX});
        m_head.append(reinterpret_cast<const char*>(taken), std::min(n, want));
    }

    // A failed call: a window over the limit is named with its size, as LZMA's dictionary is.
    DecodeStatus Failed(size_t rc, const uint8_t* rest, size_t restSize, std::string& message) {
        const ZSTD_ErrorCode code = ZSTD_getErrorCode(rc);
        if (code == ZSTD_error_frameParameter_windowTooLarge) {
            // The header is what the frame's earlier pieces left, then this call's input.
            std::string header = m_head;
            header.append(reinterpret_cast<const char*>(rest),
                          std::min(restSize, size_t{ZSTD_FRAMEHEADERSIZE_MAX}));
            ZSTD_frameHeader frame{};
            if (ZSTD_getFrameHeader(&frame, header.data(), header.size()) == 0) {
                message = "the zstd window of " + std::to_string(frame.windowSize) +
                          " bytes is over the " + std::to_string(EntryDecoder::kMaxWindow >> 20) +
                          " MiB allowed";
                return DecodeStatus::kTooLarge;
            }
        }
        message = std::string("bad zstd data: ") + ZSTD_getErrorName(rc);
        return code == ZSTD_error_frameParameter_windowTooLarge ||
                       code == ZSTD_error_memory_allocation
                   ? DecodeStatus::kTooLarge
                   : DecodeStatus::kCorrupt;
    }

    ZSTD_DCtx* m_dctx = nullptr;
    bool m_frameDone = false;
    std::string m_head;
};

template <typename T>
std::unique_ptr<Codec> Started(DecodeStatus& why, std::string& message) {
    auto codec = std::make_unique<T>();
    if (codec->Init()) return codec;
    why = DecodeStatus::kTooLarge;
    message = "the decoder could not be set up (out of memory)";
    return nullptr;
}

}  // namespace

std::unique_ptr<Codec> MakeCodec(uint16_t method, uint16_t flags, uint64_t declared,
                                 DecodeStatus& why, std::string& message) {
    switch (method) {
        case kMethodStored:
            return std::make_unique<StoredCodec>();
        case kMethodDeflate:
            return Started<InflateCodec>(why, message);
        case kMethodBzip2:
            return Started<Bzip2Codec>(why, message);
        case kMethodLzma:
            return std::make_unique<LzmaCodec>((flags & 0x0002) != 0, declared);
        case kMethodZstd:
            return Started<ZstdCodec>(why, message);
        case kMethodXz:
            return Started<XzCodec>(why, message);
        default:
            why = DecodeStatus::kUnsupportedMethod;
            message = "compression method " + std::to_string(method) + " is not supported";
            return nullptr;
    }
}

}  // namespace fennic::decompress::detail
