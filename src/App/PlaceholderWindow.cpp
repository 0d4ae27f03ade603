#include "App/PlaceholderWindow.h"

namespace {
constexpr wchar_t kClassName[] = L"InstallPackages";
constexpr int kWidth = 540;
constexpr int kHeight = 355;
}  // namespace

bool PlaceholderWindow::Create(HINSTANCE instance, const wchar_t* title) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &PlaceholderWindow::WndProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);
    hwnd_ = ::CreateWindowExW(0, kClassName, title, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, kWidth, kHeight,
                              nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK PlaceholderWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<PlaceholderWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<PlaceholderWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (self) self->hwnd_ = nullptr;
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self ? self->Handle(msg, wp, lp) : ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT PlaceholderWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: Paint(); return 0;
        case WM_LBUTTONUP: ::PostMessageW(hwnd_, WM_CLOSE, 0, 0); return 0;
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            return 0;
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        default: return ::DefWindowProcW(hwnd_, msg, wp, lp);
    }
}

void PlaceholderWindow::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT rc;
    ::GetClientRect(hwnd_, &rc);
    HBRUSH brush = ::CreateSolidBrush(RGB(0x00, 0x39, 0x6a));
    ::FillRect(dc, &rc, brush);
    ::DeleteObject(brush);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    ::DrawTextW(dc, L"KorvelQixar", -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::EndPaint(hwnd_, &ps);
}
