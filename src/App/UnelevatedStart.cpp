#include "App/UnelevatedStart.h"

#include <shellapi.h>  // first: its ShellExecute macro renames the shell method too
#include <exdisp.h>
#include <process.h>
#include <shldisp.h>
#include <shlobj.h>

#include <atomic>
#include <memory>

#include "App/AppLog.h"
#include "App/InstallFolder.h"
#include "CommonUtils.h"
#include "Runtime/Handles.h"

namespace {

constexpr wchar_t kLogFile[] = L".\\App\\UnelevatedStart";
// The desktop shell answers in milliseconds; one that hangs must not hang us.
constexpr DWORD kShellAnswerMs = 5000;
// {4C96BE40-915C-11CF-99D3-00AA004AE837}, defined here: mingw-w64 offers it
// only through an import library.
constexpr GUID kSidTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

std::atomic<bool> g_shellEnabled{true};

// Holds one COM reference.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (ptr_) ptr_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T** out() { return &ptr_; }
    void** outVoid() { return reinterpret_cast<void**>(&ptr_); }

private:
    T* ptr_ = nullptr;
};

// A VARIANT holding a copy of the text (VT_BSTR), cleared on destruction.
class BstrVariant {
public:
    explicit BstrVariant(const std::wstring& text) {
        ::VariantInit(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    ~BstrVariant() { ::VariantClear(&value_); }
    BstrVariant(const BstrVariant&) = delete;
    BstrVariant& operator=(const BstrVariant&) = delete;
    const VARIANT& get() const { return value_; }
    bool valid() const { return value_.bstrVal != nullptr; }

private:
    VARIANT value_;
};

// The desktop's shell automation object: the shell window of the desktop,
// its active view's background, and that view's application object. Empty
// when any step finds nothing.
HRESULT DesktopShellDispatch(ComRef<IShellDispatch2>& shell) {
    ComRef<IShellWindows> windows;
    HRESULT hr = ::CoCreateInstance(__uuidof(ShellWindows), nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                    windows.outVoid());
    if (FAILED(hr)) return hr;
    VARIANT location;
    ::VariantInit(&location);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root;
    ::VariantInit(&root);
    LONG hwnd = 0;
    ComRef<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.out());
    if (hr != S_OK || !desktop.get()) return FAILED(hr) ? hr : E_NOINTERFACE;
    ComRef<IServiceProvider> services;
    if (FAILED(hr = desktop->QueryInterface(__uuidof(IServiceProvider), services.outVoid()))) return hr;
    ComRef<IShellBrowser> browser;
    if (FAILED(hr = services->QueryService(kSidTopLevelBrowser, __uuidof(IShellBrowser), browser.outVoid()))) return hr;
    ComRef<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(view.out()))) return hr;
    if (!view.get()) return E_NOINTERFACE;
    ComRef<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.outVoid()))) return hr;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(hr = background->QueryInterface(__uuidof(IShellFolderViewDual), folderView.outVoid()))) return hr;
    ComRef<IDispatch> application;
    if (FAILED(hr = folderView->get_Application(application.out()))) return hr;
    if (!application.get()) return E_NOINTERFACE;
    return application->QueryInterface(__uuidof(IShellDispatch2), shell.outVoid());
}

// What the helper thread works on; shared, as the caller may stop waiting.
struct ShellRequest {
    std::wstring file, parameters, directory;
    std::atomic<int> result{static_cast<int>(ShellStartResult::kUnavailable)};
    HRESULT error = S_OK;  // written before `result`
};

ShellStartResult AskDesktopShell(ShellRequest& request) {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ShellStartResult result = ShellStartResult::kUnavailable;
    {
        ComRef<IShellDispatch2> shell;
        request.error = DesktopShellDispatch(shell);
        if (SUCCEEDED(request.error) && shell.get()) {
            BstrVariant parameters(request.parameters), directory(request.directory), verb(L"open");
            VARIANT show;
            ::VariantInit(&show);
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;
            BSTR file = ::SysAllocStringLen(request.file.data(), static_cast<UINT>(request.file.size()));
            request.error = file && parameters.valid() && directory.valid() && verb.valid()
                                ? shell->ShellExecute(file, parameters.get(), directory.get(), verb.get(), show)
                                : E_OUTOFMEMORY;
            ::SysFreeString(file);
            result = SUCCEEDED(request.error) ? ShellStartResult::kStarted : ShellStartResult::kRefused;
        }
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return result;
}

unsigned __stdcall ShellThread(void* param) {
    std::unique_ptr<std::shared_ptr<ShellRequest>> ref(static_cast<std::shared_ptr<ShellRequest>*>(param));
    ShellRequest& request = **ref;
    request.result = static_cast<int>(AskDesktopShell(request));
    return 0;
}

}  // namespace

ShellStartResult StartThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                          const std::wstring& directory) {
    if (!g_shellEnabled) return ShellStartResult::kUnavailable;
    auto request = std::make_shared<ShellRequest>();
    request->file = file;
    request->parameters = parameters;
    request->directory = directory;
    // A thread of its own: a single-threaded apartment whatever the caller's,
    // and a bounded wait for a shell that does not answer.
    auto* ref = new std::shared_ptr<ShellRequest>(request);
    kv::UniqueKernelHandle thread(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ShellThread, ref, 0, nullptr)));
    if (!thread) {
        delete ref;
        return ShellStartResult::kUnavailable;
    }
    if (::WaitForSingleObject(thread.get(), kShellAnswerMs) != WAIT_OBJECT_0) {
        // The shell may still act on it later: a second, direct start could
        // run the program twice, so it counts as refused.
        KV_APP_LOG(Warn, L"StartThroughDesktopShell no answer from the desktop shell within %u ms for %s",
                   static_cast<unsigned>(kShellAnswerMs), file.c_str());
        return ShellStartResult::kRefused;
    }
    const auto result = static_cast<ShellStartResult>(request->result.load());
    if (result != ShellStartResult::kStarted) {
        KV_APP_LOG(Info, L"StartThroughDesktopShell %s: %s (0x%08x)", file.c_str(),
                   result == ShellStartResult::kRefused ? L"refused by the desktop shell" : L"no desktop shell",
                   static_cast<unsigned>(request->error));
    }
    return result;
}

DWORD StartLauncher(const std::wstring& launcherExe, const std::wstring& arguments) {
    if (!NamesLauncherProgram(launcherExe)) {
        KV_APP_LOG(Warn, L"StartLauncher %s is not the launcher program; not started", launcherExe.c_str());
        return ERROR_INVALID_NAME;
    }
    // The shell would answer a missing program with a message box of its own.
    const DWORD attributes = ::GetFileAttributesW(launcherExe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
    switch (StartThroughDesktopShell(launcherExe, arguments, DirOfFile(launcherExe))) {
        case ShellStartResult::kStarted:
            KV_APP_LOG(Info, L"StartLauncher %s [%s] started through the desktop shell", launcherExe.c_str(),
                       arguments.c_str());
            return 0;
        case ShellStartResult::kRefused:
            return ERROR_ACCESS_DENIED;
        case ShellStartResult::kUnavailable:
            break;
    }
    // Without arguments the command line stays empty, as the launcher was
    // always started that way.
    const std::wstring commandLine = arguments.empty() ? L"" : QuoteProgramPath(launcherExe) + L" " + arguments;
    KV_APP_LOG(Warn, L"StartLauncher no desktop shell: %s [%s] started directly, with the installer's rights",
               launcherExe.c_str(), commandLine.c_str());
    return StartProcess(launcherExe, commandLine);
}

void OpenWebPage(const std::wstring& url) {
    if (StartThroughDesktopShell(url, L"", L"") != ShellStartResult::kUnavailable) return;
    KV_APP_LOG(Warn, L"OpenWebPage no desktop shell: %s opened directly, with the installer's rights", url.c_str());
    ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void SetDesktopShellEnabled(bool enabled) { g_shellEnabled = enabled; }
