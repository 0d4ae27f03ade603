// Reading the descriptor's "Install" section with the private-profile rules,
// "Size" parsing, the signed values (Sha256, Expires), the stored copy's
// decoding and the safe Version file name.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>

#include "Http/PieceDigests.h"
#include "Updater/UpdateDescriptor.h"
#include "Updater/UpdateModule.h"
#include "support/GuardedBuffer.h"

TEST(Descriptor, InstallSectionFollowsThePrivateProfileRules) {
    const struct {
        const wchar_t* note;
        const wchar_t* text;
        const wchar_t* url;
        const wchar_t* version;
    } cases[] = {
        {L"plain", L"[Install]\r\nUrl=http://a/p.exe\r\nVersion=3.2.1\r\n", L"http://a/p.exe", L"3.2.1"},
        {L"names without case, blanks dropped", L"  [install]\n  URL =  http://a/p.exe  \nversion\t=\t1\n",
         L"http://a/p.exe", L"1"},
        {L"quotes removed", L"[Install]\nUrl=\"http://a/q.exe\"\nVersion='2'\n", L"http://a/q.exe", L"2"},
        {L"unpaired quote kept", L"[Install]\nUrl=\"http://a\nVersion=\"\n", L"\"http://a", L"\""},
        {L"first key wins", L"[Install]\nUrl=first\nUrl=second\n", L"first", L""},
        {L"other sections ignored", L"[Other]\nUrl=x\n[Install]\nVersion=9\n[More]\nUrl=y\n", L"", L"9"},
        {L"only the first Install section", L"[Install]\nVersion=1\n[Install]\nUrl=late\n", L"", L"1"},
        {L"no section", L"Url=x\nVersion=1\n", L"", L""},
        {L"CR only line ends", L"[Install]\rUrl=u\rVersion=v", L"u", L"v"},
        {L"header without bracket is no header", L"[Install\nUrl=u\n", L"", L""},
        {L"value with '=' inside", L"[Install]\nUrl=http://a/p?x=1\n", L"http://a/p?x=1", L""},
        {L"empty text", L"", L"", L""},
        // Regression: a body saved with a UTF-8 signature lost its first section.
        {L"signature before the first section", L"\xFEFF[Install]\r\nUrl=u\r\nVersion=1\r\n", L"u", L"1"},
    };
    for (const auto& c : cases) {
        const DescriptorValues v = ReadInstallSection(c.text);
        EXPECT_EQ(v.url, c.url) << c.note;
        EXPECT_EQ(v.version, c.version) << c.note;
    }
}

TEST(Descriptor, LongValueIsCutTo2047Units) {
    const std::wstring longUrl(3000, L'u');
    const DescriptorValues v = ReadInstallSection(L"[Install]\nUrl=" + longUrl + L"\nMd5=abc\n");
    EXPECT_EQ(v.url, longUrl.substr(0, 2047));
    EXPECT_EQ(v.md5, L"abc");
}

// Every truncated length and random mutations of a descriptor, each read
// from a guarded buffer: no read beyond the text, and a value is always a
// prefix of the full one or empty.
TEST(Descriptor, TruncatedAndMutatedTextsAreReadSafely) {
    const std::wstring text = L"[Install]\r\nUrl=http://127.0.0.1/p.exe\r\nmurl=a;b;\r\nSize=123\r\nMd5=ab\r\nVersion=1.0\r\n";
    const std::wstring fullUrl = L"http://127.0.0.1/p.exe";
    GuardedBuffer guard(text.size() * sizeof(wchar_t));
    ASSERT_TRUE(guard.Ready());
    for (size_t length = 0; length <= text.size(); ++length) {
        const std::wstring cut = text.substr(0, length);
        const DescriptorValues v = ReadInstallSection(guard.Place(cut), cut.size());
        EXPECT_EQ(fullUrl.compare(0, v.url.size(), v.url), 0) << length;
        ASSERT_EQ(guard.Traps(), 0) << "read past a text cut to " << length;
    }
    std::mt19937 random(20261207);  // fixed seed: the same texts every run
    for (int round = 0; round < 2000; ++round) {
        std::wstring mutated = text;
        for (int i = 0; i < 4; ++i) {
            mutated[random() % mutated.size()] = static_cast<wchar_t>(L"[]=\r\n \"'\0x"[random() % 10]);
        }
        const DescriptorValues v = ReadInstallSection(guard.Place(mutated), mutated.size());
        EXPECT_LE(v.url.size(), mutated.size());
        ASSERT_EQ(guard.Traps(), 0) << "read past the text in round " << round;
    }
}

TEST(Descriptor, SizeParsing) {
    EXPECT_EQ(ParseDescriptorSize(L"12abc"), 12);
    EXPECT_EQ(ParseDescriptorSize(L""), 0);
    EXPECT_EQ(ParseDescriptorSize(L"  \t 4096"), 4096);
    EXPECT_EQ(ParseDescriptorSize(L"x12"), 0);
    EXPECT_EQ(ParseDescriptorSize(L"-5"), 0);
    EXPECT_EQ(ParseDescriptorSize(L"8589934592"), 8589934592LL);  // beyond 32 bits
    EXPECT_EQ(ParseDescriptorSize(L"99999999999999999999999"), INT64_MAX);
}

TEST(Descriptor, StoredCopyDecoding) {
    const std::string utf16("\xFF\xFE[\0I\0]\0", 8);
    EXPECT_EQ(DecodeStoredDescriptor(utf16), L"[I]");
    EXPECT_EQ(DecodeStoredDescriptor("\xFF\xFE"), L"");
    EXPECT_EQ(DecodeStoredDescriptor("\xEF\xBB\xBF" "a\xE7\xBD\x91"), L"a网");
    EXPECT_EQ(DecodeStoredDescriptor(""), L"");
}

TEST(Descriptor, SafeVersionForFileName) {
    EXPECT_EQ(SafeVersionForFileName(L"3.2.1"), L"3.2.1");  // a partial file of an earlier run is still found
    EXPECT_EQ(SafeVersionForFileName(L""), L"");
    EXPECT_EQ(SafeVersionForFileName(L"1.0-beta_2"), L"1.0-beta_2");
    EXPECT_EQ(SafeVersionForFileName(L"..\\..\\evil"), L"______evil");
    EXPECT_EQ(SafeVersionForFileName(L"../x"), L"___x");
    EXPECT_EQ(SafeVersionForFileName(L"C:x"), L"C_x");
    EXPECT_EQ(SafeVersionForFileName(L"1:stream"), L"1_stream");
    EXPECT_EQ(SafeVersionForFileName(L"a*b?c\"d<e>f|g\th"), L"a_b_c_d_e_f_g_h");
    const std::wstring longA(300, L'a');
    std::wstring longB = longA;
    longB.back() = L'b';
    const std::wstring safeA = SafeVersionForFileName(longA);
    EXPECT_LE(safeA.size(), 64u);
    EXPECT_NE(safeA, SafeVersionForFileName(longB));
}

TEST(Descriptor, ExpiresIsReadOnlyAsAUtcTimestamp) {
    SYSTEMTIME utc = {2030, 1, 0, 31, 23, 59, 58, 0};
    FILETIME expected = {};
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &expected));
    uint64_t t = 0;
    ASSERT_TRUE(ParseExpires(L"2030-01-31T23:59:58Z", t));
    EXPECT_EQ(t, (static_cast<uint64_t>(expected.dwHighDateTime) << 32) | expected.dwLowDateTime);
    EXPECT_TRUE(ParseExpires(L"2028-02-29T00:00:00Z", t));  // a leap day
    EXPECT_TRUE(ParseExpires(L"2000-02-29T00:00:00Z", t));
    for (const wchar_t* bad : {L"", L"2030-01-31", L"2030-01-31T23:59:58", L"2030-01-31T23:59:58+00:00",
                               L"2030-01-31 23:59:58Z", L"2030-01-31t23:59:58z", L"2030-1-31T23:59:58Z",
                               L" 2030-01-31T23:59:58Z", L"2030-01-31T23:59:58Z ", L"2030-13-01T00:00:00Z",
                               L"2030-02-29T00:00:00Z", L"2100-02-29T00:00:00Z", L"2030-04-31T00:00:00Z", L"2030-01-31T24:00:00Z",
                               L"2030-01-31T23:60:00Z", L"1600-01-01T00:00:00Z", L"２030-01-31T23:59:58Z"}) {
        EXPECT_FALSE(ParseExpires(bad, t)) << bad;
    }
}

TEST(Descriptor, SignedValuesNeedTheDigestAndAnExpiryAhead) {
    const std::wstring sha(64, L'a');
    uint64_t expires = 0;
    ASSERT_TRUE(ParseExpires(L"2030-01-31T00:00:00Z", expires));
    const struct {
        const wchar_t* text;
        uint64_t now;
        bool usable;
    } cases[] = {
        {L"[Install]\nSha256=%s\nExpires=2030-01-31T00:00:00Z\n", expires - 1, true},
        {L"[Install]\nSha256='%s'\nExpires=\"2030-01-31T00:00:00Z\"\n", expires - 1, true},  // quotes as for any value
        {L"[Install]\nSha256=%s\nExpires=2030-01-31T00:00:00Z\n", expires, false},             // runs out at that second
        {L"[Install]\nSha256=%s\nExpires=2030-01-31T00:00:00Z\n", expires + 1, false},
        {L"[Install]\nSha256=%s\n", expires - 1, false},
        {L"[Install]\nSha256=%sA\nExpires=2030-01-31T00:00:00Z\n", expires - 1, false},        // 65 digits
        {L"[Install]\nSha256=\nExpires=2030-01-31T00:00:00Z\n%s", expires - 1, false},
        {L"[Install]\nExpires=2030-01-31T00:00:00Z\n[Other]\nSha256=%s\n", expires - 1, false},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        text.replace(text.find(L"%s"), 2, sha);
        const wchar_t* problem = SignedValuesProblem(ReadInstallSection(text), c.now);
        EXPECT_EQ(problem == nullptr, c.usable) << text << (problem ? problem : L"");
    }
    DescriptorValues mixedCase;
    mixedCase.sha256 = L"0123456789abcdefABCDEF" + std::wstring(42, L'0');
    mixedCase.expires = L"2030-01-31T00:00:00Z";
    EXPECT_EQ(SignedValuesProblem(mixedCase, expires - 1), nullptr);
    mixedCase.sha256[10] = L'g';
    EXPECT_NE(SignedValuesProblem(mixedCase, expires - 1), nullptr);
}

// PieceSize and Pieces as the descriptor carries them: both or neither, a
// power of two within bounds, one 64-digit hex SHA-256 per piece of Size.
TEST(Descriptor, PieceDigestsAreUsedOnlyWhenTheyDescribeThePackage) {
    const std::wstring d(64, L'a');  // one digest
    const struct {
        const wchar_t* note;
        std::wstring pieceSize, pieces;
        int64_t size;
        bool accepted;
        size_t count;  // with accepted digests (0: none given)
    } cases[] = {
        {L"neither key: no digests", L"", L"", 5, true, 0},
        {L"PieceSize alone", L"262144", L"", 5, false, 0},
        {L"Pieces alone", L"", d, 5, false, 0},
        {L"smallest size, one piece", L"262144", d, 262144, true, 1},
        {L"last piece of one byte", L"262144", d + d + d, 2 * 262144 + 1, true, 3},
        {L"largest size", L"67108864", d + d, 67108864 + 7, true, 2},
        {L"not a power of two", L"1000000", d, 5, false, 0},
        {L"below 256 KiB", L"131072", d, 5, false, 0},
        {L"above 64 MiB", L"134217728", d, 5, false, 0},
        {L"sign or blank in the size", L" 262144", d, 5, false, 0},
        {L"huge size text", L"99999999999999999999999", d, 5, false, 0},
        {L"one digest short", L"262144", d, 262145, false, 0},
        {L"one digest too many", L"262144", d + d, 262144, false, 0},
        {L"half a digest", L"262144", d + d.substr(32), 262145, false, 0},
        {L"no Size", L"262144", d, 0, false, 0},
        {L"not hexadecimal", L"262144", d.substr(1) + L"g", 5, false, 0},
        {L"upper case hexadecimal", L"262144", std::wstring(64, L'F'), 5, true, 1},
    };
    for (const auto& c : cases) {
        std::shared_ptr<const CPieceDigests> pieces;
        EXPECT_EQ(CPieceDigests::Parse(c.pieceSize, c.pieces, c.size, &pieces), c.accepted) << c.note;
        EXPECT_EQ(pieces ? pieces->Count() : 0u, c.count) << c.note;
        if (!pieces) continue;
        const uint64_t last = pieces->PieceEnd(c.count - 1) - pieces->PieceStart(c.count - 1);
        EXPECT_EQ(last, static_cast<uint64_t>(c.size) - (c.count - 1) * pieces->PieceSize()) << c.note;
    }
    // The body cap holds a 4 GiB package at the scripts' default (8 MiB
    // pieces): its Pieces is read whole, not cut like other values.
    const int64_t size = int64_t{4} << 30;
    std::wstring all;
    for (int i = 0; i < 512; ++i) all += d;
    const std::wstring text = L"[Install]\r\nUrl=http://127.0.0.1/p.exe\r\nSize=" + std::to_wstring(size) +
                              L"\r\nPieceSize=8388608\r\nPieces=" + all + L"\r\n";
    EXPECT_LT(text.size() + 200, CUpdateModule::kMaxDescriptorBytes);
    const DescriptorValues v = ReadInstallSection(text);
    std::shared_ptr<const CPieceDigests> pieces;
    EXPECT_TRUE(CPieceDigests::Parse(v.pieceSize, v.pieces, ParseDescriptorSize(v.size), &pieces));
    EXPECT_EQ(pieces ? pieces->Count() : 0u, 512u);
}
