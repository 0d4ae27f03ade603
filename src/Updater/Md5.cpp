#include "Updater/Md5.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Runtime/Handles.h"

namespace {

// The four rounds of RFC 1321, section 3.4, unrolled. F is written in the
// form that needs one operation less; the result is the same.
#define KV_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define KV_MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define KV_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define KV_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define KV_MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (t);    \
    (a) = (((a) << (s)) | ((a) >> (32 - (s)))) + (b)

inline uint32_t Word(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);  // the platform is little-endian, as MD5's words are
    return w;
}

constexpr size_t kFileChunk = 1 << 20;  // read size of Md5OfFile

}  // namespace

void CMd5::Reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
    buffered_ = 0;
    digest_ = {};
}

void CMd5::Transform(const uint8_t* blocks, size_t count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, blocks += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = Word(blocks + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        KV_MD5_STEP(KV_MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
        KV_MD5_STEP(KV_MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
        KV_MD5_STEP(KV_MD5_F, c, d, a, b, x[2], 0x242070db, 17);
        KV_MD5_STEP(KV_MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
        KV_MD5_STEP(KV_MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
        KV_MD5_STEP(KV_MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
        KV_MD5_STEP(KV_MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
        KV_MD5_STEP(KV_MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
        KV_MD5_STEP(KV_MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
        KV_MD5_STEP(KV_MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
        KV_MD5_STEP(KV_MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
        KV_MD5_STEP(KV_MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
        KV_MD5_STEP(KV_MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
        KV_MD5_STEP(KV_MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
        KV_MD5_STEP(KV_MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
        KV_MD5_STEP(KV_MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

        KV_MD5_STEP(KV_MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
        KV_MD5_STEP(KV_MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
        KV_MD5_STEP(KV_MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
        KV_MD5_STEP(KV_MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
        KV_MD5_STEP(KV_MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
        KV_MD5_STEP(KV_MD5_G, d, a, b, c, x[10], 0x02441453, 9);
        KV_MD5_STEP(KV_MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
        KV_MD5_STEP(KV_MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
        KV_MD5_STEP(KV_MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
        KV_MD5_STEP(KV_MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
        KV_MD5_STEP(KV_MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
        KV_MD5_STEP(KV_MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
        KV_MD5_STEP(KV_MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
        KV_MD5_STEP(KV_MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
        KV_MD5_STEP(KV_MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
        KV_MD5_STEP(KV_MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

        KV_MD5_STEP(KV_MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
        KV_MD5_STEP(KV_MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
        KV_MD5_STEP(KV_MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
        KV_MD5_STEP(KV_MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
        KV_MD5_STEP(KV_MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
        KV_MD5_STEP(KV_MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
        KV_MD5_STEP(KV_MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
        KV_MD5_STEP(KV_MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
        KV_MD5_STEP(KV_MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
        KV_MD5_STEP(KV_MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
        KV_MD5_STEP(KV_MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
        KV_MD5_STEP(KV_MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
        KV_MD5_STEP(KV_MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
        KV_MD5_STEP(KV_MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
        KV_MD5_STEP(KV_MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
        KV_MD5_STEP(KV_MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

        KV_MD5_STEP(KV_MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
        KV_MD5_STEP(KV_MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
        KV_MD5_STEP(KV_MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
        KV_MD5_STEP(KV_MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
        KV_MD5_STEP(KV_MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
        KV_MD5_STEP(KV_MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
        KV_MD5_STEP(KV_MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
        KV_MD5_STEP(KV_MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
        KV_MD5_STEP(KV_MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
        KV_MD5_STEP(KV_MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
        KV_MD5_STEP(KV_MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
        KV_MD5_STEP(KV_MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
        KV_MD5_STEP(KV_MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
        KV_MD5_STEP(KV_MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
        KV_MD5_STEP(KV_MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
        KV_MD5_STEP(KV_MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void CMd5::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += length;
    if (buffered_ > 0) {
        const size_t take = std::min(length, 64 - buffered_);
        std::memcpy(buffer_ + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        length -= take;
        if (buffered_ < 64) return;
        Transform(buffer_, 1);
        buffered_ = 0;
    }
    const size_t blocks = length / 64;
    if (blocks > 0) Transform(bytes, blocks);
    bytes += blocks * 64;
    length -= blocks * 64;
    if (length > 0) {
        std::memcpy(buffer_, bytes, length);
        buffered_ = length;
    }
}

const CMd5::Digest& CMd5::Final() {
    const uint64_t bits = length_ * 8;
    static const uint8_t kPadding[64] = {0x80};
    const size_t padLength = (buffered_ < 56) ? 56 - buffered_ : 120 - buffered_;
    Update(kPadding, padLength);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(lengthBytes, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest_[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
    }
    return digest_;
}

std::wstring CMd5::HexDigest() const {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(32);
    for (uint8_t byte : digest_) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0f]);
    }
    return text;
}

std::wstring Md5OfFile(const std::wstring& path) {
    kv::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return {};
    std::vector<uint8_t> chunk(kFileChunk);
    CMd5 md5;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return {};
        if (read == 0) break;
        md5.Update(chunk.data(), read);
    }
    md5.Final();
    return md5.HexDigest();
}
