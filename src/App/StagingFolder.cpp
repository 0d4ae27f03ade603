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
    Release();
    const std::wstring base = CanonicalPath(parent.empty() ? CommonAppDataDir() : parent);
    path_.clear();
    if (base.empty() || PathCrossesLink(base)) {
        KV_LOG(kToConsole | kToFile, Error, L"CStagingFolder %s: unsafe", base.c_str());
        return false;
    }
    const std::wstring path = ChildPath(base, kFolderName);
    bool probed = false;
    ownersKept_ = true;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Checked once held: the folder cannot be swapped for a link after the check.
        held_ = HoldFolder(path);
        if (HeldIsSafe(base, path, probed)) {
            if (!RemoveStrangers(path)) break;
            path_ = path;
            return true;
        }
        held_.reset();
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: foreign, made again", path.c_str());
            DeleteDirectoryTree(path);  // a link goes itself
        }
        const int made = ::SHCreateDirectoryExW(nullptr, path.c_str(), AdminOnlyAttributes());
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) break;
    }
    held_.reset();
    KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: cannot be had (%u), a fresh folder instead: nothing resumes",
           path.c_str(), static_cast<unsigned>(::GetLastError()));
    if (PrepareFresh(base, probed)) return true;
    KV_LOG(kToConsole | kToFile, Error, L"CStagingFolder %s: unusable (%u)", path.c_str(),
           static_cast<unsigned>(::GetLastError()));
    return false;
}

void CStagingFolder::Release() {
    held_.reset();
    if (fresh_ && !DeleteDirectoryTree(path_)) {
        KV_LOG(kToConsole | kToFile, Warn, L"CStagingFolder %s: not removed", path_.c_str());
    }
    fresh_ = false;
}

bool CStagingFolder::HeldIsSafe(const std::wstring& base, const std::wstring& path, bool& probed) {
    if (!held_ || PathCrossesLink(path)) return false;
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
    return safe || !ownersKept_;
}

bool CStagingFolder::PrepareFresh(const std::wstring& base, bool& probed) {
    // Made new here (never one that is already there), so nobody else can
    // have put anything in it or a link in its place.
    const std::wstring fresh = FormatString(L"%s\\%s.%lu.%llu", base.c_str(), kFolderName, ::GetCurrentProcessId(),
                                            static_cast<unsigned long long>(::GetTickCount64()));
    SECURITY_ATTRIBUTES* const adminOnly = AdminOnlyAttributes();
    if (!adminOnly || !::CreateDirectoryW(fresh.c_str(), adminOnly)) return false;
    held_ = HoldFolder(fresh);
    if (!HeldIsSafe(base, fresh, probed)) {
        held_.reset();
        ::RemoveDirectoryW(fresh.c_str());
        return false;
    }
    KV_LOG(kToConsole | kToFile, Info, L"CStagingFolder %s: fresh", fresh.c_str());
    path_ = fresh;
    fresh_ = true;
    return true;
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
