// A module with a descriptor key accepts only a descriptor whose ".sig"
// verifies; anything else fails that endpoint like a network error, and
// nothing of it is stored or used. Without a key ".sig" is never asked for.
#include "UpdaterTestSupport.h"

#include "CommonUtils.h"
#include "TestSigner.h"

namespace {

class SignedDescriptorTest : public UpdateModuleTest {
protected:
    void SetUp() override {
        UpdateModuleTest::SetUp();
        package = TestBytes(64 * 1024);
        good = DescriptorText(server.Url("/pkg.exe"), package.size(), Md5Text(package), "3.2.1");
        server.Route("/pkg.exe", TestHttpResponse::Ok(package));
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

    TestSigner signer;
    std::string package;
    std::string good;
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
        events = ModuleEvents();
        Serve("/a", c.text, c.sig);
        Serve("/b", c.text, c.sig);
        CUpdateModule& m = SignedModule(&signer.PublicKey());
        ASSERT_TRUE(m.Start());
        ASSERT_TRUE(WaitDescriptor());
        PumpMessagesFor(200);
        ASSERT_EQ(events.descriptors.size(), 1u);
        EXPECT_EQ(events.descriptors[0].errtype, c.errtype);
        EXPECT_EQ(events.descriptors[0].code, c.code);
        EXPECT_EQ(events.descriptors[0].md5, L"");
        EXPECT_FALSE(Stored());
        EXPECT_EQ(server.RequestCount("/pkg.exe"), 0u);
        module->Stop();
    }
}

TEST_F(SignedDescriptorTest, BadPrimaryGoodFallbackGivesOneDescriptor) {
    std::string forged = DescriptorText(server.Url("/evil.exe"), 10, "", "6.6.6");
    Serve("/a", forged, TestHttpResponse::Ok(signer.Sign(good)));
    Serve("/b", good, TestHttpResponse::Ok(signer.Sign(good)));
    CUpdateModule& m = SignedModule(&signer.PublicKey());
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    PumpMessagesFor(100);
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
