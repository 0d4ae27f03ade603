#pragma once
// A fresh ECDSA P-256 key pair made with CNG, signing like
// `openssl dgst -sha256 -sign` (DER), for descriptors whose text is only known
// at run time. Test code only.
#include <string>

#include "Runtime/Handles.h"
#include "Updater/DescriptorSignature.h"

class TestSigner {
public:
    TestSigner();
    TestSigner(const TestSigner&) = delete;
    TestSigner& operator=(const TestSigner&) = delete;

    const kv::EcdsaP256PublicKey& PublicKey() const { return publicKey_; }
    std::string Sign(const std::string& data) const;  // DER; "" on failure

private:
    // The key is declared after its provider, so it is destroyed first.
    kv::UniqueAlgorithm algorithm_;
    kv::UniqueKey key_;
    kv::EcdsaP256PublicKey publicKey_{};
};
