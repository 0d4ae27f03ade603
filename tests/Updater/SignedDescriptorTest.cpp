// A module with a descriptor key accepts only a descriptor whose ".sig"
// verifies and whose signed text names the package's Sha256 and an Expires
// still ahead; anything else fails that endpoint like a network error, and
// nothing of it is stored or used. Without a key ".sig" is never asked for.
// Bodies larger than a descriptor or a signature can be fail the endpoint.
#include "UpdaterTestSupport.h"

#include "Runtime/FileSystem.h"
#include "support/TestSigner.h"

namespace {

class SignedDescriptorTest : public UpdateModuleTest {
protected:
    void SetUp() override {
        UpdateModuleTest::SetUp();
        package = TestBytes(64 * 1024);
        unsignedText = DescriptorText(server.Url("/pkg.exe"), package.size(), Md5Text(package), "3.2.1");
        good = WithSignedValues(unsignedText, Sha256Text(package), UtcTimestampFromNow(3600));
        server.Route("/pkg.exe", TestHttpResponse::Ok(package));
    }
    static std::string WithSignedValues(const std::string& text, const std::string& sha256, const std::string& expires) {
        return text + "Sha256=" + sha256 + "\r\nExpires=" + expires + "\r\n";
    }
    CUpdateModule& SignedModule(const kv::EcdsaP256PublicKey* key) {
        CUpdateModule& m = NewModule({server.WideUrl("/a/kvinstall.txt"), server.WideUrl("/b/kvinstall.txt")});
        m.SetDescriptorKey(key);
        return m;
    }
    void Serve(const std::string& endpoint, const std::string& text, const TestHttpResponse& sig) {
        server.Route(endpoint + "/kvinstall.txt", TestHttpResponse::Ok(text));
        server.Route(endpoint + "/kvinstall.txt.sig", sig);
    }
    bool Stored() const { return GetFileSize64(packageDir + L"\\kvinstall.ini") >= 0; }

    // Both endpoints serve `text` and `sig`: the primary fails, the fallback
    // is asked as after a network error and fails too, the listener hears
    // (errtype, code) once, and nothing is stored or downloaded.
    void ExpectBothEndpointsRefuse(const kv::EcdsaP256PublicKey* key, const std::string& text,
                                   const TestHttpResponse& sig, int errtype, int code) {
        events = ModuleEvents();
        Serve("/a", text, sig);
        Serve("/b", text, sig);
        const size_t fallbackAsked = server.RequestCount("/b/kvinstall.txt");
        CUpdateModule& m = SignedModule(key);
        ASSERT_TRUE(m.Start());
        ASSERT_TRUE(WaitDescriptor());
        ASSERT_TRUE(Settle());
        ASSERT_EQ(events.descriptors.size(), 1u);
        EXPECT_EQ(events.descriptors[0].errtype, errtype);
        EXPECT_EQ(events.descriptors[0].code, code);
        EXPECT_EQ(events.descriptors[0].md5, L"");
        EXPECT_EQ(server.RequestCount("/b/kvinstall.txt"), fallbackAsked + 1);
        EXPECT_FALSE(Stored());
        EXPECT_EQ(server.RequestCount("/pkg.exe"), 0u);
        module->Stop();
    }

    TestSigner signer;
    std::string package;
    std::string unsignedText;  // Url, murl, Size, Md5 and Version only
    std::string good;          // and the package's Sha256 and an Expires an hour ahead
};

TEST_F(SignedDescriptorTest, AGoodSignatureLetsTheDescriptorThroughAndNoKeyNeverAsksForOne) {
    Serve("/a", good, TestHttpResponse::Ok(signer.Sign(good)));
    CUpdateModule& m = SignedModule(&signer.PublicKey());
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
    EXPECT_EQ(server.RequestCount("/a/kvinstall.txt.sig"), 1u);

    // The same server, a module without a key: the signature is not fetched.
    events = ModuleEvents();
    CUpdateModule& unsigned_ = SignedModule(nullptr);
    ASSERT_TRUE(unsigned_.Start());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.descriptors.at(0).errtype, 0);
    EXPECT_EQ(server.RequestCount("/a/kvinstall.txt.sig"), 1u);
}

TEST_F(SignedDescriptorTest, EveryBadSignatureFailsBothEndpointsAndNothingIsStored) {
    std::string flippedText = good;
    flippedText[flippedText.find("3.2.1")] = '4';
    std::string flippedSig = signer.Sign(good);
    flippedSig[flippedSig.size() / 2] ^= 0x01;
    TestSigner other;
    struct Case {
        const char* what;
        std::string text;
        TestHttpResponse sig;
        int errtype, code;
    } cases[] = {
        {"one byte of the descriptor changed", flippedText, TestHttpResponse::Ok(signer.Sign(good)), 3, 2008},
        {"one byte of the signature changed", good, TestHttpResponse::Ok(flippedSig), 3, 2008},
        {"signature of another descriptor", good, TestHttpResponse::Ok(signer.Sign(flippedText)), 3, 2008},
        {"no signature published", good, TestHttpResponse::Status(404), 4, 404},
        {"truncated signature", good, TestHttpResponse::Ok(signer.Sign(good).substr(0, 20)), 3, 2008},
        {"not DER at all", good, TestHttpResponse::Ok("not a signature"), 3, 2008},
        {"signed by another key", good, TestHttpResponse::Ok(other.Sign(good)), 3, 2008},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectBothEndpointsRefuse(&signer.PublicKey(), c.text, c.sig, c.errtype, c.code);
    }
}

TEST_F(SignedDescriptorTest, AValidSignatureOverTextWithoutItsDigestOrPastItsExpiryIsRefused) {
    const std::string sha = Sha256Text(package);
    const std::string later = UtcTimestampFromNow(3600);
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"no Sha256", unsignedText + "Expires=" + later + "\r\n"},
        {"Sha256 of 63 digits", WithSignedValues(unsignedText, sha.substr(1), later)},
        {"Sha256 with a letter beyond f", WithSignedValues(unsignedText, "g" + sha.substr(1), later)},
        {"no Expires", unsignedText + "Sha256=" + sha + "\r\n"},
        // An old descriptor served again, its signature as valid as ever.
        {"Expires a minute past", WithSignedValues(unsignedText, sha, UtcTimestampFromNow(-60))},
        {"Expires without its zone", WithSignedValues(unsignedText, sha, later.substr(0, 19))},
        {"Expires on a day that does not exist", WithSignedValues(unsignedText, sha, "2999-02-30T00:00:00Z")},
        {"Expires in another section", unsignedText + "Sha256=" + sha + "\r\n[Other]\r\nExpires=" + later + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectBothEndpointsRefuse(&signer.PublicKey(), c.text, TestHttpResponse::Ok(signer.Sign(c.text)), 3, 2008);
    }
}

// What the user must do differs: an expired descriptor from a server whose
// Date is far from this PC's clock means the clock is wrong; with a sane
// clock (or no Date) it is refused; a sign-in page is named before any
// signature is looked at.
TEST_F(SignedDescriptorTest, ExpiredDescriptorNamesTheClockOnlyWhenTheServerDisagreesAndSignInPagesComeFirst) {
    constexpr int64_t kDay = 24 * 3600;
    const std::string expired = WithSignedValues(unsignedText, Sha256Text(package), UtcTimestampFromNow(-30 * kDay));
    auto dated = [&expired](const std::string& date) { return TestHttpResponse::Ok(expired).With("Date", date); };
    const TestHttpResponse page =
        TestHttpResponse::Ok("<html><body>Sign in to the hotel's network</body></html>").With("Content-Type", "text/html");
    const struct {
        const char* what;
        TestHttpResponse descriptor;
        HttpResult expected;
    } cases[] = {
        {"server 60 days behind", dated(HttpDateFromNow(-60 * kDay)), kClockWrong},
        {"server a day and a minute ahead", dated(HttpDateFromNow(kDay + 60)), kClockWrong},
        {"server agrees within an hour", dated(HttpDateFromNow(-3600)), kBadSignature},
        {"unreadable Date", dated("yesterday"), kBadSignature},
        {"sign-in page", page, kSignInPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events = ModuleEvents();
        for (const char* endpoint : {"/a", "/b"}) {
            server.Route(std::string(endpoint) + "/kvinstall.txt", c.descriptor);
            server.Route(std::string(endpoint) + "/kvinstall.txt.sig", TestHttpResponse::Ok(signer.Sign(expired)));
        }
        CUpdateModule& m = SignedModule(&signer.PublicKey());
        ASSERT_TRUE(m.Start());
        ASSERT_TRUE(WaitDescriptor());
        ASSERT_EQ(events.descriptors.size(), 1u);
        EXPECT_EQ(events.descriptors[0].errtype, c.expected.type);
        EXPECT_EQ(events.descriptors[0].code, c.expected.code);
        EXPECT_FALSE(Stored());
        m.Stop();
    }
}

TEST_F(SignedDescriptorTest, BodiesLargerThanADescriptorOrASignatureFailTheEndpoint) {
    // Padding inside [Install] that names no key, up to `total` bytes.
    auto padded = [this](size_t total) { return good + ";" + std::string(total - good.size() - 3, 'x') + "\r\n"; };
    const std::string largest = padded(CUpdateModule::kMaxDescriptorBytes);
    const std::string tooLarge = padded(CUpdateModule::kMaxDescriptorBytes + 1);
    std::string longestSig = signer.Sign(good);
    longestSig.resize(CUpdateModule::kMaxSignatureBytes, '\0');
    const kv::EcdsaP256PublicKey* key = &signer.PublicKey();
    const int kTooLarge = 2009;
    const struct {
        const char* what;
        const kv::EcdsaP256PublicKey* key;
        std::string text, sig;
        int code;
    } cases[] = {
        {"descriptor one byte over, signed", key, tooLarge, signer.Sign(tooLarge), kTooLarge},
        {"descriptor one byte over, no key", nullptr, tooLarge, "", kTooLarge},
        {"signature one byte over", key, good, longestSig + '\0', kTooLarge},
        {"the longest signature is read, and is no signature", key, good, longestSig, 2008},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectBothEndpointsRefuse(c.key, c.text, TestHttpResponse::Ok(c.sig), 3, c.code);
    }
    // The largest descriptor is read and used.
    events = ModuleEvents();
    Serve("/a", largest, TestHttpResponse::Ok(signer.Sign(largest)));
    CUpdateModule& m = SignedModule(&signer.PublicKey());
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    EXPECT_EQ(events.done.at(0).errtype, 0);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
}

TEST_F(SignedDescriptorTest, BadPrimaryGoodFallbackGivesOneDescriptor) {
    std::string forged = DescriptorText(server.Url("/evil.exe"), 10, "", "6.6.6");
    Serve("/a", forged, TestHttpResponse::Ok(signer.Sign(good)));
    Serve("/b", good, TestHttpResponse::Ok(signer.Sign(good)));
    CUpdateModule& m = SignedModule(&signer.PublicKey());
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    ASSERT_TRUE(Settle());
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    EXPECT_EQ(events.descriptors[0].version, L"3.2.1");
    EXPECT_EQ(server.RequestCount("/evil.exe"), 0u);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
}

TEST_F(SignedDescriptorTest, AStoredCopyThatCannotBeReplacedIsNotUsed) {
    // A forged copy left in the package folder and held open against writing:
    // the verified descriptor cannot be stored over it.
    ASSERT_TRUE(EnsureDirExists(packageDir));
    const std::wstring stored = packageDir + L"\\kvinstall.ini";
    WriteBytes(stored, DescriptorText(server.Url("/evil.exe"), 10, "", "6.6.6"));
    HANDLE held = ::CreateFileW(stored.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Serve("/a", good, TestHttpResponse::Ok(signer.Sign(good)));
    CUpdateModule& m = SignedModule(&signer.PublicKey());
    ASSERT_TRUE(m.Start());
    const bool done = WaitDone();
    ::CloseHandle(held);
    ASSERT_TRUE(done);
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].version, L"3.2.1");
    EXPECT_EQ(server.RequestCount("/evil.exe"), 0u);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
}

}  // namespace
