#include "App/UnelevatedStart.h"

#include <shellapi.h>  // first: its ShellExecute macro renames the shell method too
#include <exdisp.h>
#include <process.h>
#include <shldisp.h>
#include <shlobj.h>

#include <atomic>
#include <initializer_list>

#include "App/InstallFolder.h"
#include "Runtime/Paths.h"
#include "App/Processes.h"
#include "App/UserSession.h"
#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"

namespace {

constexpr wchar_t kLogFile[] = L".\\App\\UnelevatedStart";
// The desktop shell answers in milliseconds; one that hangs must not hang us.
constexpr DWORD kShellAnswerMs = 5000;
// {4C96BE40-915C-11CF-99D3-00AA004AE837}, defined here: mingw-w64 offers it
// only through an import library.
constexpr GUID kSidTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

std::atomic<bool> g_shellEnabled{true};

// Releases the COM references of one request when it goes.
struct ComRefs {
    IShellWindows* windows = nullptr;
    IDispatch* desktop = nullptr;
    IServiceProvider* services = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* view = nullptr;
    IDispatch* background = nullptr;
    IShellFolderViewDual* folderView = nullptr;
    IDispatch* application = nullptr;
    IShellDispatch2* shell = nullptr;
    ~ComRefs() {
        for (IUnknown* ref : std::initializer_list<IUnknown*>{windows, desktop, services, browser, view, background,
                                                              folderView, application, shell}) {
            if (ref) ref->Release();
        }
    }
};

// The desktop's shell automation object: the shell window of the desktop,
// its active view's background, and that view's application object. A
// failure at any step means there is no desktop shell to ask.
HRESULT FindDesktopShell(ComRefs& c) {
    HRESULT hr = ::CoCreateInstance(__uuidof(ShellWindows), nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                    reinterpret_cast<void**>(&c.windows));
    if (FAILED(hr)) return hr;
    VARIANT location, root;
    ::VariantInit(&location);
    ::VariantInit(&root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    LONG hwnd = 0;
    hr = c.windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &c.desktop);
    if (hr != S_OK || !c.desktop) return FAILED(hr) ? hr : E_NOINTERFACE;
    if (FAILED(hr = c.desktop->QueryInterface(__uuidof(IServiceProvider), reinterpret_cast<void**>(&c.services))) ||
        FAILED(hr = c.services->QueryService(kSidTopLevelBrowser, __uuidof(IShellBrowser),
                                             reinterpret_cast<void**>(&c.browser))) ||
        FAILED(hr = c.browser->QueryActiveShellView(&c.view)) || !c.view ||
        FAILED(hr = c.view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch),
                                          reinterpret_cast<void**>(&c.background))) ||
        FAILED(hr = c.background->QueryInterface(__uuidof(IShellFolderViewDual),
                                                 reinterpret_cast<void**>(&c.folderView))) ||
        FAILED(hr = c.folderView->get_Application(&c.application)) || !c.application) {
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    return c.application->QueryInterface(__uuidof(IShellDispatch2), reinterpret_cast<void**>(&c.shell));
}

// What the helper thread works on. Two references, the caller's and the
// thread's: the caller may stop waiting, and the last one deletes it.
struct ShellRequest {
    LONG refs;
    std::wstring file, parameters, directory;
    ShellStartResult result = ShellStartResult::kUnavailable;
    HRESULT error = S_OK;
};

void Release(ShellRequest* request) {
    if (::InterlockedDecrement(&request->refs) == 0) delete request;
}

VARIANT BstrVariant(const std::wstring& text) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

void AskDesktopShell(ShellRequest& request) {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComRefs c;
        request.error = FindDesktopShell(c);
        if (SUCCEEDED(request.error)) {
            // file, parameters, folder, verb, show
            VARIANT v[5] = {BstrVariant(request.file), BstrVariant(request.parameters),
                            BstrVariant(request.directory), BstrVariant(L"open")};
            ::VariantInit(&v[4]);
            v[4].vt = VT_I4;
            v[4].lVal = SW_SHOWNORMAL;
            request.error = v[0].bstrVal && v[1].bstrVal && v[2].bstrVal && v[3].bstrVal
                                ? c.shell->ShellExecute(v[0].bstrVal, v[1], v[2], v[3], v[4])
                                : E_OUTOFMEMORY;
            for (VARIANT& each : v) ::VariantClear(&each);
            request.result = SUCCEEDED(request.error) ? ShellStartResult::kStarted : ShellStartResult::kRefused;
        }
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
}

unsigned __stdcall ShellThread(void* param) {
    auto* request = static_cast<ShellRequest*>(param);
    AskDesktopShell(*request);
    Release(request);
    return 0;
}

}  // namespace

ShellStartResult StartThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                          const std::wstring& directory) {
    ShellStartResult result = ShellStartResult::kUnavailable;
    HRESULT error = S_FALSE;
    auto* request = g_shellEnabled ? new ShellRequest{2, file, parameters, directory} : nullptr;
    // A thread of its own: a single-threaded apartment whatever the caller's,
    // and a bounded wait for a shell that does not answer.
    kv::UniqueKernelHandle thread(
        request ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ShellThread, request, 0, nullptr)) : nullptr);
    if (thread) {
        // No answer in time: the shell may still act on it, and a second,
        // direct start could run the program twice, so it counts as refused.
        const bool answered = ::WaitForSingleObject(thread.get(), kShellAnswerMs) == WAIT_OBJECT_0;
        result = answered ? request->result : ShellStartResult::kRefused;
        error = answered ? request->error : HRESULT_FROM_WIN32(WAIT_TIMEOUT);
        Release(request);
    } else {
        delete request;
    }
    static const wchar_t* const kResults[] = {L"started", L"refused", L"no desktop shell"};
    KV_LOG(kToConsole | kToFile, Info, L"StartThroughDesktopShell %s [%s]: %s (0x%08x)", file.c_str(),
           parameters.c_str(), kResults[static_cast<int>(result)], static_cast<unsigned>(error));
    return result;
}

namespace {

const UserStartSystem kRealSystem = {&StartThroughDesktopShell, &RunsAsSystem,          &RunsElevated,
                                     &QueryConsoleUserToken,    &OpenUnelevatedProcessOfUser, &StartWithUserRights};
std::atomic<const UserStartSystem*> g_system{&kRealSystem};

// The shell first; without it never with the installer's own rights unless
// those are the user's. kDirect: the caller starts it itself.
UserStartPath StartForUser(const std::wstring& shellFile, const std::wstring& parameters, const std::wstring& directory,
                           const std::wstring& program, const std::wstring& commandLine, DWORD& error) {
    const UserStartSystem& system = *g_system;
    error = 0;
    const ShellStartResult shell = system.askShell(shellFile, parameters, directory);
    if (shell != ShellStartResult::kUnavailable) {
        if (shell != ShellStartResult::kStarted) error = ERROR_ACCESS_DENIED;
        return UserStartPath::kDesktopShell;
    }
    UserStartPath path = UserStartPath::kDirect;
    kv::UniqueKernelHandle token, parent;
    if (system.runsAsSystem()) {
        token.reset(system.consoleUserToken());
        path = token ? UserStartPath::kConsoleUser : UserStartPath::kNobody;
    } else if (system.runsElevated()) {
        parent.reset(system.unelevatedProcessOfUser());
        path = parent ? UserStartPath::kUnelevatedParent : UserStartPath::kNobody;
    }
    if (path == UserStartPath::kNobody) error = kNoUserToStartFor;
    if (token || parent) error = system.startWithUserRights(token.get(), parent.get(), program, commandLine, directory);
    static const wchar_t* const kPaths[] = {L"", L"console user's token", L"unelevated parent", L"directly",
                                            L"not started: no user for it"};
    KV_LOG(kToConsole | kToFile, path == UserStartPath::kNobody ? Warn : Info, L"StartForUser %s: %s (%u)",
           program.c_str(), kPaths[static_cast<int>(path)], static_cast<unsigned>(error));
    return path;
}

}  // namespace

void SetUserStartSystem(const UserStartSystem* system) { g_system = system ? system : &kRealSystem; }

DWORD StartLauncher(const std::wstring& launcherExe, const std::wstring& arguments, UserStartPath* path) {
    if (!NamesLauncherProgram(launcherExe)) return ERROR_INVALID_NAME;
    // The shell would answer a missing program with a message box of its own.
    const DWORD attributes = ::GetFileAttributesW(launcherExe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
    std::wstring folder = DirOfFile(launcherExe);
    if (folder.size() == 2) folder += L'\\';  // "D:" alone would be D:'s current folder
    // Without arguments the command line stays empty, as the launcher was
    // always started that way.
    const std::wstring quoted = QuoteProgramPath(launcherExe);
    const std::wstring commandLine = arguments.empty() ? L"" : FormatString(L"%s %s", quoted.c_str(), arguments.c_str());
    DWORD error = 0;
    const UserStartPath taken =
        StartForUser(launcherExe, arguments, folder, launcherExe, arguments.empty() ? quoted : commandLine, error);
    if (path) *path = taken;
    return taken == UserStartPath::kDirect ? StartProcess(launcherExe, commandLine) : error;
}

UserStartPath OpenWebPage(const std::wstring& url) {
    wchar_t system[MAX_PATH] = {};
    if (::GetSystemDirectoryW(system, MAX_PATH) >= MAX_PATH) system[0] = L'\0';
    const std::wstring rundll = FormatString(L"%s\\rundll32.exe", system);
    DWORD error = 0;
    const UserStartPath path = StartForUser(
        url, L"", L"", rundll, FormatString(L"\"%s\" url.dll,FileProtocolHandler %s", rundll.c_str(), url.c_str()), error);
    if (path == UserStartPath::kDirect) ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return path;
}

void SetDesktopShellEnabled(bool enabled) { g_shellEnabled = enabled; }
