#pragma once
// The byte-stream interfaces of HTTP bodies: IBaseStream (input, a request
// body) and OBaseStream (output, a response body). One thread at a time; the
// transfer serialises its own use (see CCurlHttp).
#include <cstdint>

class IBaseStream {
public:
    virtual ~IBaseStream() = default;
    // Count read, 0 at the end, -1 when the request cannot be served.
    virtual int32_t Read(void* buffer, uint32_t count) = 0;
    virtual uint64_t GetSize() = 0;
    virtual void Close() = 0;
};

class OBaseStream {
public:
    virtual ~OBaseStream() = default;
    // Count written, or -1 on failure (lastError then says why).
    virtual int32_t Write(const void* data, uint32_t count) = 0;
    virtual void Close() = 0;
    // Discards everything written so far; the next write goes to offset 0.
    virtual void Reset() = 0;

    // 0 when fine; otherwise low 32 bits an error code, high 32 bits its
    // error type (1 "sys", 3 "user", as the HTTP tasks pair them).
    uint64_t lastError = 0;
    int32_t LastErrorCode() const { return static_cast<int32_t>(lastError & 0xFFFFFFFFu); }
    int32_t LastErrorType() const { return static_cast<int32_t>(lastError >> 32); }
    void SetLastError(int32_t code, int32_t type) {
        lastError = (static_cast<uint64_t>(static_cast<uint32_t>(type)) << 32) | static_cast<uint32_t>(code);
    }
};
