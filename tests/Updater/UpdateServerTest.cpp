// End to end against the real update server (nginx, scripts/update-server.sh,
// started by with-update-server.sh): module and stand-in package from Start()
// to OnDone(0, 0, ""), and a resumed partial file. Skipped when the server's
// variables are not set (the plain run of this executable).
#include "UpdaterTestSupport.h"

#include <cstdlib>

#include "Runtime/FileSystem.h"
#include "App/Processes.h"
#include "Updater/FileDigest.h"
#include "Updater/Md5.h"
#include "support/LogCapture.h"

namespace {

std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

class UpdateServer : public UpdateModuleTest {
protected:
    void SetUp() override {
        baseUrl = Env(L"KV_UPDATE_SERVER_URL");
        serverDir = Env(L"KV_UPDATE_SERVER_DIR");
        if (baseUrl.empty() || serverDir.empty()) GTEST_SKIP() << "no update server (run through with-update-server.sh)";
        UpdateModuleTest::SetUp();
        served = ReadFileBytes(serverDir + L"\\html\\kvinstaller.exe");
        ASSERT_GT(served.size(), 1000u);
    }

    std::string AccessLog() const { return ReadFileBytes(serverDir + L"\\logs\\access.log"); }

    // A module for the server; with a signed server it checks the signature
    // with the run's key (KV_UPDATE_SERVER_KEY, the public point in hex).
    CUpdateModule& ServerModule(const std::wstring& path = L"/kvinstall.txt") {
        CUpdateModule& m = NewModule({baseUrl + path});
        const std::wstring hex = Env(L"KV_UPDATE_SERVER_KEY");
        if (hex.size() == 2 * sizeof key.xy) {
            for (size_t i = 0; i < sizeof key.xy; ++i) key.xy[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
            m.SetDescriptorKey(&key);
        }
        return m;
    }

    std::wstring baseUrl, serverDir;
    std::string served;
    kv::EcdsaP256PublicKey key{};
};

}  // namespace

TEST_F(UpdateServer, DownloadsThePackageByteIdenticalAndItUnpacksTheLauncher) {
    CUpdateModule& m = ServerModule();
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone(60000));
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    EXPECT_EQ(events.descriptors[0].version, L"3.2.1");
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_EQ(events.done[0].code, 0);
    EXPECT_EQ(events.done[0].message, L"");
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == served) << "kvinstaller.exe differs from the served package";
    const FileDigests digests = DigestFile(m.PackagePath(), true);
    EXPECT_EQ(digests.md5, events.descriptors[0].md5);
    if (!Env(L"KV_UPDATE_SERVER_SHA256").empty()) {
        // The server published a Sha256: the descriptor must have yielded it.
        EXPECT_EQ(m.ExpectedSha256().size(), 64u);
        EXPECT_TRUE(SameDigest(m.ExpectedSha256(), digests.sha256));
    }
    if (!Env(L"KV_UPDATE_SERVER_TLS").empty()) {
        EXPECT_EQ(baseUrl.compare(0, 8, L"https://"), 0) << "not served over https: " << baseUrl;
    }
    if (!Env(L"KV_UPDATE_SERVER_KEY").empty()) {
        EXPECT_NE(AccessLog().find("\"GET /kvinstall.txt.sig HTTP/1.1\" 200"), std::string::npos) << AccessLog();
    }
    EXPECT_FALSE(events.progress.empty());
    EXPECT_EQ(events.progress.back().total, static_cast<int64_t>(served.size()));

    // The package does what the hand-off expects of it.
    const std::wstring unpack = packageDir + L"\\unpacked";
    EXPECT_EQ(RunAndWait(m.PackagePath(), L"\"" + m.PackagePath() + L"\" /S \"/unpack=" + unpack + L"\" /launch=off"), 0u);
    EXPECT_GT(GetFileSize64(unpack + L"\\KorvelLauncher.exe"), 0);
}

TEST_F(UpdateServer, SecondRunResumesThePartialFileWithARange) {
    const size_t half = served.size() / 2;
    ASSERT_TRUE(EnsureDirExists(packageDir));
    WriteBytes(packageDir + L"\\kvinstaller_3.2.1.tmp", served.substr(0, half));

    CUpdateModule& m = ServerModule();
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone(60000));
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == served) << "resumed file differs from the served package";
    EXPECT_EQ(Md5OfFile(m.PackagePath()), events.descriptors[0].md5);
    const std::string range = "\"GET /kvinstaller.exe HTTP/1.1\" 206 " + std::to_string(served.size() - half) +
                              " \"bytes=" + std::to_string(half) + "-\"";
    EXPECT_NE(AccessLog().find(range), std::string::npos) << "access log:\n" << AccessLog();
}

// The signed run also publishes /expired/: the same descriptor, signed with
// the run's key by scripts/descriptor-sign.sh, but with an Expires an hour
// past, as an old descriptor served again would be.
TEST_F(UpdateServer, AValidlySignedDescriptorThatHasExpiredIsRefused) {
    if (Env(L"KV_UPDATE_SERVER_KEY").empty()) GTEST_SKIP() << "signed runs only";
    CUpdateModule& m = ServerModule(L"/expired/kvinstall.txt");
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDescriptor(60000));
    ASSERT_TRUE(Settle());
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 3);
    EXPECT_EQ(events.descriptors[0].code, 2008);
    EXPECT_TRUE(events.done.empty());
    EXPECT_LT(GetFileSize64(packageDir + L"\\kvinstall.ini"), 0) << "an expired descriptor was stored";
    EXPECT_NE(AccessLog().find("\"GET /expired/kvinstall.txt.sig HTTP/1.1\" 200"), std::string::npos) << AccessLog();
}

// The scripts' piece digests against nginx: a main address serving other
// bytes in the second piece costs that piece; the mirror writes it again from
// its start, and the log names the main address.
TEST_F(UpdateServer, PoisonedMainAddressCostsOnePiece) {
    if (!Env(L"KV_UPDATE_SERVER_KEY").empty()) GTEST_SKIP() << "the changed descriptor is not signed";
    std::string text = ReadFileBytes(serverDir + L"\\html\\kvinstall.txt");
    ASSERT_NE(text.find("PieceSize=1048576"), std::string::npos) << text;
    ASSERT_GT(served.size(), 1048576u);
    text.replace(text.find("/kvinstaller.exe"), 16, "/poisoned/kvinstaller.exe");
    std::string poisoned = served;
    poisoned[1048576 + 99] ^= 0x11;
    ASSERT_TRUE(EnsureDirExists(serverDir + L"\\html\\poisoned"));
    WriteBytes(serverDir + L"\\html\\poisoned\\kvinstall.txt", text);
    WriteBytes(serverDir + L"\\html\\poisoned\\kvinstaller.exe", poisoned);
    LogCapture log;
    CUpdateModule& m = ServerModule(L"/poisoned/kvinstall.txt");
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone(60000));
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == served);
    EXPECT_NE(AccessLog().find("GET /mirror/kvinstaller.exe HTTP/1.1\" 206 " + std::to_string(served.size() - 1048576) +
                               " \"bytes=1048576-\""), std::string::npos) << AccessLog();
    EXPECT_EQ(log.Count(L"分块校验失败 piece:1 url:" + baseUrl + L"/poisoned/kvinstaller.exe"), 1u)
        << log.Text();
}
