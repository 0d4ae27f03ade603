#include "Runtime/FileSystem.h"

#include <shlobj.h>

#include "Runtime/Log.h"
#include "Runtime/Paths.h"

namespace {

const wchar_t kLogFile[] = L".\\Runtime\\FileSystem";

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// SHCreateDirectoryExW, which also creates the missing parents; 0 on success.
int CreateDirWithParents(const std::wstring& path) {
    if (PathExists(path)) return 0;
    const int ret = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return (ret == ERROR_SUCCESS || ret == ERROR_ALREADY_EXISTS) ? 0 : (ret ? ret : -1);
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

}  // namespace

bool CreateDir(const std::wstring& path) {
    const int ret = CreateDirWithParents(path);
    if (ret == 0) return true;
    KV_LOG(kToTrace | kToFile, Error, L"CreateDir：%s ret：%d", path.c_str(), ret);
    return false;
}

bool EnsureDirExists(const std::wstring& path) { return CreateDirWithParents(path) == 0; }

bool RemoveFile(const std::wstring& path) {
    if (!PathExists(path)) return true;
    if (::DeleteFileW(path.c_str())) return true;
    ::Sleep(1);
    return false;
}

bool MoveFileReplace(const std::wstring& from, const std::wstring& to) {
    if (!PathExists(from)) return false;
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    ::Sleep(1);
    return false;
}

int64_t GetFileSize64(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }
    WIN32_FIND_DATAW found;
    if (!kv::UniqueFind(::FindFirstFileW(path.c_str(), &found))) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
}

kv::UniqueKernelHandle HoldFolder(const std::wstring& path) {
    // Opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and shared for reading
    // only: nobody can rename or delete the folder while the handle is open,
    // and Windows also refuses to rename any folder above an open one. (A
    // junction can be set only on an empty folder, which has nothing to
    // follow.)
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    kv::UniqueKernelHandle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // What was opened is checked, not the name looked at before: it may have
    // been turned into a link in between.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info) || IsLink(info.dwFileAttributes) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return {};
    }
    return folder;
}

bool DeleteDirectoryTree(const std::wstring& dirEndingInBackslash) {
    std::wstring dir = dirEndingInBackslash;
    if (dir.empty()) return false;
    if (!EndsWithSeparator(dir)) dir += L'\\';
    const std::wstring self = dir.substr(0, dir.size() - 1);
    if (::GetFileAttributesW(self.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    {
        // Held while its entries go, so that every path below stays inside
        // it; a folder that is (or just became) a link is not held, and only
        // the link itself is removed, never what it points to.
        const kv::UniqueKernelHandle held = HoldFolder(self);
        if (!held) return DeleteEntryItself(self);
        WIN32_FIND_DATAW found;
        const kv::UniqueFind find(::FindFirstFileW((dir + L"*.*").c_str(), &found));
        if (find) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = dir + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteDirectoryTree(path);
                } else {
                    DeleteEntryItself(path);  // a file symbolic link goes itself
                }
            } while (::FindNextFileW(find.get(), &found));
        }
    }
    return ::RemoveDirectoryW(self.c_str()) != 0;
}

bool DeleteEntryItself(const std::wstring& path) {
    // Deleted by its name once the handle shows the name leads to the entry
    // itself: Windows deletes a link by its name, never its target.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    {
        const kv::UniqueKernelHandle entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                         OPEN_EXISTING,
                                                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!entry || !IsAtFinalPath(entry.get(), path)) return false;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) != 0
                                                   : ::DeleteFileW(path.c_str()) != 0;
}

bool PathCrossesLink(const std::wstring& canonicalPath) {
    // Each folder from the first below the root ("D:\a") down to the path
    // itself, cut off in place at its separator.
    std::wstring path = canonicalPath;
    for (size_t i = 4; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        const wchar_t kept = path[i];
        path[i] = L'\0';
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        path[i] = kept;
        if (attributes != INVALID_FILE_ATTRIBUTES && IsLink(attributes)) return true;
    }
    return false;
}

std::wstring FinalPathOf(HANDLE object) {
    // Room for the longest path there is.
    constexpr DWORD kRoom = 32768;
    std::wstring path(kRoom, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(object, &path[0], kRoom, 0);
    if (length == 0 || length >= kRoom) return {};
    path.resize(length);
    // "\\?\UNC\server\share" is "\\server\share", "\\?\C:\x" is "C:\x".
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool IsAtFinalPath(HANDLE object, const std::wstring& givenPath) {
    // Short (8.3) names, as %TEMP% often has them, are compared in their long
    // form, which is what the final path shows.
    std::wstring fullPath(32768, L'\0');
    const DWORD length = ::GetLongPathNameW(givenPath.c_str(), &fullPath[0], 32768);
    fullPath.resize(length < 32768 ? length : 0);
    // The drive ("X:\") or the share ("\\server\share\") that the path begins with.
    size_t rootEnd = 3;
    if (fullPath.compare(0, 2, L"\\\\") == 0) {
        const size_t server = fullPath.find(L'\\', 2);
        rootEnd = server == std::wstring::npos ? std::wstring::npos : fullPath.find(L'\\', server + 1);
        if (rootEnd != std::wstring::npos) ++rootEnd;
    }
    if (rootEnd == std::wstring::npos || rootEnd > fullPath.size()) return false;
    const kv::UniqueKernelHandle root(::CreateFileW(fullPath.substr(0, rootEnd).c_str(), 0,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring expected = root ? FinalPathOf(root.get()) : std::wstring();
    if (expected.empty()) return false;
    if (!EndsWithSeparator(expected)) expected += L'\\';
    expected += fullPath.substr(rootEnd);
    const std::wstring actual = FinalPathOf(object);
    return !actual.empty() && ::CompareStringOrdinal(actual.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}
