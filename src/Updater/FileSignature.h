#pragma once
// A file checked against its detached signature (the descriptor's scheme:
// ECDSA P-256 over SHA-256, DER as openssl writes it). Any thread.
#include <string>

#include "Updater/DescriptorSignature.h"

namespace kv {

// True when `signaturePath` (at most kMaxSignatureBytes) holds a signature of
// the bytes of `path` made by `key`; `sha256Hex` then gets their SHA-256
// (64 lowercase hexadecimal digits). Both files are read through handles
// that let others only read, so the bytes cannot change while they are checked.
bool VerifyFileSignature(const EcdsaP256PublicKey& key, const std::wstring& path, const std::wstring& signaturePath,
                         std::wstring& sha256Hex);

}  // namespace kv
