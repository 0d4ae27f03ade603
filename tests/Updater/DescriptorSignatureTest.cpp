// Signature checks of the update descriptor: signatures written by openssl
// (fixed vectors below) against the configured key, and every way a
// signature or the signed text can be wrong.
#include <gtest/gtest.h>

#include <string>

#include "Updater/DescriptorSignature.h"
#include "Runtime/Sha256.h"

namespace {

std::string Bytes(const char* hex) {
    std::string out;
    for (; hex[0] && hex[1]; hex += 2) out += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
    return out;
}

// `scripts/descriptor-sign.sh keygen` key A (public point), and signatures
// made with `openssl dgst -sha256 -sign`: A over kDescriptor, another key B
// over kDescriptor, A over kOtherDescriptor.
const kv::EcdsaP256PublicKey kKeyA{{
    0x5d, 0xc3, 0x1a, 0xe9, 0xed, 0x47, 0xc1, 0x19, 0x27, 0xd5, 0x0a, 0xba, 0xf4, 0xf4, 0x3b, 0x55,
    0x30, 0xdb, 0xb7, 0x85, 0x69, 0xd1, 0xb6, 0xb0, 0x73, 0xc7, 0x48, 0xac, 0x22, 0xdf, 0x35, 0xf0,
    0x10, 0x80, 0x4d, 0x91, 0x64, 0x81, 0x9f, 0xfc, 0x24, 0xa4, 0x85, 0xaf, 0xe4, 0xbf, 0x14, 0x1d,
    0x6b, 0x33, 0x93, 0xbc, 0xfe, 0xa5, 0x1f, 0x10, 0xd5, 0xb5, 0x37, 0xfc, 0x18, 0xe0, 0x53, 0xd1}};
const std::string kDescriptor =
    "[Install]\r\nUrl=http://127.0.0.1:8080/kvinstaller.exe\r\nSize=1024\r\n"
    "Md5=0123456789abcdef0123456789abcdef\r\nVersion=3.2.1\r\n";
const std::string kSigA = Bytes(
    "304402203fe66052acb34630bb0e11a99f9a366bcec8ffaaec68bcdb186240a6c722348a02203f5374bcadb8e4e7bd3633e9659b2448"
    "2774eed68c0bf26747f1327c7b39381b");
const std::string kSigB = Bytes(
    "3046022100d50bbbc0335a4af54a77c7d784b3860f45561aebcde6e5457cfbe7e0c0b90003022100b596d228776d67557b6de60533ad"
    "122a576d21f19301c9681f962f87cc470959");
const std::string kSigAOfOther = Bytes(
    "3045022015f47d70500a04f4935c09ffa6b605dcd2e2067f354f88cc024b62e3c3b227f9022100c96eb01fb57a8534bb95cbce15b0d6"
    "f8087390a77b7869c65b0bf498db633fe5");

bool Verify(const std::string& text, const std::string& sig) { return kv::VerifyEcdsaP256Sha256(kKeyA, text, sig); }

TEST(DescriptorSignature, OpensslSignatureVerifiesAndEveryAlterationFails) {
    EXPECT_TRUE(Verify(kDescriptor, kSigA));
    EXPECT_FALSE(Verify(kDescriptor, kSigB)) << "signed by another key";
    EXPECT_FALSE(Verify(kDescriptor, kSigAOfOther)) << "signature of another descriptor";
    EXPECT_FALSE(Verify(kDescriptor + "\r\n", kSigA)) << "one byte appended";
    EXPECT_FALSE(Verify(kDescriptor, "")) << "empty signature";
    for (size_t i = 0; i < kDescriptor.size(); ++i) {
        std::string text = kDescriptor;
        text[i] ^= 0x01;
        EXPECT_FALSE(Verify(text, kSigA)) << "descriptor byte " << i;
    }
    for (size_t i = 0; i < kSigA.size(); ++i) {
        std::string sig = kSigA;
        sig[i] ^= 0x01;
        EXPECT_FALSE(Verify(kDescriptor, sig)) << "signature byte " << i;
    }
    for (size_t n = 0; n < kSigA.size(); ++n)
        EXPECT_FALSE(Verify(kDescriptor, kSigA.substr(0, n))) << "truncated to " << n;
    EXPECT_FALSE(Verify(kDescriptor, kSigA + '\0')) << "trailing byte";
}

TEST(DescriptorSignature, DerReaderAcceptsOnlyStrictEncodings) {
    uint8_t raw[64];
    struct Case {
        const char* hex;
        bool ok;
        const char* why;
    } cases[] = {
        {"3006020101020102", true, "small r and s are right-aligned"},
        {"300702020080020101", true, "leading zero keeps a high bit positive"},
        {"300702020001020101", false, "superfluous leading zero"},
        {"3006020181020101", false, "negative integer"},
        {"30050200020101", false, "empty integer"},
        {"3007020101020101" "00", false, "a stray byte inside the sequence"},
        {"3006020101020101" "00", false, "bytes after the sequence"},
        {"308106020101020101", false, "long-form length"},
        {"3103020101", false, "not a sequence"},
        {"3006020101030101", false, "second element is not an integer"},
        {"3003020101", false, "only one integer"},
    };
    for (const Case& c : cases) {
        std::string der = Bytes(c.hex);
        EXPECT_EQ(c.ok, kv::DerSignatureToRaw(reinterpret_cast<const uint8_t*>(der.data()), der.size(), raw)) << c.why;
    }
    std::string der = Bytes("3006020105020107");
    ASSERT_TRUE(kv::DerSignatureToRaw(reinterpret_cast<const uint8_t*>(der.data()), der.size(), raw));
    EXPECT_EQ(5, raw[31]);
    EXPECT_EQ(7, raw[63]);
    EXPECT_EQ(0, raw[0]);
    // 33 significant bytes cannot be a P-256 scalar.
    std::string big = Bytes("3026022101") + std::string(32, '\x11') + Bytes("020101");
    big[1] = static_cast<char>(big.size() - 2);
    EXPECT_FALSE(kv::DerSignatureToRaw(reinterpret_cast<const uint8_t*>(big.data()), big.size(), raw));
}

TEST(Sha256, KnownDigestsAcrossChunkBoundaries) {
    CSha256 sha;
    EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", sha.HexDigest());
    sha.Reset();
    const std::string million(1000000, 'a');
    for (size_t at = 0; at < million.size(); at += 4099)
        sha.Update(million.data() + at, std::min<size_t>(4099, million.size() - at));
    EXPECT_EQ(L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", sha.HexDigest());
    EXPECT_EQ(L"", sha.HexDigest()) << "a finished digest takes no further use without Reset";
}

}  // namespace
