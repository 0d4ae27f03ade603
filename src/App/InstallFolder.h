#pragma once
// The installation-folder rules: an earlier installation (launcher ini, then
// the registry's 32-bit view), the default folder, the write test, the free
// space rule and a package delivered beside the installer. Free functions;
// the installer window wires them to its fields. Main thread only.
#include <cstdint>
#include <string>

#include "Updater/DescriptorSignature.h"

// Launcher ini in the common application data folder, and its key.
constexpr wchar_t kLauncherIniName[] = L"KorvelLaucher.ini";
constexpr wchar_t kLauncherIniSection[] = L"KorvelSite-Launcher";
constexpr wchar_t kLauncherIniKey[] = L"InstallPath";
// HKEY_LOCAL_MACHINE key (32-bit view) and value of the launcher.
constexpr wchar_t kLauncherRegKey[] = L"SOFTWARE\\KorvelLauncher";
constexpr wchar_t kLauncherRegValue[] = L"InstPath";
constexpr wchar_t kLauncherExeName[] = L"KorvelLauncher.exe";
// Folder below a drive root that a default installation goes to.
constexpr wchar_t kDefaultRelativeDir[] = L"Korvel网络\\KorvelQixar";

// Clears launcherExe; true when an earlier launcher program was found. The
// registry's folder (administrators only) comes first: it may set installDir
// (an existing folder) without a launcher. The ini, which any user can write,
// counts only without a registry folder or when it names the same one, and
// only when it names an existing file "KorvelLauncher.exe" by a full path
// that crosses no link. Both results are canonical (CanonicalPath).
bool DetectExistingInstall(std::wstring& launcherExe, std::wstring& installDir);
// The common application data folder, from the shell (never from an
// environment variable anyone may set); "" when it cannot tell.
std::wstring CommonAppDataDir();
// Whether the path's last part is "KorvelLauncher.exe" (in any case).
bool NamesLauncherProgram(const std::wstring& path);
// D:\Korvel网络\KorvelQixar when writable, else the same folder on the first
// writable fixed drive; "" when no drive qualifies.
std::wstring DefaultInstallDir();
// Walks up to the nearest existing part of the path and tries to create a
// new test file there, deleted through its handle. Creates no folders.
bool IsPathWritable(const std::wstring& path);
// Creates the file's folder (result ignored) and the file, empty.
bool CreateEmptyFile(const std::wstring& path);
// A folder the user typed must name its drive: "X:\..." (a relative or
// drive-relative text would land wherever the installer happens to run).
bool IsAbsoluteDrivePath(const std::wstring& path);

constexpr uint64_t kRequiredFreeBytes = 125829120;  // 120 MiB
// Free bytes available to the caller on the drive of installDir (its first two
// characters); 0 when the query fails.
uint64_t QueryFreeSpace(const std::wstring& installDir);
// Test injection of the free-space query (gets the two-character query path);
// null restores the real one.
void SetFreeSpaceSource(uint64_t (*source)(const std::wstring& queryPath));
bool HasEnoughFreeSpace(uint64_t freeBytes);
// The room an installation into installDir has: the system drive's (the
// common application data folder's, where the package is downloaded) when it
// is another drive and too full, else the installation folder drive's.
struct InstallSpace {
    uint64_t freeBytes = 0;
    bool systemDrive = false;  // the system drive is short: no installation folder can help
};
InstallSpace QueryInstallSpace(const std::wstring& installDir);

struct LocalPackage {
    bool keepPackage = false;   // "kvmain.dll" lies beside the installer
    bool packageReady = false;  // and so does "kvinstaller.exe" (signed, with a key)
    std::wstring packageDir;    // appDir when keepPackage
    std::wstring sha256;        // with a key: the SHA-256 of the package whose signature verified
};
// With a key, "kvinstaller.exe" counts only when "kvinstaller.exe.sig"
// beside it is the key's signature of its bytes; otherwise it is left for
// the download to replace. Null key: no signature is asked for.
LocalPackage CheckLocalPackage(const std::wstring& appDir, const kv::EcdsaP256PublicKey* key);
