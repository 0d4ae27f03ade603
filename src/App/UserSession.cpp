#include "App/UserSession.h"

#include <tlhelp32.h>

#include <memory>
#include <vector>

#include "Runtime/Handles.h"

namespace {

// A token's information of a fixed-size class; false when it cannot be read.
template <typename T>
bool TokenValue(HANDLE token, TOKEN_INFORMATION_CLASS what, T& value) {
    DWORD size = 0;
    return ::GetTokenInformation(token, what, &value, sizeof(value), &size) != 0;
}

// The token's user (TokenUser), in a buffer of its own.
std::vector<BYTE> TokenUserOf(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
    return buffer;
}

PSID UserSid(const std::vector<BYTE>& tokenUser) {
    return tokenUser.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid;
}

kv::UniqueKernelHandle OwnToken() {
    kv::UniqueKernelHandle token;
    HANDLE h = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &h)) token.reset(h);
    return token;
}

bool Elevated(HANDLE token) {
    TOKEN_ELEVATION elevation = {};
    return TokenValue(token, TokenElevation, elevation) && elevation.TokenIsElevated != 0;
}

// A function of a system DLL outside KnownDLLs, loaded from the system folder only.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) {
    HMODULE module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(module ? ::GetProcAddress(module, name) : nullptr));
}

// `pid` opened to parent a process when it runs as `user` in `session`
// without elevation.
HANDLE OpenIfUnelevatedOfUser(DWORD pid, PSID user, DWORD session) {
    if (pid == 0 || pid == ::GetCurrentProcessId()) return nullptr;
    kv::UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_CREATE_PROCESS, FALSE, pid));
    HANDLE raw = nullptr;
    if (!process || !::OpenProcessToken(process.get(), TOKEN_QUERY, &raw)) return nullptr;
    const kv::UniqueKernelHandle token(raw);
    DWORD tokenSession = 0;
    const std::vector<BYTE> tokenUser = TokenUserOf(token.get());
    if (!TokenValue(token.get(), TokenSessionId, tokenSession) || tokenSession != session || !UserSid(tokenUser) ||
        !::EqualSid(UserSid(tokenUser), user) || Elevated(token.get())) {
        return nullptr;
    }
    return process.release();
}

}  // namespace

bool RunsAsSystem() {
    const kv::UniqueKernelHandle token = OwnToken();
    const std::vector<BYTE> user = token ? TokenUserOf(token.get()) : std::vector<BYTE>();
    return UserSid(user) && ::IsWellKnownSid(UserSid(user), WinLocalSystemSid);
}

bool RunsElevated() {
    const kv::UniqueKernelHandle token = OwnToken();
    return token && Elevated(token.get());
}

HANDLE QueryConsoleUserToken() {
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return nullptr;
    using QueryUserToken = BOOL(WINAPI*)(ULONG, PHANDLE);
    const auto query = SystemFunction<QueryUserToken>(L"wtsapi32.dll", "WTSQueryUserToken");
    HANDLE token = nullptr;
    return query && query(session, &token) ? token : nullptr;
}

HANDLE OpenUnelevatedProcessOfUser() {
    const kv::UniqueKernelHandle own = OwnToken();
    const std::vector<BYTE> user = own ? TokenUserOf(own.get()) : std::vector<BYTE>();
    DWORD session = 0;
    if (!UserSid(user) || !::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return nullptr;
    // The desktop shell first: explorer, or whatever replaces it.
    DWORD shellPid = 0;
    if (HWND shell = ::GetShellWindow()) ::GetWindowThreadProcessId(shell, &shellPid);
    if (HANDLE found = OpenIfUnelevatedOfUser(shellPid, UserSid(user), session)) return found;
    const kv::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (HANDLE found = OpenIfUnelevatedOfUser(entry.th32ProcessID, UserSid(user), session)) return found;
    }
    return nullptr;
}

DWORD StartWithUserRights(HANDLE token, HANDLE parent, const std::wstring& program, const std::wstring& commandLine,
                          const std::wstring& directory) {
    std::wstring line = commandLine;  // CreateProcess may write into it
    const wchar_t* folder = directory.empty() ? nullptr : directory.c_str();
    PROCESS_INFORMATION info = {};
    BOOL started = FALSE;
    if (token) {
        // The user's own environment, not SYSTEM's.
        using MakeEnvironment = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
        using FreeEnvironment = BOOL(WINAPI*)(LPVOID);
        const auto make = SystemFunction<MakeEnvironment>(L"userenv.dll", "CreateEnvironmentBlock");
        const auto free = SystemFunction<FreeEnvironment>(L"userenv.dll", "DestroyEnvironmentBlock");
        void* environment = nullptr;
        if (make && free && !make(&environment, token, FALSE)) environment = nullptr;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
        started = ::CreateProcessAsUserW(token, program.c_str(), &line[0], nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT, environment, folder, &si, &info);
        const DWORD error = ::GetLastError();
        if (environment) free(environment);
        ::SetLastError(error);
    } else {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
        auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.get());
        if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return ::GetLastError();
        STARTUPINFOEXW si = {};
        si.StartupInfo.cb = sizeof(si);
        si.lpAttributeList = attributes;
        started = ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent,
                                              sizeof(parent), nullptr, nullptr) &&
                  ::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT,
                                   nullptr, folder, &si.StartupInfo, &info);
        const DWORD error = ::GetLastError();
        ::DeleteProcThreadAttributeList(attributes);
        ::SetLastError(error);
    }
    if (!started) return ::GetLastError();
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return 0;
}
