#include "Updater/FileSignature.h"

#include <windows.h>

#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/Sha256.h"

namespace kv {
namespace {

constexpr DWORD kFileChunk = 1u << 20;  // read size; the digest does not depend on it

// Others may read the file meanwhile, but not write, rename or delete it.
UniqueKernelHandle OpenDenyingWrites(const std::wstring& path) {
    return UniqueKernelHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The whole signature file; false when unreadable or longer than a signature can be.
bool ReadSignature(const std::wstring& path, std::string& signature) {
    UniqueKernelHandle file = OpenDenyingWrites(path);
    if (!file) return false;
    signature.assign(kMaxSignatureBytes + 1, '\0');
    size_t filled = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), &signature[filled], static_cast<DWORD>(signature.size() - filled), &read, nullptr)) {
            return false;
        }
        if (read == 0) break;
        filled += read;
        if (filled > kMaxSignatureBytes) return false;
    }
    signature.resize(filled);
    return true;
}

std::wstring HexText(const uint8_t* bytes, size_t size) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

}  // namespace

bool VerifyFileSignature(const EcdsaP256PublicKey& key, const std::wstring& path, const std::wstring& signaturePath,
                         std::wstring& sha256Hex) {
    std::string signature;
    if (!ReadSignature(signaturePath, signature)) return false;
    UniqueKernelHandle file = OpenDenyingWrites(path);
    if (!file) return false;
    std::vector<uint8_t> chunk(kFileChunk);
    CSha256 sha;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk.data(), kFileChunk, &read, nullptr)) return false;
        if (read == 0) break;
        sha.Update(chunk.data(), read);
    }
    uint8_t digest[CSha256::kDigestSize];
    if (!sha.Final(digest) || !VerifyEcdsaP256Sha256Digest(key, digest, signature)) return false;
    sha256Hex = HexText(digest, sizeof digest);
    return true;
}

}  // namespace kv
