// The installation-folder rules against the real places: the launcher ini in
// the common application data folder, the registry's 32-bit view, the write
// test, the free-space rule (injected figures) and a package beside the
// installer (signed, with a key). The drive rules need drives mapped on the
// host side and run through with-host-fixtures.sh.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "support/TestSigner.h"
#include "App/InstallFolder.h"
#include "Runtime/FileSystem.h"
#include "Runtime/TextUtils.h"
#include "Runtime/Sha256.h"
#include "support/Files.h"
#include "support/MessagePump.h"

namespace {

// Writes the launcher's ini and registry value for one test and removes both after.
class EarlierInstall : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t appData[MAX_PATH] = {};
        ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)));
        iniPath = std::wstring(appData) + L"\\" + kLauncherIniName;
        ASSERT_FALSE(Exists(iniPath)) << "an earlier test left the launcher ini behind";
    }
    void TearDown() override {
        ::DeleteFileW(iniPath.c_str());
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLauncherRegKey, KEY_WOW64_32KEY, 0);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLauncherRegKey, KEY_WOW64_64KEY, 0);
    }
    void WriteIni(const std::wstring& installPath) {
        ASSERT_TRUE(::WritePrivateProfileStringW(kLauncherIniSection, kLauncherIniKey, installPath.c_str(), iniPath.c_str()));
    }
    // The launcher is a 32-bit program: its value lives in the 32-bit view only.
    void WriteRegistry(const std::wstring& instPath, REGSAM view = KEY_WOW64_32KEY) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLauncherRegKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, kLauncherRegValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(instPath.c_str()),
                         static_cast<DWORD>((instPath.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }

    TempDir dir;
    std::wstring iniPath;
    std::wstring launcherExe = L"stale";
    std::wstring installDir;
};

uint64_t g_injectedFree = 0;
std::wstring g_lastQuery;
uint64_t InjectedFree(const std::wstring& queryPath) {
    g_lastQuery = queryPath;
    return g_injectedFree;
}

}  // namespace

TEST_F(EarlierInstall, FoundThroughTheLauncherIni) {
    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");
    WriteIni(exe);
    EXPECT_TRUE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(launcherExe, exe);
    EXPECT_EQ(installDir, dir.Path());
    ::DeleteFileW(exe.c_str());
}

// The ini names a launcher that is gone: the registry's 32-bit view decides.
TEST_F(EarlierInstall, IniPointingAtAMissingFileFallsBackToTheRegistry32BitView) {
    WriteIni(dir.File(L"gone\\KorvelLauncher.exe"));
    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");
    WriteRegistry(dir.Path());
    EXPECT_TRUE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(launcherExe, exe);
    EXPECT_EQ(installDir, dir.Path());
    ::DeleteFileW(exe.c_str());
}

// A value only in the 64-bit view is not the 32-bit launcher's.
TEST_F(EarlierInstall, RegistryValueOfThe64BitViewIsNotRead) {
    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");
    WriteRegistry(dir.Path(), KEY_WOW64_64KEY);
    installDir.clear();
    EXPECT_FALSE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(installDir, L"");
    ::DeleteFileW(exe.c_str());
}

// The folder exists without the launcher: proposed as the folder, no earlier
// installation reported.
TEST_F(EarlierInstall, RegistryFolderWithoutTheLauncherOnlyProposesTheFolder) {
    WriteRegistry(dir.Path());
    EXPECT_FALSE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(launcherExe, L"");
    EXPECT_EQ(installDir, dir.Path());
}

// Any user can write the ini: it counts only when it names, by a full path,
// an existing file called "KorvelLauncher.exe", and then in canonical form.
// Regression: an ini naming D:\evil\evil.exe made 直接启动 run that program.
TEST_F(EarlierInstall, IniCountsOnlyForAnExistingLauncherProgram) {
    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");
    WriteText(dir.File(L"evil.exe"), "");
    ASSERT_TRUE(EnsureDirExists(dir.File(L"folder\\KorvelLauncher.exe")));
    const struct {
        std::wstring value;
        std::wstring found;  // "": no earlier installation
    } cases[] = {
        {dir.File(L"evil.exe"), L""},
        {dir.Path(), L""},
        {dir.File(L"folder\\KorvelLauncher.exe"), L""},  // a folder of that name
        {L"KorvelLauncher.exe", L""},                    // relative: found beside the installer
        {dir.File(L"sub\\..\\KorvelLauncher.exe"), exe},
        {dir.File(L"KORVELLAUNCHER.EXE"), dir.File(L"KORVELLAUNCHER.EXE")},
    };
    // A relative value would resolve against the current folder: put a launcher there.
    wchar_t saved[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.Path().c_str()));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "ini value " << WideToUtf8(c.value));
        WriteIni(c.value);
        launcherExe = L"stale";
        EXPECT_EQ(DetectExistingInstall(launcherExe, installDir), !c.found.empty());
        EXPECT_EQ(launcherExe, c.found);
        if (!c.found.empty()) {
            EXPECT_EQ(installDir, dir.Path());
        }
    }
    ::SetCurrentDirectoryW(saved);
    ::DeleteFileW(exe.c_str());
    ::DeleteFileW(dir.File(L"evil.exe").c_str());
    ::RemoveDirectoryW(dir.File(L"folder\\KorvelLauncher.exe").c_str());
    ::RemoveDirectoryW(dir.File(L"folder").c_str());
}

// The registry (writable by administrators only) wins over an ini that names
// another folder, also when its own folder holds no launcher any more.
TEST_F(EarlierInstall, RegistryWinsOverAnIniNamingAnotherFolder) {
    TempDir other;
    const std::wstring planted = other.File(L"KorvelLauncher.exe");
    WriteText(planted, "");
    WriteIni(planted);
    WriteRegistry(dir.Path() + L"\\");
    EXPECT_FALSE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(launcherExe, L"");
    EXPECT_EQ(installDir, dir.Path());

    const std::wstring exe = dir.File(L"KorvelLauncher.exe");
    WriteText(exe, "");
    EXPECT_TRUE(DetectExistingInstall(launcherExe, installDir));
    EXPECT_EQ(launcherExe, exe);
    EXPECT_EQ(installDir, dir.Path());
    ::DeleteFileW(exe.c_str());
    ::DeleteFileW(planted.c_str());
}

TEST(InstallFolder, WriteTestWalksUpWithoutCreatingFolders) {
    TempDir dir;
    const std::wstring deep = dir.File(L"new\\deeper\\KorvelQixar");
    EXPECT_TRUE(IsPathWritable(deep));
    EXPECT_FALSE(Exists(dir.File(L"new")));
    const std::wstring file = dir.File(L"plain.txt");
    WriteText(file, "");
    EXPECT_FALSE(IsPathWritable(file + L"\\sub\\dir"));  // the nearest existing part is a file
    EXPECT_FALSE(IsPathWritable(L""));
    // No test file is left behind.
    WIN32_FIND_DATAW found;
    HANDLE h = ::FindFirstFileW(dir.File(L"qxtest_*").c_str(), &found);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
    ::DeleteFileW(file.c_str());
}

// A file (or a link) already under the write test's predictable name is
// never opened, truncated or deleted.
TEST(InstallFolder, WriteTestLeavesAnExistingNameAlone) {
    TempDir dir;
    const int32_t now = static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)));
    std::vector<std::wstring> planted;
    for (int32_t t = now; t < now + 3; ++t) planted.push_back(dir.File(L"qxtest_" + std::to_wstring(t) + L".kvqx"));
    for (const std::wstring& p : planted) WriteText(p, "someone else's");
    EXPECT_FALSE(IsPathWritable(dir.Path()));
    for (const std::wstring& p : planted) EXPECT_EQ(ReadFileBytes(p), "someone else's");
    for (const std::wstring& p : planted) ::DeleteFileW(p.c_str());
}

// Regression: a typed "abc" was created beside the installer and installed into.
TEST(InstallFolder, TypedFolderMustNameItsDrive) {
    for (const wchar_t* ok : {L"D:\\Games\\KorvelQixar", L"c:\\", L"E:\\My Games\\KorvelQixar"})
        EXPECT_TRUE(IsAbsoluteDrivePath(ok)) << ok;
    for (const wchar_t* bad : {L"", L"abc", L"C:", L"C:abc", L"\\Games", L"..\\x", L"1:\\x", L"\\\\server\\share"})
        EXPECT_FALSE(IsAbsoluteDrivePath(bad)) << bad;
}

TEST(InstallFolder, FreeSpaceRuleAtTheRequiredAmount) {
    SetFreeSpaceSource(&InjectedFree);
    g_injectedFree = kRequiredFreeBytes;
    EXPECT_TRUE(HasEnoughFreeSpace(QueryFreeSpace(L"D:\\Games\\KorvelQixar")));
    EXPECT_EQ(g_lastQuery, L"D:");
    EXPECT_EQ(FormatSize(QueryFreeSpace(L"D:\\x")), L"120.00MB");
    g_injectedFree = kRequiredFreeBytes - 1;
    EXPECT_FALSE(HasEnoughFreeSpace(QueryFreeSpace(L"Games")));
    EXPECT_EQ(g_lastQuery, L"Ga");  // a folder text without a drive: its first two characters
    QueryFreeSpace(L"x");
    EXPECT_EQ(g_lastQuery, L"");
    SetFreeSpaceSource(nullptr);
    EXPECT_GT(QueryFreeSpace(L"C:\\anything"), 0u);
}

// The system drive (C: here), where the package is downloaded, is the one
// shown once it is short, unless the installation folder is on it too.
TEST(InstallFolder, AShortSystemDriveIsToldAsSuch) {
    static uint64_t systemFree;
    SetFreeSpaceSource([](const std::wstring& drive) { return (drive[0] | 0x20) == L'c' ? systemFree : g_injectedFree; });
    const struct { const wchar_t* folder; uint64_t system, shown; bool systemDrive; } cases[] = {
        {L"D:\\Games", kRequiredFreeBytes - 1, kRequiredFreeBytes - 1, true}, {L"D:\\Games", kRequiredFreeBytes, 7, false},
        {L"c:\\Games", kRequiredFreeBytes - 1, kRequiredFreeBytes - 1, false}, {L"Games", kRequiredFreeBytes - 1, 7, false},
    };
    for (const auto& c : cases) {
        g_injectedFree = 7, systemFree = c.system;
        const InstallSpace space = QueryInstallSpace(c.folder);
        EXPECT_EQ(space.freeBytes, c.shown) << c.folder;
        EXPECT_EQ(space.systemDrive, c.systemDrive) << c.folder;
    }
    SetFreeSpaceSource(nullptr);
}

TEST(InstallFolder, PackageBesideTheInstaller) {
    TempDir dir;
    LocalPackage none = CheckLocalPackage(dir.Path(), nullptr);
    EXPECT_FALSE(none.keepPackage);
    WriteText(dir.File(L"kvinstaller.exe"), "");
    EXPECT_FALSE(CheckLocalPackage(dir.Path(), nullptr).keepPackage);  // the marker decides
    WriteText(dir.File(L"kvmain.dll"), "");
    const LocalPackage both = CheckLocalPackage(dir.Path(), nullptr);
    EXPECT_TRUE(both.keepPackage);
    EXPECT_TRUE(both.packageReady);
    EXPECT_EQ(both.packageDir, dir.Path());
    ::DeleteFileW(dir.File(L"kvinstaller.exe").c_str());
    const LocalPackage marker = CheckLocalPackage(dir.Path(), nullptr);
    EXPECT_TRUE(marker.keepPackage);
    EXPECT_FALSE(marker.packageReady);
    ::DeleteFileW(dir.File(L"kvmain.dll").c_str());
}

// A build with a key runs the package beside the installer only when
// "kvinstaller.exe.sig" is the key's signature of its bytes (the folder is
// usually Downloads, which anything the user runs can write).
TEST(InstallFolder, WithAKeyThePackageBesideTheInstallerNeedsItsSignature) {
    TempDir dir;
    TestSigner signer;
    TestSigner other;
    const std::wstring exe = dir.File(L"kvinstaller.exe");
    const std::wstring sig = exe + L".sig";
    const std::string package = "MZ" + std::string(300000, 'p');
    WriteBytes(exe, package);
    WriteText(dir.File(L"kvmain.dll"), "");
    CSha256 sha;
    sha.Update(package.data(), package.size());
    const std::wstring packageSha256 = sha.HexDigest();
    const struct {
        const char* what;
        bool published;
        std::string signature;
        bool ready;
    } cases[] = {
        {"no signature", false, "", false},
        {"signature of the package", true, signer.Sign(package), true},
        {"signature of other bytes", true, signer.Sign(package + "x"), false},
        {"signed by another key", true, other.Sign(package), false},
        {"empty signature file", true, "", false},
        {"a signature followed by more than a signature can hold", true, signer.Sign(package) + std::string(1100, '\0'),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileW(sig.c_str());
        if (c.published) WriteBytes(sig, c.signature);
        const LocalPackage local = CheckLocalPackage(dir.Path(), &signer.PublicKey());
        EXPECT_TRUE(local.keepPackage);
        EXPECT_EQ(local.packageDir, dir.Path());
        EXPECT_EQ(local.packageReady, c.ready);
        EXPECT_EQ(local.sha256, c.ready ? packageSha256 : L"");
    }
    // The signed package while another process holds it open for writing: it
    // is read only through a handle that denies writing, so it is not used.
    HANDLE writer = ::CreateFileW(exe.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CheckLocalPackage(dir.Path(), &signer.PublicKey()).packageReady);
    ::CloseHandle(writer);
    // Without a key nothing is asked of it.
    ::DeleteFileW(sig.c_str());
    const LocalPackage unsignedBuild = CheckLocalPackage(dir.Path(), nullptr);
    EXPECT_TRUE(unsignedBuild.packageReady);
    EXPECT_EQ(unsignedBuild.sha256, L"");
    ::DeleteFileW(exe.c_str());
    ::DeleteFileW(dir.File(L"kvmain.dll").c_str());
}

// D: mapped by with-host-fixtures.sh: "writable" to a fresh folder, or
// "unwritable" to a place where no file can be created.
TEST(DriveRules, DefaultFolderPrefersDThenTheFirstWritableFixedDrive) {
    const char* scenario = std::getenv("KV_DRIVE_SCENARIO");
    if (!scenario) GTEST_SKIP() << "run through with-host-fixtures.sh";
    const std::wstring chosen = DefaultInstallDir();
    if (std::string(scenario) == "d-writable") {
        EXPECT_EQ(chosen, L"D:\\Korvel网络\\KorvelQixar");
        EXPECT_FALSE(Exists(L"D:\\Korvel网络"));  // the write test creates nothing
    } else {
        EXPECT_EQ(chosen, L"C:\\Korvel网络\\KorvelQixar");  // A: and B: are absent, C: is fixed and writable
    }
}
