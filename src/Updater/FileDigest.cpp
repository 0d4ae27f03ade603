#include "Updater/FileDigest.h"

#include <windows.h>

#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/TextUtils.h"
#include "Updater/Md5.h"
#include "Runtime/Sha256.h"

namespace {
constexpr size_t kFileChunk = 1 << 20;  // read size; the digests do not depend on it
}

FileDigests DigestFile(const std::wstring& path, bool withSha256) {
    kv::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return {};
    return DigestOpenFile(file.get(), withSha256);
}

FileDigests DigestOpenFile(HANDLE file, bool withSha256) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return {};
    std::vector<uint8_t> chunk(kFileChunk);
    CMd5 md5;
    CSha256 sha;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) return {};
        if (read == 0) break;
        md5.Update(chunk.data(), read);
        if (withSha256) sha.Update(chunk.data(), read);
    }
    FileDigests digests;
    md5.Final();
    digests.md5 = md5.HexDigest();
    if (withSha256) digests.sha256 = sha.HexDigest();
    return digests;
}

bool SameDigest(const std::wstring& expected, const std::wstring& actual) {
    return !actual.empty() && ToLower(expected) == ToLower(actual);
}
