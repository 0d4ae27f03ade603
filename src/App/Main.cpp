// Process entry of the installer: the command line, one installer at a time,
// then the installer window or an unattended run, the message loop and the
// fixed shutdown order.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "App/AppBuildConfig.h"
#include "App/AppContext.h"
#include "App/CommandLine.h"
#include "App/ExitCode.h"
#include "App/MainDlg.h"
#include "App/SilentRun.h"
#include "App/SingleInstance.h"
#include "Http/ProxyLogin.h"
#include "Http/ProxyResolver.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"
#include "Ui/DpiScale.h"
#include "Ui/HighContrast.h"
#include "Ui/SkinPackage.h"
#include "Ui/UiTexts.h"
#include "Ui/WindowWnd.h"
#include "Ui/WndShadow.h"

namespace {

constexpr wchar_t kLogFile[] = L".\\App\\Main";

// Before (or instead of) the installer window; never in an unattended run.
void TellUser(const std::wstring& text, UINT icon) {
    ::MessageBoxW(nullptr, text.c_str(), UiText(L"window.title").c_str(), MB_OK | MB_SETFOREGROUND | icon);
}

int RunMessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!::TranslateAcceleratorW(msg.hwnd, nullptr, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

// OLE, and with it COM, on this thread while the object lives.
class OleScope {
public:
    OleScope() : initialised_(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~OleScope() {
        if (initialised_) ::OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    bool Initialised() const { return initialised_; }

private:
    bool initialised_;
};

int RunWindow(HINSTANCE instance, AppContext& context) {
    // Before the first window, and released after the last one on every way out.
    const OleScope ole;
    if (!ole.Initialised()) return 0;
    CWindowWnd::SetResourceInstance(instance);
    CWndShadow::Initialize(instance);
    // Test and demo builds: Wine always reports high contrast off, so its
    // pictures are taken with KV_HIGH_CONTRAST set (and the colours set by
    // SetSysColors).
    if (KV_APP_LOOPBACK_ONLY_BUILD && ::GetEnvironmentVariableW(L"KV_HIGH_CONTRAST", nullptr, 0) != 0)
        CHighContrast::SetQuery([] { return true; });
    CMainDlg window(context.options);

    AppStartup();

    // Position and size 0: the skin's 540 x 355 applies.
    if (!window.Create(nullptr, UiText(L"window.title").c_str(), WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0)) {
        AppShutdown();
        return 0;
    }
    window.CenterWindow();
    window.ShowWindow(true);

    const int result = RunMessageLoop();

    CSkinPackage::Instance().Close();
    AppShutdown();
    return result;
}

// The same controller as the window's, with no window: no skin, no COM (the
// desktop shell is asked from a thread of its own), the loop ends with the
// run's exit code.
int RunSilent(AppContext& context) {
    CSilentRun run(context.options);
    AppStartup();
    run.Start(context.sourceId);
    const int result = RunMessageLoop();
    AppShutdown();
    return result;
}

// The run's proxy: /PROXY= over the user's settings (the machine's when
// running as SYSTEM); /PROXYUSER= and /PROXYPASS= for a proxy that asks for a
// login.
void ConfigureProxy(const InstallerOptions& options) {
    ProxyConfig config;
    if (options.proxy.empty() || !ParseProxySwitch(options.proxy, &config)) config = ReadProxyConfig();
    CProxyResolver::Instance().Configure(&config);
    if (!options.proxyUser.empty() || !options.proxyPassword.empty())
        CProxyLogin::Instance().Set(options.proxyUser, options.proxyPassword);
    KV_LOG(kToConsole | kToFile, Info, L"wWinMain proxy: %s%s, script [%s]", ProxySourceName(config.source),
           config.autoDetect ? L", WPAD" : L"", config.scriptUrl.c_str());
}

int Ended(int exitCode) {
    // A configuration script's thread that still runs must not log while the
    // process's static objects are destroyed.
    CProxyResolver::Instance().Configure(nullptr);
    KV_LOG(kToConsole | kToFile, Info, L"wWinMain exit code %d", exitCode);
    return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    // The installer runs elevated from a folder anyone can write (Downloads):
    // from here on a DLL is loaded from the system folder only, never from the
    // installer's folder or the current one. DLLs outside Windows' KnownDLLs
    // are delay-loaded, so none of them has been looked for before this line.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");

    // The manifest declares per-monitor (v2) awareness; asking again is
    // refused wherever it already holds (and by Wine), which is normal.
    CDpiScale::EnableProcessAwareness();

    AppContext& context = AppContext::Instance();
    context.options = ParseCommandLine(commandLine);
    const InstallerOptions& options = context.options;
    context.sourceId = options.sourceId;
    std::wstring logProblem;
    const bool logReady = options.logPath.empty() || UseLogFileAt(options.logPath, logProblem);
    // The environment's diagnostics only in test and demo builds, and never
    // in place of a /LOG= file.
    ConfigureDiagnostics(KV_APP_LOOPBACK_ONLY_BUILD != 0 && options.logPath.empty());
    KV_LOG(kToConsole | kToFile, Info, L"wWinMain pid %u, %s, command line [%s]",
           static_cast<unsigned>(::GetCurrentProcessId()), options.silent ? L"unattended" : L"with its window",
           MaskedCommandLine(commandLine).c_str());
    // The user's language, or /LANG='s; a run without a window shows nothing
    // and keeps the log's.
    if (options.silent) CUiTexts::Instance().ChooseDefault();
    else CUiTexts::Instance().Choose(options.language);

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    // A run with the window always ends with 0; only /S runs tell by their code.
    const int failed = options.silent ? kExitBadCommandLine : kExitInstalled;
    std::wstring refusal = options.error;
    if (refusal.empty() && !logReady) refusal = FormatString(L"/LOG=%s: %s", options.logPath.c_str(), logProblem.c_str());
    if (!refusal.empty()) {
        KV_LOG(kToConsole | kToFile, Error, L"wWinMain bad command line: %s", refusal.c_str());
        const std::wstring shown = options.error.empty() ? refusal : RefusalText(options);
        if (!options.silent) {
            TellUser(FormatString(L"%s%s\n\n%s", UiText(L"box.cmdline").c_str(), shown.c_str(), UsageText().c_str()),
                     MB_ICONERROR);
        }
        return Ended(failed);
    }
    if (options.help) {
        if (!options.silent) TellUser(UsageText(), MB_ICONINFORMATION);
        return Ended(kExitInstalled);
    }

    // Two installers would write the same partial package. The other one is
    // left entirely alone.
    CSingleInstance single;
    if (single.Acquire() == CSingleInstance::State::kAnotherRunning) {
        KV_LOG(kToConsole | kToFile, Warn, L"wWinMain another installer is running");
        if (!options.silent && !BringRunningInstallerToFront()) {
            TellUser(UiText(L"box.running"), MB_ICONINFORMATION);
        }
        return Ended(options.silent ? kExitAlreadyRunning : kExitInstalled);
    }

    ConfigureProxy(options);
    return Ended(options.silent ? RunSilent(context) : RunWindow(instance, context));
}
