#include "Updater/DescriptorSignature.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "Runtime/ByteReader.h"
#include "Runtime/Handles.h"
#include "Runtime/Sha256.h"
#include "DescriptorKey.h"

namespace kv {
namespace {

// Reads one DER tag-length header with a short-form length and checks that
// the content fits in what is left.
bool ReadHeader(BigEndianReader& der, uint8_t tag, size_t& length) {
    uint8_t actualTag = 0, shortLength = 0;
    if (!der.ReadU8(actualTag) || actualTag != tag || !der.ReadU8(shortLength) || (shortLength & 0x80) != 0) {
        return false;
    }
    length = shortLength;
    return der.Remaining() >= length;
}

// One INTEGER of the signature, copied right-aligned into 32 bytes.
bool ReadInteger(BigEndianReader& der, uint8_t out[32]) {
    size_t length = 0;
    const uint8_t* value = nullptr;
    if (!ReadHeader(der, 0x02, length) || length == 0 || !der.Take(length, value)) return false;
    if (value[0] & 0x80) return false;  // negative
    if (value[0] == 0) {
        // A leading zero is allowed only to keep a high bit positive.
        if (length == 1 || (value[1] & 0x80) == 0) return false;
        ++value;
        --length;
    }
    if (length > 32) return false;
    std::memset(out, 0, 32);
    std::memcpy(out + 32 - length, value, length);
    return true;
}

}  // namespace

bool DerSignatureToRaw(const uint8_t* der, size_t size, uint8_t raw[64]) {
    if (!der) return false;
    BigEndianReader reader(der, size);
    size_t length = 0;
    if (!ReadHeader(reader, 0x30, length) || reader.Remaining() != length) return false;
    if (!ReadInteger(reader, raw) || !ReadInteger(reader, raw + 32)) return false;
    return reader.Remaining() == 0;
}

bool VerifyEcdsaP256Sha256(const EcdsaP256PublicKey& key, const std::string& data, const std::string& signature) {
    CSha256 sha;
    sha.Update(data.data(), data.size());
    uint8_t digest[CSha256::kDigestSize];
    return sha.Final(digest) && VerifyEcdsaP256Sha256Digest(key, digest, signature);
}

bool VerifyEcdsaP256Sha256Digest(const EcdsaP256PublicKey& key, const uint8_t digest[32], const std::string& signature) {
    uint8_t raw[64];
    if (!DerSignatureToRaw(reinterpret_cast<const uint8_t*>(signature.data()), signature.size(), raw)) return false;

    UniqueAlgorithm ecdsa;
    if (BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        ecdsa.release();
        return false;
    }

    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t xy[64];
    } blob{{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, {}};
    std::memcpy(blob.xy, key.xy, sizeof blob.xy);
    UniqueKey publicKey;
    if (BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.put(),
                            reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0) != 0) {
        publicKey.release();
        return false;
    }
    return BCryptVerifySignature(publicKey.get(), nullptr, const_cast<PUCHAR>(digest), CSha256::kDigestSize, raw,
                                 sizeof raw, 0) == 0;
}

const EcdsaP256PublicKey* BuiltInDescriptorKey() {
#if KV_HAS_DESCRIPTOR_KEY
    static const EcdsaP256PublicKey key{{KV_DESCRIPTOR_KEY_BYTES}};
    return &key;
#else
    return nullptr;
#endif
}

}  // namespace kv
