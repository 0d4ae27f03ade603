#include "App/StagingFolder.h"

#include <shlobj.h>

#include "App/InstallFolder.h"
#include "Runtime/FileSystem.h"
#include "Runtime/Log.h"
#include "Runtime/Paths.h"
#include "Runtime/TextUtils.h"

namespace {

constexpr wchar_t kLogFile[] = L".\\App\\StagingFolder";
constexpr wchar_t kFolderName[] = L"KorvelQixarInstaller";

// The entry opened as itself where the system can, its owner readable.
kv::UniqueKernelHandle OpenEntry(const std::wstring& path) {
    return kv::UniqueKernelHandle(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

bool CStagingFolder::Prepare(const std::wstring& parent) {
    if (fresh_) return true;  // still held since it was made
    const std::wstring base = CanonicalPath(parent.empty() ? CommonAppDataDir() : parent);
    path_.clear();
    if (base.empty() || PathCrossesLink(base)) {
        KV_LOG(kToConsole | kToFile, Error, L"CStagingFolder %s: unsafe", base.c_str());
        return false;
    }
    bool probed = false;
    ownersKept_ = true;
    // Holds `path` and checks it once held (it cannot be swapped for a link
    // after the check), then clears out what may not be resumed. 1: taken;
    // 0: failed its check; -1: holds what cannot be removed.
    const auto take = [&](const std::wstring& path) {
        held_ = HoldFolder(path);
        if (!held_ || PathCrossesLink(path)) return 0;
        const bool safe = adminOnly_(held_.get(), SE_FILE_OBJECT, false);
        // On a volume that keeps no access list at all nothing can protect
        // the folder; making it again would only lose the partial download.
        if (!safe && !probed) {
            probed = true;
            ownersKept_ = VolumeKeepsDescriptors(base);
            if (!ownersKept_) {
                KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: no access lists kept", base.c_str());
            }
        }
        if (!safe && ownersKept_) return 0;
        if (!RemoveStrangers(path)) return -1;
        path_ = path;
        return 1;
    };
    // Three checks of the fixed folder, made again between them.
    std::wstring path = ChildPath(base, kFolderName);
    for (int check = 0;; ++check) {
        const int taken = take(path);
        if (taken > 0) return true;
        held_.reset();
        if (taken < 0 || check == 2) break;
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: foreign, made again", path.c_str());
            DeleteDirectoryTree(path);  // a link goes itself
        }
        const int made = ::SHCreateDirectoryExW(nullptr, path.c_str(), AdminOnlyAttributes());
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) break;
    }
    // A user keeps the folder from being made again (an access list denying
    // administrators, a file held open, a link the system follows): a new
    // folder beside it that nobody can have named first (only one made new
    // here is taken), checked the same way.
    KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: unusable (%u), a fresh folder instead: nothing resumes",
           path.c_str(), static_cast<unsigned>(::GetLastError()));
    path = FormatString(L"%s.%lu.%llu", path.c_str(), ::GetCurrentProcessId(),
                        static_cast<unsigned long long>(::GetTickCount64()));
    if (::SHCreateDirectoryExW(nullptr, path.c_str(), AdminOnlyAttributes()) == ERROR_SUCCESS) {
        fresh_ = true;
        if (take(path) > 0) return true;
        held_.reset();
        fresh_ = false;
        ::RemoveDirectoryW(path.c_str());  // made here, failed its check
    }
    KV_LOG(kToConsole | kToFile, Error, L"CStagingFolder %s: unusable (%u)", path.c_str(),
           static_cast<unsigned>(::GetLastError()));
    return false;
}

bool CStagingFolder::VolumeKeepsDescriptors(const std::wstring& base) const {
    // A new folder made with the admin-only descriptor and read back. One
    // that cannot be made new (or without that descriptor), or not opened,
    // tells nothing: the volume is taken to keep them, so that the existing
    // folder is made again rather than trusted.
    const std::wstring probe = FormatString(L"%s\\%s.%lx%llx", base.c_str(), kFolderName, ::GetCurrentProcessId(),
                                            static_cast<unsigned long long>(::GetTickCount64()));
    SECURITY_ATTRIBUTES* const adminOnly = AdminOnlyAttributes();
    if (!adminOnly || ::SHCreateDirectoryExW(nullptr, probe.c_str(), adminOnly) != ERROR_SUCCESS) return true;
    bool kept = true;
    if (const kv::UniqueKernelHandle opened = OpenEntry(probe)) kept = adminOnly_(opened.get(), SE_FILE_OBJECT, false);
    ::RemoveDirectoryW(probe.c_str());
    return kept;
}

bool CStagingFolder::RemoveStrangers(const std::wstring& folder) const {
    // A partial download or control file is resumed only when nobody but an
    // administrator can have put it there or given it a second name. What
    // cannot be removed (a link the system follows all the same) makes the
    // folder unusable.
    bool clean = true;
    WIN32_FIND_DATAW found;
    const kv::UniqueFind find(::FindFirstFileW(ChildPath(folder, L"*").c_str(), &found));
    if (!find) return true;
    do {
        const wchar_t* name = found.cFileName;
        if (name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2]))) continue;  // "." and ".."
        const std::wstring path = ChildPath(folder, name);
        {
            BY_HANDLE_FILE_INFORMATION info = {};
            const kv::UniqueKernelHandle entry = OpenEntry(path);
            if (!entry || !::GetFileInformationByHandle(entry.get(), &info)) continue;  // in use: left alone
            if (!((info.dwFileAttributes | found.dwFileAttributes) &
                  (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                info.nNumberOfLinks == 1 && IsAtFinalPath(entry.get(), path) &&
                (!ownersKept_ || adminOnly_(entry.get(), SE_FILE_OBJECT, true))) {
                continue;
            }
        }
        // A file or link goes itself, a folder with what it holds.
        const bool removed = DeleteDirectoryTree(path);
        clean = clean && removed;
        KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: not plain, %s", path.c_str(),
               removed ? L"removed" : L"kept");
    } while (::FindNextFileW(find.get(), &found));
    return clean;
}
