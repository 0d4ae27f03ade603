#include "CommonUtils.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/Log.h"

namespace {

const wchar_t kLogFile[] = L".\\CommonUtils";

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool EndsWithSeparator(const std::wstring& p) { return !p.empty() && (p.back() == L'\\' || p.back() == L'/'); }

// SHCreateDirectoryExW, which also creates the missing parents; 0 on success.
int CreateDirWithParents(const std::wstring& path) {
    if (PathExists(path)) return 0;
    const int ret = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return (ret == ERROR_SUCCESS || ret == ERROR_ALREADY_EXISTS) ? 0 : (ret ? ret : -1);
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The main-module path of another process, "" when it cannot be read. Psapi
// is loaded per call, as older systems keep the function only there.
class ModulePathReader {
public:
    ModulePathReader() : psapi_(::LoadLibraryExW(L"Psapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (psapi_) {
            getName_ = reinterpret_cast<GetNameFn>(
                reinterpret_cast<void*>(::GetProcAddress(psapi_.get(), "GetModuleFileNameExW")));
        }
    }

    bool Usable() const { return getName_ != nullptr; }
    std::wstring Read(DWORD pid) const {
        kv::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        if (!process) return {};
        wchar_t name[1024];
        const DWORD n = getName_(process.get(), nullptr, name, 1024);
        return std::wstring(name, n < 1024 ? n : 0);
    }

private:
    using GetNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    kv::UniqueLibrary psapi_;
    GetNameFn getName_ = nullptr;
};

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    if (prefix.empty() || text.size() < prefix.size()) return false;
    return ::CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// The first process, in snapshot order and other than this one, whose main
// module path begins with `prefix`.
DWORD FindProcessWithPrefix(const std::wstring& prefix) {
    if (prefix.empty()) return 0;
    ModulePathReader reader;
    if (!reader.Usable()) return 0;
    kv::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) continue;
        if (StartsWithNoCase(reader.Read(entry.th32ProcessID), prefix)) return entry.th32ProcessID;
    }
    return 0;
}

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM param, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        std::wstring initial = reinterpret_cast<const wchar_t*>(data);
        if (initial.empty()) {
            wchar_t current[MAX_PATH] = {};
            ::GetCurrentDirectoryW(MAX_PATH, current);
            initial = current;
        }
        ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(initial.c_str()));
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        if (::SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(param), path)) {
            ::SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
        }
    }
    return 0;
}

}  // namespace

std::wstring FormatSize(uint64_t bytes) {
    static const wchar_t* const kFormats[] = {L"%.0fB", L"%.2fKB", L"%.2fMB", L"%.2fGB", L"%.2fTB"};
    constexpr size_t kUnits = sizeof(kFormats) / sizeof(kFormats[0]);
    double divisor = 1;
    size_t unit = 0;
    while (unit + 1 < kUnits && static_cast<double>(bytes) >= 1000.0 * divisor) {
        divisor *= 1024;
        ++unit;
    }
    wchar_t text[64];
    const int n = _snwprintf(text, 63, kFormats[unit], static_cast<double>(bytes) / divisor);
    return std::wstring(text, n > 0 ? static_cast<size_t>(n) : 0);
}

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

std::wstring GetAppDir() {
    static std::wstring cached;
    if (!cached.empty()) return cached;
    wchar_t path[512];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, 512);
    if (n == 0 || n >= 512) return {};
    std::wstring full(path, n);
    const size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    cached = full.substr(0, slash);
    return cached;
}

std::wstring NormalizePath(const std::wstring& p) {
    if (p.empty()) return p;
    std::wstring out;
    out.reserve(p.size());
    for (wchar_t c : p) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(c);
    }
    if (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

std::wstring ParentDir(const std::wstring& p) {
    if (p.empty()) return p;
    const std::wstring normal = NormalizePath(p);
    const size_t slash = normal.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : normal.substr(0, slash);
}

std::wstring DirOfFile(const std::wstring& p) {
    if (p.empty()) return p;
    std::wstring path = p;
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    if (path.back() == L'\\') path.pop_back();
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring BrowseForFolder(HWND owner, const std::wstring& initial) {
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = L"选择文件夹";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    info.lpfn = &BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    const kv::UniqueCoTaskMem chosen(::SHBrowseForFolderW(&info));
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    std::wstring result;
    if (::SHGetPathFromIDListW(static_cast<LPCITEMIDLIST>(chosen.get()), path) && path[0]) {
        result = path;
        if (!EndsWithSeparator(result)) result += L'\\';
    }
    return result;
}

namespace {

// Creates the process (no handle inheritance, no creation flags, the caller's
// environment and folder); 0 or the system error code.
DWORD CreateChild(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION& info) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    info = {};
    if (::CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                         nullptr, nullptr, &startup, &info)) {
        return 0;
    }
    const DWORD error = ::GetLastError();
    return error ? error : ERROR_INVALID_FUNCTION;
}

}  // namespace

DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out) {
    PROCESS_INFORMATION info;
    if (const DWORD error = CreateChild(program, commandLine, info)) return error;
    const kv::UniqueKernelHandle process(info.hProcess), thread(info.hThread);  // only the ids go out
    if (out) {
        *out = info;
        out->hProcess = nullptr;
        out->hThread = nullptr;
    }
    return 0;
}

DWORD RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs, DWORD* exitCode) {
    PROCESS_INFORMATION info;
    if (const DWORD error = CreateChild(program, commandLine, info)) return error;
    kv::UniqueKernelHandle process(info.hProcess);
    kv::UniqueKernelHandle thread(info.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) return WAIT_TIMEOUT;
    if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) *exitCode = 0xFFFFFFFF;  // unknown: a failure
    return 0;
}

DWORD FindProcessInFolder(const std::wstring& folder) {
    const std::wstring inside = NormalizePath(folder);
    if (inside.empty()) return 0;
    return FindProcessWithPrefix(inside + L"\\");
}

DWORD FindProcessByPathPrefix(const std::wstring& prefix) { return FindProcessWithPrefix(prefix); }

kv::UniqueKernelHandle HoldFolder(const std::wstring& path) {
    // Opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and shared for reading
    // only: nobody can rename or delete the folder while the handle is open,
    // and Windows also refuses to rename any folder above an open one. (A
    // junction can be set only on an empty folder, which has nothing to
    // follow.)
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLink(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    kv::UniqueKernelHandle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
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
        if (!held) return ::RemoveDirectoryW(self.c_str()) != 0;
        WIN32_FIND_DATAW found;
        const kv::UniqueFind find(::FindFirstFileW((dir + L"*.*").c_str(), &found));
        if (find) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = dir + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteDirectoryTree(path + L"\\");
                } else {
                    ::DeleteFileW(path.c_str());  // a file symbolic link goes itself
                }
            } while (::FindNextFileW(find.get(), &found));
        }
    }
    return ::RemoveDirectoryW(self.c_str()) != 0;
}

bool IsDriveRoot(const std::wstring& path) {
    if (path.empty()) return true;
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (!letter || path.size() < 2 || path[1] != L':') return false;
    return path.size() == 2 || (path.size() == 3 && (path[2] == L'\\' || path[2] == L'/'));
}

std::wstring CanonicalPath(const std::wstring& path) {
    // Relative and drive-relative text would resolve against whatever folder
    // the installer runs in; network and device paths are never ours.
    const bool letter = path.size() >= 3 && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z');
    if (!letter || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) return {};
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (n == 0) return {};
        if (n < full.size()) {
            full.resize(n);
            while (full.size() > 3 && EndsWithSeparator(full)) full.pop_back();
            return full;
        }
        full.assign(n, L'\0');  // n counts the terminator when the buffer was short
    }
    return {};
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring ChildPath(const std::wstring& dir, const std::wstring& name) {
    if (dir.empty() || EndsWithSeparator(dir)) return dir + name;
    return dir + L'\\' + name;
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

std::wstring QuoteProgramPath(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are plain text unless a quote follows them.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}
