#pragma once
// An output stream into a growable memory block (a command's response body).
// Starts with 2 MiB; grows by doubling up to a cap, beyond which writes fail
// with lastError (ERROR_NOT_ENOUGH_MEMORY, type 1 "sys"). One thread at a time.
#include <cstdint>

#include "Runtime/ByteStream.h"

class OBufferStream : public OBaseStream {
public:
    static constexpr uint32_t kInitialCapacity = 0x200000;   // 2 MiB, allocated at once
    static constexpr uint32_t kRegrowCapacity = 0x80000;     // 512 KiB: first size after Close()
    static constexpr uint32_t kDefaultMaxBytes = 0x40000000;  // 1 GiB cap on the block

    explicit OBufferStream(uint32_t maxBytes = kDefaultMaxBytes);
    ~OBufferStream() override;
    OBufferStream(const OBufferStream&) = delete;
    OBufferStream& operator=(const OBufferStream&) = delete;

    int32_t Write(const void* data, uint32_t count) override;
    // Close and Reset both free the block; a later write starts at 512 KiB.
    void Close() override;
    void Reset() override { Close(); }

    const char* Data() const { return reinterpret_cast<const char*>(buffer_); }
    uint32_t Size() const { return size_; }
    uint32_t Capacity() const { return capacity_; }

private:
    uint8_t* buffer_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t size_ = 0;
    uint32_t maxBytes_;
};
