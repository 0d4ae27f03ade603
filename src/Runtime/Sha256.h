#pragma once
// Incremental SHA-256 through the platform's CNG provider. One object hashes
// one message; Reset() starts another. Any thread, one thread per object.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Runtime/Handles.h"

class CSha256 {
public:
    static constexpr size_t kDigestSize = 32;

    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Reset();
    void Update(const void* data, size_t size);
    // False when the provider failed at any step of this message.
    bool Final(uint8_t digest[kDigestSize]);
    // 64 lowercase hexadecimal digits, "" when the provider failed.
    std::wstring HexDigest();

private:
    kv::UniqueAlgorithm algorithm_;  // opened once
    kv::UniqueHash hash_;            // of the current message
    bool failed_ = false;
};
