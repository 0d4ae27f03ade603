#include "support/TestSigner.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "Runtime/Sha256.h"

namespace {

// One positive INTEGER in minimal DER form.
std::string DerInteger(const uint8_t* value, size_t size) {
    while (size > 1 && value[0] == 0 && (value[1] & 0x80) == 0) {
        ++value;
        --size;
    }
    std::string out(1, '\x02');
    const bool pad = (value[0] & 0x80) != 0;
    out += static_cast<char>(size + (pad ? 1 : 0));
    if (pad) out += '\0';
    out.append(reinterpret_cast<const char*>(value), size);
    return out;
}

}  // namespace

TestSigner::TestSigner() {
    if (BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        algorithm_.release();
        return;
    }
    if (BCryptGenerateKeyPair(algorithm_.get(), key_.put(), 256, 0) != 0) {
        key_.release();
        return;
    }
    if (BCryptFinalizeKeyPair(key_.get(), 0) != 0) return;
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t xy[64];
    } blob{};
    ULONG written = 0;
    if (BCryptExportKey(key_.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, reinterpret_cast<PUCHAR>(&blob), sizeof blob, &written,
                        0) == 0) {
        std::memcpy(publicKey_.xy, blob.xy, sizeof blob.xy);
    }
}

std::string TestSigner::Sign(const std::string& data) const {
    CSha256 sha;
    sha.Update(data.data(), data.size());
    uint8_t digest[CSha256::kDigestSize];
    uint8_t raw[64];
    ULONG written = 0;
    if (!key_ || !sha.Final(digest) ||
        BCryptSignHash(key_.get(), nullptr, digest, sizeof digest, raw, sizeof raw, &written, 0) != 0 || written != 64) {
        return {};
    }
    std::string body = DerInteger(raw, 32) + DerInteger(raw + 32, 32);
    return std::string(1, '\x30') + static_cast<char>(body.size()) + body;
}
