#include "Ui/EditUI.h"

#include "Ui/AccessibleIds.h"
#include "Ui/AccessibleInfo.h"
#include "Ui/HighContrast.h"
#include "Ui/MarkupValues.h"
#include "Ui/NamedAccessible.h"
#include "Ui/OleaccLibrary.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/RenderEngine.h"

namespace {
constexpr wchar_t kOwnerProp[] = L"KvEditUI";
}

CEditUI::CEditUI() { textStyle_ = DT_LEFT | DT_VCENTER; }

CEditUI::~CEditUI() {
    if (native_ && ::IsWindow(native_)) {
        ::RemovePropW(native_, kOwnerProp);
        ::SetWindowLongPtrW(native_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(nativeDefault_));
        ::DestroyWindow(native_);
    }
}

std::wstring CEditUI::GetText() const {
    if (editing_ && native_) {
        const int len = ::GetWindowTextLengthW(native_);
        std::wstring text(static_cast<size_t>(len) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(native_, &text[0], len + 1)));
        return text;
    }
    return text_;
}

void CEditUI::SetText(const std::wstring& text) {
    if (editing_ && native_) {
        // The native window reports the change itself (EN_CHANGE).
        ::SetWindowTextW(native_, text.c_str());
        return;
    }
    // Every set from code is reported, also one that repeats the text: the
    // controller relies on the notification to refresh what depends on it.
    const bool changed = text_ != text;
    text_ = text;
    Invalidate();
    if (manager_ && changed) manager_->GetAccessibleEvents().ValueChanged(this);
    if (manager_) manager_->SendNotify(this, notify::kTextChanged);
}

void CEditUI::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    if (native_) ::SendMessageW(native_, EM_SETREADONLY, readOnly, 0);
}

void CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    int n = 0;
    if (name == L"readonly") readOnly_ = markup::ParseBool(value);
    else if (name == L"password") password_ = markup::ParseBool(value);
    else if (name == L"maxchar") { if (markup::ParseInt(value, n) && n > 0) maxChars_ = n; }
    else CLabelUI::SetAttribute(name, value);
}

void CEditUI::DoEvent(TEventUI& event) {
    switch (event.type) {
        case UiEvent::ButtonDown:
            if (enabled_) OpenEditor(&event.ptMouse, false);
            return;
        case UiEvent::SetFocus:
            CLabelUI::DoEvent(event);
            // A click opens the box at its own point (ButtonDown follows);
            // Tab selects the whole text; focus from code puts the caret at
            // the end.
            if (enabled_ && event.wParam != kFocusByMouse) OpenEditor(nullptr, event.wParam == kFocusByKeyboard);
            return;
        case UiEvent::KillFocus:
            CLabelUI::DoEvent(event);
            CloseEditor();
            return;
        default:
            CLabelUI::DoEvent(event);
    }
}

void CEditUI::SetPos(const RECT& rc) {
    CLabelUI::SetPos(rc);
    if (native_ && editing_) {
        // After a change of display scale the box takes the font made for
        // the new scale before the old one is deleted.
        const HFONT font = manager_ ? manager_->GetFont(font_) : nullptr;
        if (font && reinterpret_cast<HFONT>(::SendMessageW(native_, WM_GETFONT, 0, 0)) != font)
            ::SendMessageW(native_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const RECT r = NativeRect();
        ::MoveWindow(native_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
}

void CEditUI::OnHide() { CloseEditor(); }

void CEditUI::SetEnabled(bool enabled) {
    if (!enabled) CloseEditor();
    CLabelUI::SetEnabled(enabled);
}

// The text area less padding, one line high and centred vertically, so the
// native text sits where the painted text was.
RECT CEditUI::NativeRect() const {
    RECT r = TextRect();
    const int lineHeight = manager_ ? manager_->GetFontHeight(font_) + Scaled(2) : r.bottom - r.top;
    const int avail = r.bottom - r.top;
    if (lineHeight < avail) {
        r.top += (avail - lineHeight) / 2;
        r.bottom = r.top + lineHeight;
    }
    return r;
}

void CEditUI::OpenEditor(const POINT* click, bool selectAll) {
    if (editing_ || manager_ == nullptr || manager_->GetPaintWindow() == nullptr || !IsShown()) return;
    HWND parent = manager_->GetPaintWindow();
    const RECT r = NativeRect();
    if (native_ == nullptr) {
        native_ = ::CreateWindowExW(0, L"EDIT", text_.c_str(), WS_CHILD | ES_AUTOHSCROLL | (readOnly_ ? ES_READONLY : 0) | (password_ ? ES_PASSWORD : 0),
                                    r.left, r.top, r.right - r.left, r.bottom - r.top, parent, nullptr,
                                    reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
        if (native_ == nullptr) return;
        ::SetPropW(native_, kOwnerProp, this);
        nativeDefault_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(native_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CEditUI::NativeProc)));
        ::SendMessageW(native_, EM_LIMITTEXT, static_cast<WPARAM>(maxChars_), 0);
        ::SendMessageW(native_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    } else {
        ::MoveWindow(native_, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
    }
    ::SendMessageW(native_, WM_SETFONT, reinterpret_cast<WPARAM>(manager_->GetFont(font_)), FALSE);
    // Setting the same text raises no change notification worth sending.
    editing_ = true;
    closing_ = true;
    ::SetWindowTextW(native_, text_.c_str());
    closing_ = false;
    ::ShowWindow(native_, SW_SHOW);
    ::SetFocus(native_);
    if (click) {
        // EM_CHARFROMPOS takes the edit's client co-ordinates, packed as
        // two 16-bit values; the low word of the answer is the character.
        const int x = click->x - r.left, y = click->y - r.top;
        const LRESULT at = ::SendMessageW(native_, EM_CHARFROMPOS, 0, MAKELPARAM(x < 0 ? 0 : x, y < 0 ? 0 : y));
        const WPARAM pos = LOWORD(at);
        ::SendMessageW(native_, EM_SETSEL, pos, pos);
    } else if (selectAll) {
        ::SendMessageW(native_, EM_SETSEL, 0, -1);
    } else {
        ::SendMessageW(native_, EM_SETSEL, text_.size(), text_.size());
    }
    Invalidate();
}

void CEditUI::CloseEditor() {
    if (!editing_ || closing_) return;
    closing_ = true;
    text_ = GetText();
    editing_ = false;
    if (native_) {
        if (::GetFocus() == native_ && manager_) ::SetFocus(manager_->GetPaintWindow());
        ::ShowWindow(native_, SW_HIDE);
    }
    if (manager_ && manager_->GetFocus() == this) manager_->SetFocus(nullptr);
    closing_ = false;
    Invalidate();
}

void CEditUI::OnNativeChange() {
    if (!editing_ || closing_) return;
    text_ = GetText();
    if (manager_) manager_->SendNotify(this, notify::kTextChanged);
}

HBRUSH CEditUI::OnNativeColor(HDC hdc) {
    const bool contrast = CHighContrast::IsOn();
    uint32_t color = enabled_ ? textColor_ : disabledTextColor_;
    if (color == 0 && manager_) color = manager_->defaultTextColor;
    if (contrast) color = CHighContrast::Color(ContrastTextColor());
    ::SetTextColor(hdc, RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
    const uint32_t bk = contrast ? CHighContrast::Color(COLOR_WINDOW) : (bkColor_ >> 24) ? bkColor_ : 0xFFFFFFFF;
    ::SetBkColor(hdc, RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF));
    // The brush follows later colour changes.
    const COLORREF want = RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF);
    if (bkBrush_ && bkBrushColor_ != want) bkBrush_.reset();
    if (!bkBrush_) {
        bkBrush_.reset(::CreateSolidBrush(want));
        bkBrushColor_ = want;
    }
    return bkBrush_.get();
}

// While the native window is shown the painted text would show through
// its anti-aliased edges; the window draws the text instead.
void CEditUI::PaintText(HDC hdc) {
    if (!editing_) CLabelUI::PaintText(hdc);
}

std::wstring CEditUI::PaintedText() const {
    return password_ ? std::wstring(GetText().size(), L'\x25CF') : GetText();
}

void CEditUI::PaintBorder(HDC hdc) {
    if (CHighContrast::IsOn()) CRenderEngine::DrawBorder(hdc, rcItem_, CHighContrast::Color(ContrastTextColor()), Scaled(1));
    else CLabelUI::PaintBorder(hdc);
}

LRESULT CALLBACK CEditUI::NativeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<CEditUI*>(::GetPropW(hwnd, kOwnerProp));
    if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
    const WNDPROC next = self->nativeDefault_;
    switch (msg) {
        case WM_KILLFOCUS: {
            const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
            self->CloseEditor();
            return r;
        }
        case WM_KEYDOWN:
            // Enter and Escape close the box; the window hears of the key
            // (a dialog may take Enter as its 确定), after the text is kept.
            if (wp == VK_RETURN || wp == VK_ESCAPE) {
                CPaintManagerUI* manager = self->manager_;
                self->CloseEditor();
                if (manager) manager->SendNotify(self, notify::kEditKey, wp);
                return 0;
            }
            // Tab leaves the box for the next control of the window.
            if (wp == VK_TAB && self->manager_) {
                self->manager_->MoveFocus((::GetKeyState(VK_SHIFT) & 0x8000) == 0);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wp == VK_RETURN || wp == VK_ESCAPE || wp == VK_TAB) return 0;  // no beep
            break;
        case WM_GETOBJECT: {
            // A reader that follows the keyboard into the box asks the box
            // itself: the system's object answers, named as the control.
            IAccessible* system = nullptr;
            if (static_cast<LONG>(static_cast<DWORD>(lp)) != OBJID_CLIENT ||
                FAILED(COleaccLibrary::CreateStdObject(hwnd, OBJID_CLIENT, kv::kIidAccessible, reinterpret_cast<void**>(&system))) ||
                system == nullptr)
                break;
            auto* named = new CNamedAccessible(system, CAccessibleInfo::Name(*self));
            system->Release();
            const LRESULT r = COleaccLibrary::ResultFromObject(kv::kIidAccessible, wp, named);
            named->Release();
            if (r != 0) return r;
            break;
        }
        case WM_NCDESTROY: {
            // Destroyed with the parent window: forget the handle, so that a
            // later open or the destructor never touches a reused one.
            if (self->editing_) self->text_ = self->GetText();
            ::RemovePropW(hwnd, kOwnerProp);
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
            self->native_ = nullptr;
            self->editing_ = false;
            return ::CallWindowProcW(next, hwnd, msg, wp, lp);
        }
        default:
            break;
    }
    return ::CallWindowProcW(next, hwnd, msg, wp, lp);
}
