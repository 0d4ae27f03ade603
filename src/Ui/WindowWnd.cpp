#include "Ui/WindowWnd.h"

#include "Ui/SkinPackage.h"

HINSTANCE CWindowWnd::GetResourceInstance() {
    HINSTANCE h = CSkinPackage::Instance().GetInstance();
    return h ? h : ::GetModuleHandleW(nullptr);
}

void CWindowWnd::SetResourceInstance(HINSTANCE instance) { CSkinPackage::Instance().SetInstance(instance); }

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (::GetClassInfoExW(GetResourceInstance(), GetWindowClassName(), &wc)) return true;
    wc.style = GetClassStyle();
    wc.lpfnWndProc = &CWindowWnd::WndProc;
    wc.hInstance = GetResourceInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = GetWindowClassName();
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, const wchar_t* name, DWORD style, DWORD exStyle, int x, int y, int cx, int cy) {
    if (!RegisterWindowClass()) return nullptr;
    return ::CreateWindowExW(exStyle, GetWindowClassName(), name, style, x, y, cx, cy, parent, nullptr,
                             GetResourceInstance(), this);
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!::IsWindow(hwnd_)) return;
    ::ShowWindow(hwnd_, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
    const HWND hwnd = hwnd_;
    if (!::IsWindow(hwnd)) return IDCANCEL;
    UINT result = IDCANCEL;
    modalResult_ = &result;
    const HWND owner = ::GetWindow(hwnd, GW_OWNER);
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        modalOwner_ = owner;
    }
    MSG msg{};
    bool quit = false;
    // `this` may delete itself when the window goes; only locals are used.
    while (::IsWindow(hwnd)) {
        if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) {
            quit = true;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (::IsWindow(hwnd)) {
        // Left by a quit message with the window still there.
        modalResult_ = nullptr;
        ReleaseModalOwner();
    }
    if (owner && ::GetActiveWindow() == nullptr) ::SetActiveWindow(owner);
    if (quit) ::PostQuitMessage(static_cast<int>(msg.wParam));
    return result;
}

void CWindowWnd::ReleaseModalOwner() {
    const HWND owner = modalOwner_;
    modalOwner_ = nullptr;
    if (owner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
}

void CWindowWnd::NoteCloseResult(WPARAM result) {
    if (modalResult_ && result != 0) *modalResult_ = static_cast<UINT>(result);
}

void CWindowWnd::Close(UINT result) {
    if (::IsWindow(hwnd_)) ::PostMessageW(hwnd_, WM_CLOSE, result, 0);
}

void CWindowWnd::CenterWindow() {
    RECT rc{};
    ::GetWindowRect(hwnd_, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    RECT area{};
    HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &area);
    else area = mi.rcWork;
    int x = (area.left + area.right - w) / 2, y = (area.top + area.bottom - h) / 2;
    if (x < mi.rcWork.left) x = mi.rcWork.left;
    if (y < mi.rcWork.top) y = mi.rcWork.top;
    if (x + w > mi.rcWork.right) x = mi.rcWork.right - w;
    if (y + h > mi.rcWork.bottom) y = mi.rcWork.bottom - h;
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::SendMessage(UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageW(hwnd_, msg, wp, lp); }
LRESULT CWindowWnd::PostMessage(UINT msg, WPARAM wp, LPARAM lp) { return ::PostMessageW(hwnd_, msg, wp, lp); }

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProcW(hwnd_, msg, wp, lp); }

void CWindowWnd::OnFinalMessage(HWND) {}

LRESULT CALLBACK CWindowWnd::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    CWindowWnd* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<CWindowWnd*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
    // A modal window gives its owner back before it disappears: hiding is
    // the first step of every destroy, and the system activates another
    // window right after it, which must be the owner, not another program.
    if (self->modalOwner_ &&
        ((msg == WM_WINDOWPOSCHANGING && (reinterpret_cast<WINDOWPOS*>(lp)->flags & SWP_HIDEWINDOW)) ||
         msg == WM_DESTROY)) {
        self->ReleaseModalOwner();
    }
    if (msg == WM_NCDESTROY) {
        const LRESULT r = ::DefWindowProcW(hwnd, msg, wp, lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->modalResult_ = nullptr;
        self->modalOwner_ = nullptr;
        self->OnFinalMessage(hwnd);
        return r;
    }
    return self->HandleMessage(msg, wp, lp);
}
