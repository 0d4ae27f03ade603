#include "App/UserSession.h"

#include <tlhelp32.h>

#include "Runtime/Handles.h"

namespace {

// A token's information of a fixed-size class; false when it cannot be read.
template <typename T>
bool TokenValue(HANDLE token, TOKEN_INFORMATION_CLASS what, T& value) {
    DWORD size = 0;
    return ::GetTokenInformation(token, what, &value, sizeof(value), &size) != 0;
}

// The token's user (TokenUser): room for the largest SID there is.
struct TokenUserOf {
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    };
    PSID sid = nullptr;  // null when it cannot be read
    explicit TokenUserOf(HANDLE token) {
        DWORD size = 0;
        if (token && ::GetTokenInformation(token, TokenUser, bytes, sizeof(bytes), &size)) sid = user.User.Sid;
    }
};

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
FARPROC SystemFunction(const wchar_t* dll, const char* name) {
    HMODULE module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? ::GetProcAddress(module, name) : nullptr;
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
    const TokenUserOf tokenUser(token.get());
    if (!TokenValue(token.get(), TokenSessionId, tokenSession) || tokenSession != session || !tokenUser.sid ||
        !::EqualSid(tokenUser.sid, user) || Elevated(token.get())) {
        return nullptr;
    }
    return process.release();
}

}  // namespace

bool RunsAsSystem() {
    const TokenUserOf user(OwnToken().get());
    return user.sid && ::IsWellKnownSid(user.sid, WinLocalSystemSid);
}

bool RunsElevated() {
    const kv::UniqueKernelHandle token = OwnToken();
    return token && Elevated(token.get());
}

HANDLE QueryConsoleUserToken() {
    const DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return nullptr;
    using QueryUserToken = BOOL(WINAPI*)(ULONG, PHANDLE);
    const auto query = reinterpret_cast<QueryUserToken>(
        reinterpret_cast<void*>(SystemFunction(L"wtsapi32.dll", "WTSQueryUserToken")));
    HANDLE token = nullptr;
    return query && query(session, &token) ? token : nullptr;
}

HANDLE OpenUnelevatedProcessOfUser() {
    const TokenUserOf user(OwnToken().get());
    DWORD session = 0;
    if (!user.sid || !::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return nullptr;
    // The desktop shell first: explorer, or whatever replaces it.
    DWORD shellPid = 0;
    if (HWND shell = ::GetShellWindow()) ::GetWindowThreadProcessId(shell, &shellPid);
    if (HANDLE found = OpenIfUnelevatedOfUser(shellPid, user.sid, session)) return found;
    const kv::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (HANDLE found = OpenIfUnelevatedOfUser(entry.th32ProcessID, user.sid, session)) return found;
    }
    return nullptr;
}

DWORD StartWithUserRights(HANDLE token, HANDLE parent, const std::wstring& program, const std::wstring& commandLine,
                          const std::wstring& directory) {
    std::wstring line = commandLine;  // CreateProcess may write into it
    const wchar_t* folder = directory.empty() ? nullptr : directory.c_str();
    // The user's interactive desktop, not one of the service session's.
    STARTUPINFOEXW si = {};
    si.StartupInfo.cb = sizeof(si);
    si.StartupInfo.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
    PROCESS_INFORMATION info = {};
    using FreeEnvironment = BOOL(WINAPI*)(LPVOID);
    FreeEnvironment free = nullptr;
    void* environment = nullptr;
    // One attribute takes 48 bytes on x64; a larger need fails the call.
    alignas(16) BYTE buffer[128];
    BOOL started = FALSE;
    if (token) {
        // The user's own environment, never SYSTEM's (which a null block
        // would hand on): without it nothing is started.
        using MakeEnvironment = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
        const auto make = reinterpret_cast<MakeEnvironment>(
            reinterpret_cast<void*>(SystemFunction(L"userenv.dll", "CreateEnvironmentBlock")));
        free = reinterpret_cast<FreeEnvironment>(
            reinterpret_cast<void*>(SystemFunction(L"userenv.dll", "DestroyEnvironmentBlock")));
        if (!make || !free || !make(&environment, token, FALSE)) return ERROR_ENVVAR_NOT_FOUND;
        si.StartupInfo.cb = sizeof(STARTUPINFOW);
        started = ::CreateProcessAsUserW(token, program.c_str(), &line[0], nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT, environment, folder, &si.StartupInfo, &info);
    } else {
        SIZE_T size = sizeof(buffer);
        auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer);
        if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return ::GetLastError();
        si.lpAttributeList = attributes;
        started = ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent,
                                              sizeof(parent), nullptr, nullptr) &&
                  ::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT,
                                   nullptr, folder, &si.StartupInfo, &info);
    }
    const DWORD error = started ? 0 : ::GetLastError();
    if (environment) free(environment);
    if (si.lpAttributeList) ::DeleteProcThreadAttributeList(si.lpAttributeList);
    if (started) {
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    return started || error ? error : ERROR_INVALID_FUNCTION;
}
