#include "Runtime/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

CSha256::CSha256() {
    if (BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) algorithm_.release();
    Reset();
}

CSha256::~CSha256() = default;

void CSha256::Reset() {
    // The provider allocates the hash object itself (Windows 7 and later).
    failed_ = !algorithm_ || BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0) != 0;
    if (failed_) hash_.release();
}

void CSha256::Update(const void* data, size_t size) {
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (!failed_ && size > 0) {
        ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        failed_ = BCryptHashData(hash_.get(), bytes, chunk, 0) != 0;
        bytes += chunk;
        size -= chunk;
    }
}

bool CSha256::Final(uint8_t digest[kDigestSize]) {
    bool ok = !failed_ && BCryptFinishHash(hash_.get(), digest, kDigestSize, 0) == 0;
    hash_.reset();
    failed_ = true;  // a finished message takes no more data until Reset()
    return ok;
}

std::wstring CSha256::HexDigest() {
    uint8_t digest[kDigestSize];
    if (!Final(digest)) return L"";
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(2 * kDigestSize);
    for (uint8_t b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}
