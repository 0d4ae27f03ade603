#include "App/Processes.h"

#include <tlhelp32.h>

#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/Paths.h"
#include "Runtime/TextUtils.h"

namespace {

// How long an ended process is given to be gone.
constexpr DWORD kEndWaitMs = 5000;


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

// Creates the process (no handle inheritance, no creation flags, the caller's
// environment and folder); 0 or the system error code.
DWORD CreateChild(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION& info,
                  const std::wstring& currentDir = L"") {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    info = {};
    if (::CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                         nullptr, currentDir.empty() ? nullptr : currentDir.c_str(), &startup, &info)) {
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

DWORD RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs, DWORD* exitCode,
                 bool endOnTimeout, const std::wstring& currentDir) {
    PROCESS_INFORMATION info;
    if (const DWORD error = CreateChild(program, commandLine, info, currentDir)) return error;
    kv::UniqueKernelHandle process(info.hProcess);
    kv::UniqueKernelHandle thread(info.hThread);
    if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) {
        if (endOnTimeout && ::TerminateProcess(process.get(), WAIT_TIMEOUT)) {
            ::WaitForSingleObject(process.get(), kEndWaitMs);
        }
        return WAIT_TIMEOUT;
    }
    if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) *exitCode = 0xFFFFFFFF;  // unknown: a failure
    return 0;
}

DWORD FindProcessInFolder(const std::wstring& folder) {
    const std::wstring inside = NormalizePath(folder);
    if (inside.empty()) return 0;
    return FindProcessWithPrefix(inside + L"\\");
}

std::wstring QuoteProgramPath(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return FormatString(L"\"%s\"", path.c_str());
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
