#include <gtest/gtest.h>

#include <random>

#include "Ui/SkinPackage.h"
#include "Ui/ZipArchive.h"
#include "UiTestSupport.h"
#include "support/GuardedBuffer.h"

namespace {
const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"a.txt", "hello"}, {"empty.bin", ""}, {"b.xml", std::string(300, 'x')}};
}

TEST(ZipArchive, ReadsStoredEntriesByNameIgnoringCase) {
    const std::vector<uint8_t> zip = BuildStoredZip(kEntries);
    CZipArchive archive;
    ASSERT_TRUE(archive.Open(zip.data(), zip.size()));
    std::vector<uint8_t> out;
    ASSERT_TRUE(archive.Read(L"A.TXT", out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
    ASSERT_TRUE(archive.Read(L"empty.bin", out));
    EXPECT_TRUE(out.empty());
    ASSERT_TRUE(archive.Read(L"b.xml", out));
    EXPECT_EQ(out.size(), 300u);
    EXPECT_FALSE(archive.Read(L"missing.png", out));
    EXPECT_EQ(archive.Names().size(), 3u);
}

// The program's own package: deflate entries written by the build.
TEST(ZipArchive, ProgramResourceHoldsBothSkinsAndTheirImages) {
    CSkinPackage& package = CSkinPackage::Instance();
    package.Close();
    ASSERT_TRUE(package.EnsureOpen());
    // The art is stored once, drawn for 200%; the two backgrounds as JPEG; a
    // text table per language.
    const wchar_t* names[] = {L"InstallPackages.xml", L"MessageBox.xml", L"bg@2x.jpg", L"bg_progress@2x.jpg",
                              L"install_0@2x.png", L"install_1@2x.png", L"opt_000@2x.png", L"opt_001@2x.png",
                              L"Texts.zh-CN.xml", L"Texts.zh-TW.xml", L"Texts.en.xml", L"btn_free_000@2x.png",
                              L"btn_free_002@2x.png", L"input@2x.png", L"select_dir_0@2x.png", L"select_dir_1@2x.png",
                              L"install2_0@2x.png", L"install2_1@2x.png", L"btn_min000@2x.png", L"btn_min001@2x.png",
                              L"btn_min002@2x.png", L"btn_close000@2x.png", L"btn_close001@2x.png",
                              L"btn_close002@2x.png", L"shadow@2x.png", L"btn_public_0@2x.png", L"btn_public_1@2x.png",
                              L"btn_public_2@2x.png", L"common_tip_icon@2x.png", L"progress_bk@2x.png",
                              L"progress_fore@2x.png", L"install_3@2x.png"};
    for (const wchar_t* name : names) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(package.ReadFile(name, bytes)) << name;
        EXPECT_FALSE(bytes.empty()) << name;
    }
}

TEST(ZipArchive, DamagedDataFailsItsCheckWithoutCrashing) {
    std::vector<uint8_t> zip = BuildStoredZip(kEntries);
    // The first entry's data starts after its 30-byte header and 5-byte name.
    zip[30 + 5] ^= 0x55;
    CZipArchive archive;
    ASSERT_TRUE(archive.Open(zip.data(), zip.size()));
    std::vector<uint8_t> out;
    EXPECT_FALSE(archive.Read(L"a.txt", out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(archive.Read(L"b.xml", out));
}

// The archive is read from a guarded buffer: a read past its end fails the
// test instead of passing unseen.
TEST(ZipArchive, EveryTruncationIsRejectedOrReadsCleanly) {
    const std::vector<uint8_t> zip = BuildStoredZip(kEntries);
    GuardedBuffer guard(zip.size());
    ASSERT_TRUE(guard.Ready());
    for (size_t len = 0; len < zip.size(); ++len) {
        const uint8_t* cut = guard.Place(zip.data(), len);
        CZipArchive archive;
        if (archive.Open(cut, len)) {
            std::vector<uint8_t> out;
            // Whatever opens may only return the true contents.
            if (archive.Read(L"a.txt", out)) {
                EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
            }
        }
        ASSERT_EQ(guard.Traps(), 0) << "read past an archive cut to " << len << " of " << zip.size();
    }
}

TEST(ZipArchive, RandomMutationsNeverCrash) {
    const std::vector<uint8_t> zip = BuildStoredZip(kEntries);
    GuardedBuffer guard(zip.size());
    ASSERT_TRUE(guard.Ready());
    std::mt19937 rng(20261207);
    int opened = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = zip;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        CZipArchive archive;
        if (archive.Open(guard.Place(bytes), bytes.size())) {
            ++opened;
            std::vector<uint8_t> out;
            for (const std::wstring& name : archive.Names()) archive.Read(name, out);
        }
        ASSERT_EQ(guard.Traps(), 0) << "read past the archive in round " << round;
    }
    EXPECT_GT(opened, 0);
}

TEST(ZipArchive, DamagedPackageIsReportedAndLogged) {
    LogCapture log;
    const std::string junk = "PK\x05\x06 this is not an archive";
    EXPECT_FALSE(CSkinPackage::Instance().OpenFromBytes(junk.data(), junk.size()));
    std::vector<uint8_t> out;
    CZipArchive archive;
    EXPECT_FALSE(archive.Open(reinterpret_cast<const uint8_t*>(junk.data()), junk.size()));
    EXPECT_NE(log.Text().find(L"damaged"), std::wstring::npos);
    CSkinPackage::Instance().Close();
}
