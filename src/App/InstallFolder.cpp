#include "App/InstallFolder.h"

#include <windows.h>
#include <shlobj.h>

#include <ctime>

#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"
#include "Updater/FileSignature.h"

namespace {

constexpr wchar_t kLogFile[] = L".\\App\\InstallFolder";
constexpr DWORD kPathChars = 2048;
constexpr DWORD kRegistryValueBytes = 4096;
constexpr DWORD kDriveStringChars = 100;

uint64_t (*g_freeSpaceSource)(const std::wstring&) = nullptr;

bool PathExists(const std::wstring& path) {
    return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) {
    return FormatString(L"%s\\%s", dir.c_str(), name.c_str());
}

// "InstPath" of the launcher's key in the 32-bit registry view (the launcher
// is a 32-bit program; a 64-bit build would otherwise read the 64-bit view).
std::wstring RegistryInstallPath() {
    kv::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLauncherRegKey, 0, KEY_READ | KEY_WOW64_32KEY, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    std::wstring value;
    wchar_t buffer[kRegistryValueBytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(buffer);
    if (::RegQueryValueExW(key.get(), kLauncherRegValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        value.assign(buffer, bytes / sizeof(wchar_t));
        const size_t end = value.find(L'\0');
        if (end != std::wstring::npos) value.resize(end);
    }
    return value;
}

// Whether the path names an existing folder (true) or file (false).
bool Exists(const std::wstring& path, bool folder) {
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

// The folder of a canonical file path; a drive root keeps its "\".
std::wstring FolderOf(const std::wstring& file) {
    const std::wstring dir = DirOfFile(file);
    return dir.size() == 2 ? dir + L"\\" : dir;
}

// The launcher named by the ini in the common application data folder, in
// canonical form; "" unless it is an existing "KorvelLauncher.exe" reached
// without a link. Any user may write that ini: what it names is checked.
std::wstring IniLauncherPath() {
    const std::wstring appData = CommonAppDataDir();
    if (appData.empty()) return {};
    wchar_t value[kPathChars] = {};
    ::GetPrivateProfileStringW(kLauncherIniSection, kLauncherIniKey, L"", value, kPathChars,
                               JoinPath(appData, kLauncherIniName).c_str());
    if (!value[0]) return {};
    const std::wstring exe = CanonicalPath(value);
    if (exe.empty() || !NamesLauncherProgram(exe) || !Exists(exe, false) || PathCrossesLink(exe)) {
        KV_LOG(kToConsole | kToFile, Warn, L"DetectExistingInstall ini: \"%s\" ignored", value);
        return {};
    }
    return exe;
}

}  // namespace

bool DetectExistingInstall(std::wstring& launcherExe, std::wstring& installDir) {
    launcherExe.clear();
    const std::wstring fromIni = IniLauncherPath();
    const std::wstring instPath = CanonicalPath(RegistryInstallPath());
    if (Exists(instPath, true)) {
        if (!fromIni.empty() && !SamePath(FolderOf(fromIni), instPath)) {
            KV_LOG(kToConsole | kToFile, Warn, L"DetectExistingInstall ini: %s ignored for %s", fromIni.c_str(),
                   instPath.c_str());
        }
        installDir = instPath;  // proposed even when the launcher itself is gone
        const std::wstring exe = ChildPath(instPath, kLauncherExeName);
        if (!Exists(exe, false)) return false;
        launcherExe = exe;
        return true;
    }
    if (fromIni.empty()) return false;
    launcherExe = fromIni;
    installDir = FolderOf(fromIni);
    return true;
}

std::wstring CommonAppDataDir() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

bool NamesLauncherProgram(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const wchar_t* name = path.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
    return ::CompareStringOrdinal(name, -1, kLauncherExeName, -1, TRUE) == CSTR_EQUAL;
}

std::wstring DefaultInstallDir() {
    const std::wstring onD = FormatString(L"D:\\%s", kDefaultRelativeDir);
    if (IsPathWritable(onD)) return onD;

    wchar_t drives[kDriveStringChars] = {};
    const DWORD length = ::GetLogicalDriveStringsW(kDriveStringChars, drives);
    if (length == 0 || length >= kDriveStringChars) return {};
    for (const wchar_t* root = drives; *root; root += wcslen(root) + 1) {
        if (::GetDriveTypeW(root) != DRIVE_FIXED) continue;
        const std::wstring candidate = std::wstring(root) + kDefaultRelativeDir;
        if (IsPathWritable(candidate)) return candidate;
    }
    return {};
}

bool IsPathWritable(const std::wstring& path) {
    std::wstring p = path;
    // Nothing is created in missing folders: the test goes to the nearest existing part.
    while (!p.empty() && !PathExists(p)) p = ParentDir(p);
    if (p.empty()) return false;
    const int32_t now = static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)));
    const std::wstring testFile = FormatString(L"%s\\qxtest_%d.kvqx", p.c_str(), now);
    // A new file only (an existing name, a link planted under the predictable
    // name too, is never opened, truncated or deleted), gone with its handle:
    // nothing is deleted by name.
    const kv::UniqueKernelHandle file(::CreateFileW(testFile.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                                                        FILE_FLAG_DELETE_ON_CLOSE,
                                                    nullptr));
    return file.valid();
}

bool CreateEmptyFile(const std::wstring& path) {
    CreateDir(ParentDir(path));
    const kv::UniqueKernelHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

uint64_t QueryFreeSpace(const std::wstring& installDir) {
    const std::wstring queryPath = installDir.size() >= 2 ? installDir.substr(0, 2) : std::wstring();
    if (g_freeSpaceSource) return g_freeSpaceSource(queryPath);
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(queryPath.c_str(), &available, nullptr, nullptr)) return 0;
    return available.QuadPart;
}

void SetFreeSpaceSource(uint64_t (*source)(const std::wstring& queryPath)) { g_freeSpaceSource = source; }

bool HasEnoughFreeSpace(uint64_t freeBytes) { return freeBytes >= kRequiredFreeBytes; }

InstallSpace QueryInstallSpace(const std::wstring& installDir) {
    const std::wstring system = CommonAppDataDir();
    if (system.size() >= 2 && installDir.size() >= 2 && installDir[1] == L':' &&
        ::CompareStringOrdinal(system.c_str(), 2, installDir.c_str(), 2, TRUE) != CSTR_EQUAL) {
        const uint64_t systemFree = QueryFreeSpace(system);
        if (!HasEnoughFreeSpace(systemFree)) return {systemFree, true};
    }
    return {QueryFreeSpace(installDir), false};
}

LocalPackage CheckLocalPackage(const std::wstring& appDir, const kv::EcdsaP256PublicKey* key) {
    LocalPackage result;
    if (!PathExists(JoinPath(appDir, L"kvmain.dll"))) return result;
    result.keepPackage = true;
    result.packageDir = appDir;
    const std::wstring package = JoinPath(appDir, L"kvinstaller.exe");
    if (!key) {
        result.packageReady = PathExists(package);
        return result;
    }
    // The installer's folder is usually Downloads, which anything the user
    // runs can write: only a package signed with the descriptor key is run.
    result.packageReady = kv::VerifyFileSignature(*key, package, package + L".sig", result.sha256);
    if (!result.packageReady) result.sha256.clear();
    return result;
}

bool IsAbsoluteDrivePath(const std::wstring& path) {
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
    const wchar_t drive = static_cast<wchar_t>(path[0] | 0x20);
    return drive >= L'a' && drive <= L'z';
}
