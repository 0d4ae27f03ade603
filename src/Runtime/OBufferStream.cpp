#include "Runtime/OBufferStream.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace {
constexpr uint32_t kSlack = 10;  // the block always keeps this many bytes spare
}

OBufferStream::OBufferStream(uint32_t maxBytes) : maxBytes_(maxBytes) {
    buffer_ = new (std::nothrow) uint8_t[kInitialCapacity];
    capacity_ = buffer_ ? kInitialCapacity : 0;
}

// Freeing the block here (not only in Close) keeps a stream that is dropped
// without Close() from leaking it.
OBufferStream::~OBufferStream() { Close(); }

int32_t OBufferStream::Write(const void* data, uint32_t count) {
    if (count > INT32_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY, 1);
        return -1;
    }
    // 64-bit arithmetic: the sum and the doubling must not wrap.
    const uint64_t needed = static_cast<uint64_t>(size_) + count + kSlack;
    if (needed > capacity_) {
        uint64_t grown = capacity_ ? capacity_ : kRegrowCapacity;
        while (grown < needed) grown *= 2;
        if (grown > maxBytes_) grown = needed <= maxBytes_ ? maxBytes_ : 0;
        uint8_t* block = grown ? new (std::nothrow) uint8_t[grown] : nullptr;
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY, 1);
            return -1;
        }
        if (size_) std::memcpy(block, buffer_, size_);
        delete[] buffer_;
        buffer_ = block;
        capacity_ = static_cast<uint32_t>(grown);
    }
    if (count) std::memcpy(buffer_ + size_, data, count);
    size_ += count;
    return static_cast<int32_t>(count);
}

void OBufferStream::Close() {
    delete[] buffer_;
    buffer_ = nullptr;
    capacity_ = 0;
    size_ = 0;
}
