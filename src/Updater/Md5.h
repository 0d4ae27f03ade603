#pragma once
// CMd5: the MD5 message digest of RFC 1321, fed in runs of any length.
// Md5OfFile: the digest of a whole file as 32 lowercase hexadecimal digits.
// One owner thread at a time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CMd5 {
public:
    using Digest = std::array<uint8_t, 16>;

    CMd5() { Reset(); }
    void Reset();
    void Update(const void* data, size_t length);
    // Pads, finishes and keeps the digest; call Reset() before reuse.
    const Digest& Final();
    // The final digest as "%02x" per byte (after Final()).
    std::wstring HexDigest() const;

private:
    void Transform(const uint8_t* blocks, size_t count);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes fed so far
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    Digest digest_{};
};

// "" when the file cannot be opened or read.
std::wstring Md5OfFile(const std::wstring& path);
