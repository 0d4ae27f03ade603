#pragma once
// CDnsCursor: reads big-endian fields from a received datagram (pointer,
// length). Every read checks what is left and fails without moving instead of
// reading past the end. Any thread; one cursor per parse.
#include <cstddef>
#include <cstdint>
#include <cstring>

class CDnsCursor {
public:
    CDnsCursor(const uint8_t* data, size_t size, size_t pos = 0)
        : data_(data), size_(size), pos_(pos <= size ? pos : size) {}

    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    size_t Size() const { return size_; }

    bool Seek(size_t pos) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    bool Skip(size_t count) {
        if (count > Remaining()) return false;
        pos_ += count;
        return true;
    }
    bool ReadU8(uint8_t& value) {
        if (Remaining() < 1) return false;
        value = data_[pos_++];
        return true;
    }
    bool ReadU16(uint16_t& value) {
        if (Remaining() < 2) return false;
        value = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return true;
    }
    bool ReadBytes(void* out, size_t count) {
        if (count > Remaining()) return false;
        std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }
    // Points at `count` bytes at the position and moves past them.
    const uint8_t* Take(size_t count) {
        if (count > Remaining()) return nullptr;
        const uint8_t* p = data_ + pos_;
        pos_ += count;
        return p;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_;
};
