#pragma once
// An input stream over an owned copy of a byte block (a request body). Reads
// are all-or-nothing. One thread at a time.
#include <cstdint>

#include "Runtime/ByteStream.h"

class IBufferStream : public IBaseStream {
public:
    IBufferStream(const void* bytes, uint32_t count);
    ~IBufferStream() override;
    IBufferStream(const IBufferStream&) = delete;
    IBufferStream& operator=(const IBufferStream&) = delete;

    // 0 at the end; -1 (nothing copied, position kept) when fewer than
    // `count` bytes remain; otherwise `count`.
    int32_t Read(void* buffer, uint32_t count) override;
    uint64_t GetSize() override { return size_; }
    // Frees the block; the stream then reads as empty.
    void Close() override;

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
    bool ownsData_ = false;
};
