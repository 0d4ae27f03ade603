// Opens the skins in real windows so a person (or the screenshot script)
// can look at them:
//   skin_demo main [page 0-2] [percent]   the installer window
//   skin_demo msgbox [text]               the message box on its own
// A last argument "--no-paint-cache" paints without the kept back buffer
// and image-part cache (for the painting benchmark's comparison).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "DemoMainWindow.h"
#include "App/MsgBoxDlg.h"
#include "Ui/DpiScale.h"
#include "Ui/HighContrast.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/SkinPackage.h"
#include "Ui/WndShadow.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Laid out at the monitor's scale, as the installer (whose manifest says so).
    CDpiScale::EnableProcessAwareness();
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    CWindowWnd::SetResourceInstance(instance);
    CWndShadow::Initialize(instance);
    // As the installer's test builds: high contrast on with KV_HIGH_CONTRAST set.
    if (::GetEnvironmentVariableW(L"KV_HIGH_CONTRAST", nullptr, 0) != 0) CHighContrast::SetQuery([] { return true; });

    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc > 1 && std::wstring(argv[argc - 1]) == L"--no-paint-cache") {
        CPaintManagerUI::SetPaintCaching(false);
        --argc;
    }
    const std::wstring mode = argc > 1 ? argv[1] : L"main";
    int result = 0;
    if (mode == L"msgbox") {
        CMsgBoxDlg* box = CMsgBoxDlg::CreateOwned(nullptr, argc > 2 ? argv[2] : L"是否退出安装？", L"", L"Qixar提示");
        result = box ? static_cast<int>(box->ShowModal()) : 3;
    } else {
        const int page = argc > 2 ? _wtoi(argv[2]) : 0;
        const int percent = argc > 3 ? _wtoi(argv[3]) : -1;
        CDemoMainWindow window(page, percent);
        if (window.Create(nullptr, L"安装KorvelQixar", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, 0)) {
            window.CenterWindow();
            window.ShowWindow(true);
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        } else {
            result = 3;
        }
    }
    ::LocalFree(argv);
    CSkinPackage::Instance().Close();
    return result;
}
