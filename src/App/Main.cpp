// Process entry of the installer: start-up, message loop and the fixed
// shutdown order.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "App/AppContext.h"
#include "App/PlaceholderWindow.h"
#include "Runtime/LogSinks.h"
#include "Ui/SkinPackage.h"
#include "Ui/WindowWnd.h"
#include "Ui/WndShadow.h"

namespace {

void CenterOnMonitor(HWND hwnd) {
    RECT rc;
    ::GetWindowRect(hwnd, &rc);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const RECT& work = mi.rcWork;
    ::SetWindowPos(hwnd, nullptr, work.left + (work.right - work.left - w) / 2,
                   work.top + (work.bottom - work.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    ConfigureLoggersFromEnvironment();

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    AppContext& context = AppContext::Instance();
    const std::wstring args = commandLine ? commandLine : L"";
    if (!args.empty()) context.sourceId = ParseSourceId(args.c_str());

    // Seam: hand the instance to the UI framework and initialise its shadow
    // support here; construct the installer window controller.
    CWindowWnd::SetResourceInstance(instance);
    CWndShadow::Initialize(instance);
    PlaceholderWindow window;

    AppStartup(context);

    if (!window.Create(instance, L"安装KorvelQixar")) {
        AppShutdown(context);
        return 0;
    }
    CenterOnMonitor(window.Handle());
    ::ShowWindow(window.Handle(), SW_SHOWNORMAL);

    ::CoInitialize(nullptr);
    ::OleInitialize(nullptr);
    if (FAILED(::CoInitialize(nullptr))) return 0;

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!::TranslateAcceleratorW(msg.hwnd, nullptr, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    const int result = static_cast<int>(msg.wParam);

    // Seam: close the UI framework's skin archive here.
    CSkinPackage::Instance().Close();
    AppShutdown(context);
    ::OleUninitialize();
    return result;
}
