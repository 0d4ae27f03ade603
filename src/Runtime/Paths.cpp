#include "Runtime/Paths.h"

#include <windows.h>

bool EndsWithSeparator(const std::wstring& p) { return !p.empty() && (p.back() == L'\\' || p.back() == L'/'); }

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
