#pragma once
// kv::ByteReader: reads fixed-size fields from a received or stored byte range
// (pointer, length) in one byte order, big-endian for network messages and
// little-endian for file formats. Every read checks what is left and fails
// without moving instead of reading past the end. Any thread; one reader per
// parse.
#include <cstddef>
#include <cstdint>

namespace kv {

enum class ByteOrder { BigEndian, LittleEndian };

template <ByteOrder Order>
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size, size_t pos = 0)
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
        value = static_cast<uint16_t>(Field(2));
        return true;
    }
    bool ReadU32(uint32_t& value) {
        if (Remaining() < 4) return false;
        value = static_cast<uint32_t>(Field(4));
        return true;
    }
    bool ReadU64(uint64_t& value) {
        if (Remaining() < 8) return false;
        value = Field(8);
        return true;
    }
    // Points `out` at the next `count` bytes and moves past them.
    bool Take(size_t count, const uint8_t*& out) {
        if (count > Remaining()) return false;
        out = data_ + pos_;
        pos_ += count;
        return true;
    }

private:
    // The next `width` bytes (checked by the caller) as a number.
    uint64_t Field(size_t width) {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            const uint64_t byte = data_[pos_ + i];
            value |= Order == ByteOrder::BigEndian ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
        }
        pos_ += width;
        return value;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_;
};

using BigEndianReader = ByteReader<ByteOrder::BigEndian>;
using LittleEndianReader = ByteReader<ByteOrder::LittleEndian>;

}  // namespace kv
