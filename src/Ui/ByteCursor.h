#pragma once
// Bounds-checked little-endian reader over a (pointer, length) byte range.
// Every read reports failure instead of running past the end. Any thread.
#include <cstddef>
#include <cstdint>

class CByteCursor {
public:
    CByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Offset() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    bool Seek(size_t offset) {
        if (offset > size_) return false;
        pos_ = offset;
        return true;
    }
    bool Skip(size_t count) {
        if (count > Remaining()) return false;
        pos_ += count;
        return true;
    }
    bool ReadU16(uint16_t& value) {
        if (Remaining() < 2) return false;
        value = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool ReadU32(uint32_t& value) {
        if (Remaining() < 4) return false;
        value = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return true;
    }
    // Hands out a view of the next `count` bytes and moves past them.
    bool ReadBytes(size_t count, const uint8_t*& out) {
        if (count > Remaining()) return false;
        out = data_ + pos_;
        pos_ += count;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
