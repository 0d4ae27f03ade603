#include "Ui/WindowImplBase.h"

#include <cwchar>

#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Ui/ControlUI.h"
#include "Ui/DialogBuilder.h"
#include "Ui/WndShadow.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\WindowImplBase";

// Classes that let a drag in the caption move the window.
bool IsDraggableClass(const wchar_t* cls) {
    static const wchar_t* const kClasses[] = {L"VerticalLayoutUI", L"HorizontalLayoutUI", L"TileLayoutUI",
                                              L"TabLayoutUI",      L"ChildLayoutUI",      L"ControlUI",
                                              L"ContainerUI",      L"ProgressUI",         L"LabelUI"};
    for (const wchar_t* c : kClasses) {
        if (_wcsicmp(c, cls) == 0) return true;
    }
    return false;
}
}  // namespace

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    LRESULT res = HandleCustomMessage(msg, wParam, lParam, handled);
    if (handled) return res;
    handled = true;
    switch (msg) {
        case WM_CREATE: res = OnCreate(msg, wParam, lParam, handled); break;
        case WM_CLOSE: res = OnClose(msg, wParam, lParam, handled); break;
        case WM_DESTROY: res = OnDestroy(msg, wParam, lParam, handled); break;
        case WM_NCACTIVATE: res = OnNcActivate(msg, wParam, lParam, handled); break;
        case WM_NCCALCSIZE: res = OnNcCalcSize(msg, wParam, lParam, handled); break;
        case WM_NCPAINT: res = OnNcPaint(msg, wParam, lParam, handled); break;
        case WM_NCHITTEST: res = OnNcHitTest(msg, wParam, lParam, handled); break;
        case WM_NCLBUTTONDOWN: res = OnNcLButtonDown(msg, wParam, lParam, handled); break;
        case WM_GETMINMAXINFO: res = OnGetMinMaxInfo(msg, wParam, lParam, handled); break;
        case WM_SIZE: res = OnSize(msg, wParam, lParam, handled); break;
        case WM_SYSCOMMAND: res = OnSysCommand(msg, wParam, lParam, handled); break;
        case WM_KEYDOWN: res = OnKeyDown(msg, wParam, lParam, handled); break;
        case WM_DPICHANGED: res = OnDpiChanged(msg, wParam, lParam, handled); break;
        default: handled = false; break;
    }
    if (handled) return res;
    if (m_PaintManager.MessageHandler(msg, wParam, lParam, res)) return res;
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, bool& handled) {
    LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_CAPTION);
    ::SetWindowLongPtrW(hwnd_, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    m_PaintManager.Init(hwnd_);
    CDialogBuilder builder;
    CControlUI* root = builder.Create(GetSkinFile(), this, &m_PaintManager);
    if (root == nullptr) {
        KV_LOG(kToConsole | kToFile, Error, L"WindowImplBase::OnCreate skin %s could not be loaded",
               GetSkinFile().c_str());
        handled = true;
        return -1;  // creation fails; the caller sees no window
    }
    m_PaintManager.AttachDialog(root);
    m_PaintManager.AddNotifier(this);
    if (m_PaintManager.shadow && !m_PaintManager.selfShadow && CWndShadow::IsAvailable()) {
        // Owned by the window from here on; deleted at its final destroy.
        auto* shadow = new CWndShadow;
        shadow->SetDpi(m_PaintManager.GetDpi());
        if (!shadow->Create(hwnd_)) delete shadow;
    }
    InitWindow();
    handled = true;
    return 0;
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM wParam, LPARAM, bool& handled) {
    NoteCloseResult(wParam);
    handled = false;  // the default procedure destroys the window
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, bool& handled) {
    if (::IsIconic(hwnd_)) {
        handled = false;
        return 0;
    }
    return wParam ? FALSE : TRUE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM lParam, bool&) {
    // The whole window is client area; maximised, it is the monitor's work area.
    if (::IsZoomed(hwnd_)) {
        auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        MONITORINFO mi{};
        mi.cbSize = sizeof(mi);
        ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
        params->rgrc[0] = mi.rcWork;
        return WVR_REDRAW;
    }
    return 0;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, bool&) { return 0; }

bool WindowImplBase::IsDraggable(const CControlUI* control) const {
    for (const CControlUI* c = control; c != nullptr; c = c->GetParent()) {
        if (!IsDraggableClass(c->GetClass())) return false;
    }
    return true;
}

LRESULT WindowImplBase::HitTestClient(POINT pt) {
    m_PaintManager.LayoutIfNeeded();  // a hit test can come before the first paint
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    const RECT caption = m_PaintManager.Scale(m_PaintManager.caption);
    if (!::IsZoomed(hwnd_)) {
        const SIZE grip = m_PaintManager.Scale(m_PaintManager.sizeGrip);
        if (grip.cx > 0 && grip.cy > 0 && pt.x >= client.right - grip.cx && pt.y >= client.bottom - grip.cy)
            return HTBOTTOMRIGHT;
        const RECT box = m_PaintManager.Scale(m_PaintManager.sizeBox);
        const bool left = pt.x < client.left + box.left, right = pt.x >= client.right - box.right;
        if (pt.y < client.top + box.top) return left ? HTTOPLEFT : (right ? HTTOPRIGHT : HTTOP);
        if (pt.y >= client.bottom - box.bottom) return left ? HTBOTTOMLEFT : (right ? HTBOTTOMRIGHT : HTBOTTOM);
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
    }
    if (pt.x >= client.left + caption.left && pt.x < client.right - caption.right && pt.y >= caption.top &&
        pt.y < caption.bottom && IsDraggable(m_PaintManager.FindControl(pt))) {
        return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool&) {
    POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ScreenToClient(hwnd_, &pt);
    return HitTestClient(pt);
}

LRESULT WindowImplBase::OnNcLButtonDown(UINT, WPARAM, LPARAM, bool& handled) {
    m_PaintManager.SetFocus(nullptr);
    handled = false;
    return 0;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, bool&) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT work = mi.rcWork, monitor = mi.rcMonitor;
    info->ptMaxPosition = {work.left - monitor.left, work.top - monitor.top};
    info->ptMaxTrackSize = {work.right - work.left, work.bottom - work.top};
    const SIZE minimum = m_PaintManager.Scale(m_PaintManager.minInfo);
    info->ptMinTrackSize = {minimum.cx, minimum.cy};
    return 0;
}

void WindowImplBase::UpdateRegion() {
    const SIZE round = m_PaintManager.Scale(m_PaintManager.roundCorner);
    if (round.cx == 0 && round.cy == 0) return;
    RECT rc{};
    ::GetWindowRect(hwnd_, &rc);
    kv::UniqueRegion rgn(::CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, round.cx, round.cy));
    if (rgn && ::SetWindowRgn(hwnd_, rgn.get(), TRUE)) rgn.release();  // the system owns the region now
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM wParam, LPARAM, bool& handled) {
    if (wParam != SIZE_MINIMIZED) UpdateRegion();
    handled = false;  // the paint manager lays out again
    return 0;
}

LRESULT WindowImplBase::OnDpiChanged(UINT, WPARAM wParam, LPARAM lParam, bool&) {
    // The new scale, then the suggested rectangle, then one layout over it
    // (controls, an open edit box, what a screen reader is told); the
    // window is painted once, through the back buffer, so nothing flickers.
    // The region follows the scale even at an unchanged size.
    // A window laid out at another window's scale before it reached that
    // window's monitor (a message box made on the primary monitor and
    // centred on its owner) is already sized for the new DPI, while the
    // system scales the suggested size from the old monitor's: it takes
    // only the suggested position.
    const UINT dpi = HIWORD(wParam);
    const bool sized = dpi == m_PaintManager.GetDpi();
    m_PaintManager.SetDpi(dpi);
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE | (sized ? SWP_NOSIZE : 0u));
    }
    m_PaintManager.LayoutIfNeeded();
    UpdateRegion();
    ::InvalidateRect(hwnd_, nullptr, FALSE);
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool&) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        // The system's Close (Alt+F4, the system menu) means "close": a
        // modal box returns IDCANCEL, never an undefined 0.
        ::SendMessageW(hwnd_, WM_CLOSE, IDCANCEL, 0);
        return 0;
    }
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT WindowImplBase::OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    // Enter activates a control that Tab has focused (once per press, not
    // on the key's auto-repeat); otherwise the default key response holds.
    if (wParam == VK_RETURN && m_PaintManager.IsKeyboardFocus()) {
        if ((lParam & (1 << 30)) == 0) m_PaintManager.ActivateKeyboardFocus();
        handled = true;
        return 0;
    }
    bool filtered = false;
    const LRESULT r = MessageHandler(msg, wParam, lParam, filtered);
    handled = filtered;
    return r;
}

LRESULT WindowImplBase::MessageHandler(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    if (msg == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN)) {
        handled = ResponseDefaultKeyEvent(wParam) != FALSE;
        return 0;
    }
    handled = false;
    return 0;
}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM wParam) {
    if (wParam == VK_RETURN) return FALSE;
    if (wParam == VK_ESCAPE) {
        Close(1);
        return TRUE;
    }
    return FALSE;
}

void WindowImplBase::Notify(TNotifyUI& msg) {
    if (msg.sType == notify::kClick) OnClick(msg);
}

void WindowImplBase::OnClick(TNotifyUI& msg) {
    if (msg.pSender == nullptr) return;
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"btn_close") Close(1);
    else if (name == L"btn_min") ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    else if (name == L"btn_max") ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    else if (name == L"btn_restore") ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
}

CControlUI* WindowImplBase::CreateControl(const wchar_t*) { return nullptr; }

void WindowImplBase::OnFinalMessage(HWND) {
    m_PaintManager.RemoveNotifier(this);
}
