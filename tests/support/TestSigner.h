#pragma once
// A fresh ECDSA P-256 key pair made with CNG, signing like
// `openssl dgst -sha256 -sign` (DER), for descriptors whose text is only known
// at run time. Test code only.
#include <string>

#include "Updater/DescriptorSignature.h"

class TestSigner {
public:
    TestSigner();
    ~TestSigner();
    TestSigner(const TestSigner&) = delete;
    TestSigner& operator=(const TestSigner&) = delete;

    const kv::EcdsaP256PublicKey& PublicKey() const { return publicKey_; }
    std::string Sign(const std::string& data) const;  // DER; "" on failure

private:
    void* algorithm_ = nullptr;
    void* key_ = nullptr;
    kv::EcdsaP256PublicKey publicKey_{};
};
