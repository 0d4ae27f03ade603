// Process entry of the installer: start-up, message loop and the fixed
// shutdown order.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "App/AppBuildConfig.h"
#include "App/AppContext.h"
#include "App/MainDlg.h"
#include "Ui/DpiScale.h"
#include "Ui/SkinPackage.h"
#include "Ui/WindowWnd.h"
#include "Ui/WndShadow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    // The installer runs elevated from a folder anyone can write (Downloads):
    // from here on a DLL is loaded from the system folder only, never from the
    // installer's folder or the current one. DLLs outside Windows' KnownDLLs
    // are delay-loaded, so none of them has been looked for before this line.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");

    ConfigureDiagnostics(KV_APP_LOOPBACK_ONLY_BUILD != 0);

    // The manifest declares per-monitor (v2) awareness; asking again is
    // refused wherever it already holds (and by Wine), which is normal.
    CDpiScale::EnableProcessAwareness();

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    AppContext& context = AppContext::Instance();
    const std::wstring args = commandLine ? commandLine : L"";
    if (!args.empty()) context.sourceId = ParseSourceId(args.c_str());

    CWindowWnd::SetResourceInstance(instance);
    CWndShadow::Initialize(instance);
    CMainDlg window;

    AppStartup(context);

    // Position and size 0: the skin's 540 x 355 applies.
    if (!window.Create(nullptr, L"安装KorvelQixar", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0)) {
        AppShutdown(context);
        return 0;
    }
    window.CenterWindow();
    window.ShowWindow(true);

    ::CoInitialize(nullptr);
    ::OleInitialize(nullptr);
    // Only the last call's result counts; on a normal start it is S_FALSE.
    if (FAILED(::CoInitialize(nullptr))) return 0;

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!::TranslateAcceleratorW(msg.hwnd, nullptr, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    const int result = static_cast<int>(msg.wParam);

    CSkinPackage::Instance().Close();
    AppShutdown(context);
    ::OleUninitialize();
    return result;
}
