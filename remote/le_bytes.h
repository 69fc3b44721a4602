#pragma once
// Little-endian reading and writing over byte spans. The reader never reads past its end: a read
// that does not fit fails and leaves the position where it was.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennic::remote {

class LeReader {
public:
    LeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit LeReader(const std::vector<uint8_t>& v) : LeReader(v.data(), v.size()) {}

    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }

    bool Seek(size_t pos) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    bool Skip(size_t n) {
        if (n > Remaining()) return false;
        pos_ += n;
        return true;
    }
    bool U16(uint16_t& out) {
        if (Remaining() < 2) return false;
        out = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t& out) {
        if (Remaining() < 4) return false;
        out = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
              static_cast<uint32_t>(data_[pos_ + 2]) << 16 |
              static_cast<uint32_t>(data_[pos_ + 3]) << 24;
        pos_ += 4;
        return true;
    }
    // Reads a little-endian value at an absolute position without moving.
    bool U32At(size_t pos, uint32_t& out) const {
        LeReader r(data_, size_);
        return r.Seek(pos) && r.U32(out);
    }
    bool U16At(size_t pos, uint16_t& out) const {
        LeReader r(data_, size_);
        return r.Seek(pos) && r.U16(out);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class LeWriter {
public:
    explicit LeWriter(std::vector<uint8_t>& out) : out_(out) {}

    void U16(uint16_t v) {
        out_.push_back(static_cast<uint8_t>(v));
        out_.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Bytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
    void Bytes(const std::vector<uint8_t>& v) { Bytes(v.data(), v.size()); }
    void Bytes(const std::string& s) {
        Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }

private:
    std::vector<uint8_t>& out_;
};

}  // namespace fennic::remote
