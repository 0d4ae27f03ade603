#include "Runtime/IBufferStream.h"

#include <cstring>

IBufferStream::IBufferStream(const void* bytes, uint32_t count) {
    data_ = new uint8_t[count ? count : 1];
    if (count) std::memcpy(data_, bytes, count);
    size_ = count;
    ownsData_ = true;
}

// The block is freed here as well as by Close(): a stream dropped without
// Close() must not leak its copy of the body.
IBufferStream::~IBufferStream() { Close(); }

int32_t IBufferStream::Read(void* buffer, uint32_t count) {
    if (position_ == size_) return 0;
    if (size_ - position_ < count) return -1;
    std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return static_cast<int32_t>(count);
}

void IBufferStream::Close() {
    if (ownsData_) delete[] data_;
    data_ = nullptr;
    ownsData_ = false;
    size_ = 0;
    position_ = 0;
}
