#pragma once
// Verification of the descriptor's detached signature: ECDSA over P-256 with
// SHA-256, the signature DER-encoded as `openssl dgst -sha256 -sign` writes
// it, checked against a public key built into the program. Any thread.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv {

// The uncompressed public point X || Y of a P-256 key, big-endian.
struct EcdsaP256PublicKey {
    uint8_t xy[64];
};

// Turns a DER signature (SEQUENCE of two INTEGERs) into the 64-byte r || s
// form that CNG verifies. Strict DER: short lengths, minimal positive
// integers of at most 32 significant bytes, nothing after the sequence.
bool DerSignatureToRaw(const uint8_t* der, size_t size, uint8_t raw[64]);

// True only when `signature` is a well-formed signature of exactly `data`
// made by the key's private half.
bool VerifyEcdsaP256Sha256(const EcdsaP256PublicKey& key, const std::string& data, const std::string& signature);
// The same for data whose SHA-256 `digest` was computed by the caller.
bool VerifyEcdsaP256Sha256Digest(const EcdsaP256PublicKey& key, const uint8_t digest[32], const std::string& signature);

// The longest detached signature read (a DER P-256 signature has at most 72 bytes).
constexpr uint32_t kMaxSignatureBytes = 1024;

// The key configured into this build; null when the build checks no signature.
const EcdsaP256PublicKey* BuiltInDescriptorKey();

}  // namespace kv
