// MD5 against the test suite of RFC 1321 (appendix A.5), fed whole and in
// pieces across block edges, and the file digest.
#include <gtest/gtest.h>

#include <string>

#include "Updater/Md5.h"
#include "support/Files.h"
#include "support/MessagePump.h"

namespace {

std::wstring Digest(const std::string& text) {
    CMd5 md5;
    md5.Update(text.data(), text.size());
    md5.Final();
    return md5.HexDigest();
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const wchar_t* digest;
    } cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"a", L"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", L"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Digest(c.input), c.digest) << c.input;
}

// Every split of a message that spans several blocks (and the 55/56/64
// padding edges) gives the one-shot digest.
TEST(Md5, PiecewiseFeedingMatchesOneShot) {
    std::string message;
    for (int i = 0; i < 300; ++i) message.push_back(static_cast<char>(i * 7 + 3));
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 300u}) {
        const std::string part = message.substr(0, length);
        const std::wstring whole = Digest(part);
        for (size_t split = 0; split <= length; ++split) {
            CMd5 md5;
            md5.Update(part.data(), split);
            md5.Update(part.data() + split, length - split);
            md5.Final();
            ASSERT_EQ(md5.HexDigest(), whole) << "length " << length << " split " << split;
        }
    }
}

TEST(Md5, FileDigestAndUnreadableFile) {
    TempDir dir;
    const std::wstring path = dir.File(L"million-a.bin");
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    const std::string block(1000, 'a');
    for (int i = 0; i < 1000; ++i) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
    // One million "a" (a well-known reference digest), read in several chunks.
    EXPECT_EQ(Md5OfFile(path), L"7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(Md5OfFile(dir.File(L"missing.bin")), L"");
}
