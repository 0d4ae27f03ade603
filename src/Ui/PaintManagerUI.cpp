#include "Ui/PaintManagerUI.h"

#include <commctrl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Ui/AccessibleIds.h"
#include "Ui/AccessibleInfo.h"
#include "Ui/AccessibleWindow.h"
#include "Ui/ControlUI.h"
#include "Ui/ContainerUI.h"
#include "Ui/EditUI.h"
#include "Ui/FocusMark.h"
#include "Ui/FontFallback.h"
#include "Ui/UiTexts.h"
#include "Ui/HighContrast.h"
#include "Ui/OleaccLibrary.h"
#include "Ui/RenderEngine.h"
#include "Ui/SkinPackage.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\PaintManagerUI";
constexpr wchar_t kEditProp[] = L"KvEditUI";
// The scale a window is laid out at, for the boxes it owns.
constexpr wchar_t kDpiProp[] = L"KvLayoutDpi";
constexpr int kFocusOutset = 5;  // the focus mark's box around the control (at 96 DPI)
constexpr UINT kHiResArtDpi = 2 * CDpiScale::kBaseDpi;

// "a.png" -> "a@2x.png": the same art drawn for 200%.
std::wstring HiResName(const std::wstring& name) {
    const size_t dot = name.find_last_of(L'.');
    const size_t slash = name.find_last_of(L"/\\");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return name + L"@2x";
    return name.substr(0, dot) + L"@2x" + name.substr(dot);
}

bool g_paintCaching = true;

void CollectFocusable(CControlUI* control, std::vector<CControlUI*>& out) {
    if (control == nullptr || !control->IsVisible()) return;
    if (control->CanFocus() && control->IsEnabled()) {
        const RECT& rc = control->GetPos();
        if (rc.right > rc.left && rc.bottom > rc.top) out.push_back(control);
    }
    if (auto* container = dynamic_cast<CContainerUI*>(control)) {
        for (int i = 0; i < container->GetCount(); ++i) CollectFocusable(container->GetItemAt(i), out);
    }
}

}  // namespace

void CPaintManagerUI::SetPaintCaching(bool enabled) { g_paintCaching = enabled; }

CPaintManagerUI::CPaintManagerUI() {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof(ncm);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
    ncm.lfMessageFont.lfQuality = ANTIALIASED_QUALITY;
    systemFont_.reset(::CreateFontIndirectW(&ncm.lfMessageFont));
}

CPaintManagerUI::~CPaintManagerUI() {
    for (const TimerInfo& t : timers_) {
        if (hwnd_) ::KillTimer(hwnd_, t.windowId);
    }
    timers_.clear();
    hot_ = captured_ = focus_ = nullptr;
    DetachAccessible();
    accEvents_.Clear();
    ReleaseBackBuffer();
    root_.reset();  // controls first: they may still refer to fonts
    // The tool tip goes with the window that owns it; it is destroyed here
    // only when the manager goes first.
    if (toolTip_ && ::IsWindow(toolTip_)) ::DestroyWindow(toolTip_);
}

void CPaintManagerUI::Init(HWND hwnd) {
    hwnd_ = hwnd;
    if (hwnd_ == nullptr) return;
    const HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    const auto ownerDpi = owner ? static_cast<UINT>(reinterpret_cast<UINT_PTR>(::GetPropW(owner, kDpiProp))) : 0u;
    dpi_ = ownerDpi != 0 ? ownerDpi : CDpiScale::ForWindow(owner ? owner : hwnd_);
    ::SetPropW(hwnd_, kDpiProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(dpi_)));
    CHighContrast::Refresh();
}

void CPaintManagerUI::SetDpi(UINT dpi) {
    if (dpi == 0 || dpi == dpi_) return;
    dpi_ = dpi;
    if (hwnd_) ::SetPropW(hwnd_, kDpiProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(dpi_)));
    // Images and what painting derived from them are made again at first use.
    drawCache_.Clear();
    images_.clear();
    ReleaseBackBuffer();
    // The old fonts stay alive until the next layout has handed the new ones
    // to native child windows (an open edit box).
    for (size_t i = 0; i < fonts_.size(); ++i) {
        retiredFonts_.emplace_back(std::move(fonts_[i].font), i);
        CreateFontAtDpi(fonts_[i]);
    }
    UpdateToolTip(nullptr);
    NeedUpdate();
}

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
    if (root == nullptr) return false;
    root_.reset(root);
    root_->SetManager(this, nullptr);
    NeedUpdate();
    return true;
}

int CPaintManagerUI::AddFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    FontInfo info;
    // The language's own face (Traditional Chinese, the system's for
    // English) in place of the skin's.
    info.face = CUiTexts::Instance().FaceFor(face).substr(0, LF_FACESIZE - 1);  // at most 31 characters
    if (!info.face.empty() && !CFontFallback::IsInstalled(info.face)) {
        // Without the face GDI draws Chinese as empty boxes; the first
        // installed CJK face stands in, looked for once per window.
        if (!fallbackResolved_) {
            fallbackResolved_ = true;
            fallbackFace_ = CFontFallback::ChooseFace(&CFontFallback::IsInstalled);
            KV_LOG(kToConsole | kToFile, Info, L"CPaintManagerUI::AddFont %s is not installed, using %s", info.face.c_str(),
                   fallbackFace_.empty() ? L"(none)" : fallbackFace_.c_str());
        }
        if (!fallbackFace_.empty()) info.face = fallbackFace_;
    }
    info.size = size;
    info.bold = bold;
    info.underline = underline;
    info.italic = italic;
    CreateFontAtDpi(info);
    fonts_.push_back(std::move(info));
    return static_cast<int>(fonts_.size()) - 1;
}

void CPaintManagerUI::CreateFontAtDpi(FontInfo& info) const {
    LOGFONTW lf{};
    ::GetObjectW(systemFont_.get(), sizeof(lf), &lf);
    wcsncpy_s(lf.lfFaceName, info.face.c_str(), _TRUNCATE);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfHeight = -Scale(info.size);  // a character height in pixels
    lf.lfWidth = 0;
    // Bold adds FW_BOLD to the interface font's weight (GDI's scale ends at 1000).
    if (info.bold) lf.lfWeight = lf.lfWeight + FW_BOLD > 1000 ? 1000 : lf.lfWeight + FW_BOLD;
    lf.lfUnderline = info.underline;
    lf.lfItalic = info.italic;
    lf.lfQuality = ANTIALIASED_QUALITY;
    info.font.reset(::CreateFontIndirectW(&lf));
    info.height = Scale(info.size);
    if (info.font) {
        const kv::UniqueScreenDc dc(::GetDC(nullptr));
        HGDIOBJ old = ::SelectObject(dc.get(), info.font.get());
        TEXTMETRICW tm{};
        if (::GetTextMetricsW(dc.get(), &tm)) info.height = tm.tmHeight;
        ::SelectObject(dc.get(), old);
    }
}

HFONT CPaintManagerUI::GetFont(int index) const {
    if (index >= 0 && index < static_cast<int>(fonts_.size()) && fonts_[static_cast<size_t>(index)].font)
        return fonts_[static_cast<size_t>(index)].font.get();
    if (defaultFont_ >= 0 && defaultFont_ < static_cast<int>(fonts_.size()))
        return fonts_[static_cast<size_t>(defaultFont_)].font.get();
    return systemFont_.get();
}

int CPaintManagerUI::GetFontHeight(int index) const {
    if (index >= 0 && index < static_cast<int>(fonts_.size())) return fonts_[static_cast<size_t>(index)].height;
    if (defaultFont_ >= 0 && defaultFont_ < static_cast<int>(fonts_.size()))
        return fonts_[static_cast<size_t>(defaultFont_)].height;
    return Scale(12);
}

std::unique_ptr<Gdiplus::Bitmap> CPaintManagerUI::DecodeAtDpi(const std::vector<uint8_t>& bytes, UINT artDpi) const {
    std::unique_ptr<Gdiplus::Bitmap> image = CRenderEngine::DecodeImage(bytes);
    if (!image || artDpi == dpi_) return image;
    const int w = ::MulDiv(static_cast<int>(image->GetWidth()), static_cast<int>(dpi_), static_cast<int>(artDpi));
    const int h = ::MulDiv(static_cast<int>(image->GetHeight()), static_cast<int>(dpi_), static_cast<int>(artDpi));
    return CRenderEngine::Resize(image.get(), w > 0 ? w : 1, h > 0 ? h : 1);
}

Gdiplus::Bitmap* CPaintManagerUI::GetImage(const std::wstring& name) {
    auto it = images_.find(name);
    if (it != images_.end()) return it->second.get();
    std::vector<uint8_t> bytes;
    std::unique_ptr<Gdiplus::Bitmap> image;
    CSkinPackage& package = CSkinPackage::Instance();
    UINT artDpi = kHiResArtDpi;
    bool found = package.ReadFile(HiResName(name), bytes);
    if (!found) {
        artDpi = CDpiScale::kBaseDpi;
        found = package.ReadFile(name, bytes);
    }
    if (found) {
        image = DecodeAtDpi(bytes, artDpi);
        if (!image) KV_LOG(kToConsole | kToFile, Warn, L"CPaintManagerUI::GetImage %s is not a readable image",
                           name.c_str());
    } else {
        KV_LOG(kToConsole | kToFile, Warn, L"CPaintManagerUI::GetImage %s not in the skin package", name.c_str());
    }
    Gdiplus::Bitmap* raw = image.get();
    images_[name] = std::move(image);  // a failure is remembered as null
    return raw;
}

Gdiplus::Bitmap* CPaintManagerUI::GetResourceImage(const std::wstring& name, const std::wstring& type) {
    const std::wstring resType = type.empty() ? L"PNG" : type;
    const std::wstring key = L"res:" + resType + L":" + name;
    auto it = images_.find(key);
    if (it != images_.end()) return it->second.get();
    HINSTANCE module = CSkinPackage::Instance().GetInstance();
    if (module == nullptr) module = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(module, name.c_str(), resType.c_str());
    HGLOBAL loaded = res ? ::LoadResource(module, res) : nullptr;
    const auto* bytes = static_cast<const uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
    std::unique_ptr<Gdiplus::Bitmap> image;
    if (bytes) {
        image = DecodeAtDpi(std::vector<uint8_t>(bytes, bytes + ::SizeofResource(module, res)), CDpiScale::kBaseDpi);
    }
    if (!image) KV_LOG(kToConsole | kToFile, Warn, L"CPaintManagerUI::GetResourceImage %s (%s) not loaded", name.c_str(),
                       resType.c_str());
    Gdiplus::Bitmap* raw = image.get();
    images_[key] = std::move(image);
    return raw;
}

CImageDrawCache* CPaintManagerUI::GetDrawCache() { return g_paintCaching ? &drawCache_ : nullptr; }

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    if (notifier && std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end())
        notifiers_.push_back(notifier);
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
    notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

void CPaintManagerUI::SendNotify(CControlUI* sender, const wchar_t* type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = sender;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.dwTimestamp = ::GetTickCount();
    ::GetCursorPos(&msg.ptMouse);
    if (hwnd_) ::ScreenToClient(hwnd_, &msg.ptMouse);
    // A notifier may close the window; work on a copy of the list.
    const std::vector<INotifyUI*> notifiers = notifiers_;
    for (INotifyUI* n : notifiers) n->Notify(msg);
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
    return root_ && !name.empty() ? root_->FindControlByName(name) : nullptr;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const { return root_ ? root_->FindControlAt(pt) : nullptr; }

void CPaintManagerUI::SetFocus(CControlUI* control, FocusReason reason) {
    const bool byKeyboard = reason == kFocusByKeyboard;
    if (control && (!control->CanFocus() || !control->IsEnabled() || !control->IsShown())) control = nullptr;
    if (focus_ && keyboardFocus_ != byKeyboard) Invalidate(FocusMarkRect(focus_));
    keyboardFocus_ = control != nullptr && byKeyboard;
    if (control == focus_) return;
    // The old control may hand the keyboard back to the window on its way
    // out (the edit's box closing); the event for that comes below.
    const bool outerMove = movingFocus_;
    movingFocus_ = true;
    CControlUI* old = focus_;
    focus_ = control;
    if (old) {
        Invalidate(FocusMarkRect(old));
        TEventUI e;
        e.type = UiEvent::KillFocus;
        e.pSender = old;
        old->DoEvent(e);
        SendNotify(old, notify::kKillFocus);
    }
    if (focus_ == control && control) {
        Invalidate(FocusMarkRect(control));
        TEventUI e;
        e.type = UiEvent::SetFocus;
        e.pSender = control;
        e.wParam = reason;
        control->DoEvent(e);
        SendNotify(control, notify::kSetFocus);
    }
    movingFocus_ = outerMove;
    // A reader follows the keyboard: the control, or the window itself
    // when the focus left every control.
    if (focus_ == control && CAccessibleInfo::WindowHasFocus(hwnd_)) accEvents_.Focus(control);
}

bool CPaintManagerUI::Click(CControlUI* control) {
    if (hwnd_ == nullptr || control == nullptr || !control->IsShown() || !control->IsEnabled() ||
        !::IsWindowEnabled(hwnd_))
        return false;
    LayoutIfNeeded();
    const RECT& rc = control->GetPos();
    const POINT pt{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    const LPARAM at = MAKELPARAM(pt.x, pt.y);
    // As WM_LBUTTONDOWN and WM_LBUTTONUP at the control's centre do.
    ::SetFocus(hwnd_);
    SetFocus(control->CanFocus() ? control : nullptr, kFocusByMouse);
    TEventUI down{UiEvent::ButtonDown, control, pt, MK_LBUTTON, at};
    control->DoEvent(down);
    TEventUI up{UiEvent::ButtonUp, control, pt, 0, at};
    control->DoEvent(up);
    return true;
}

CAccessibleWindow* CPaintManagerUI::GetAccessible() {
    if (accessible_ == nullptr && !accessibleClosed_ && hwnd_ != nullptr) accessible_ = new CAccessibleWindow(this);
    return accessible_;
}

void CPaintManagerUI::DetachAccessible() {
    accessibleClosed_ = true;
    if (accessible_ == nullptr) return;
    accessible_->Detach();
    // Readers in other processes lose their proxies now, not at their end.
    ::CoDisconnectObject(static_cast<IAccessible*>(accessible_), 0);
    accessible_->Release();
    accessible_ = nullptr;
}

LRESULT CPaintManagerUI::AnswerGetObject(WPARAM wParam, LPARAM lParam) {
    // The object id arrives as a 32-bit value in lParam.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT || root_ == nullptr) return 0;
    if (!COleaccLibrary::Available()) return 0;
    CAccessibleWindow* object = GetAccessible();
    if (object == nullptr) return 0;
    return COleaccLibrary::ResultFromObject(kv::kIidAccessible, wParam, static_cast<IAccessible*>(object));
}

bool CPaintManagerUI::IsInside(const CControlUI* control, const CControlUI* ancestor) const {
    for (const CControlUI* c = control; c != nullptr; c = c->GetParent()) {
        if (c == ancestor) return true;
    }
    return false;
}

void CPaintManagerUI::ReleaseControl(CControlUI* control) {
    if (hot_ && IsInside(hot_, control)) {
        CControlUI* was = hot_;
        hot_ = nullptr;
        TEventUI e;
        e.type = UiEvent::MouseLeave;
        e.pSender = was;
        was->DoEvent(e);
    }
    if (captured_ && IsInside(captured_, control)) CancelPress();
    if (toolTipOwner_ && IsInside(toolTipOwner_, control)) UpdateToolTip(nullptr);
    if (focus_ && IsInside(focus_, control)) SetFocus(nullptr);
}

std::vector<CControlUI*> CPaintManagerUI::GetFocusOrder() const {
    std::vector<CControlUI*> order;
    CollectFocusable(root_.get(), order);
    return order;
}

bool CPaintManagerUI::MoveFocus(bool forward) {
    LayoutIfNeeded();
    const std::vector<CControlUI*> order = GetFocusOrder();
    if (order.empty()) return false;
    const auto at = std::find(order.begin(), order.end(), focus_);
    size_t next = 0;
    if (at == order.end()) {
        next = forward ? 0 : order.size() - 1;
    } else {
        const size_t i = static_cast<size_t>(at - order.begin());
        next = forward ? (i + 1) % order.size() : (i + order.size() - 1) % order.size();
    }
    SetFocus(order[next], kFocusByKeyboard);
    return true;
}

bool CPaintManagerUI::ActivateKeyboardFocus() {
    if (!IsKeyboardFocus() || !focus_->IsShown() || !focus_->IsEnabled()) return false;
    focus_->Activate();
    return true;
}

RECT CPaintManagerUI::FocusMarkRect(CControlUI* control) const {
    RECT rc = control->GetFocusRect();
    RECT client{0, 0, Scale(initSize.cx), Scale(initSize.cy)};
    if (hwnd_) ::GetClientRect(hwnd_, &client);
    RECT outside = rc;
    ::InflateRect(&outside, Scale(kFocusOutset), Scale(kFocusOutset));
    RECT fits{};
    ::IntersectRect(&fits, &outside, &client);
    // A control at the window's edge (the caption buttons) is marked inside.
    if (::EqualRect(&fits, &outside)) return outside;
    ::InflateRect(&rc, -Scale(1), -Scale(1));
    return rc;
}

void CPaintManagerUI::PaintFocusMark(HDC hdc, const RECT& rcPaint) {
    if (!IsKeyboardFocus() || !focus_->IsShown()) return;
    const RECT mark = FocusMarkRect(focus_);
    const RECT rc = focus_->GetFocusRect();
    // The ring follows the control's own corners where its image shows
    // them (high contrast draws square faces); its centre line lies this far
    // outside the control.
    const bool contrast = CHighContrast::IsOn();
    const float scale = static_cast<float>(dpi_) / CDpiScale::kBaseDpi;
    const float offset = (rc.left - mark.left) - (CFocusMark::kRimWidth + CFocusMark::kRingWidth / 2) * scale;
    const float radius = (contrast ? 0.0f : static_cast<float>(focus_->GetCornerRadius())) + offset;
    CFocusMark::Paint(hdc, mark, radius < 2 * scale ? 2 * scale : radius, scale, rcPaint,
                      contrast ? CHighContrast::Color(COLOR_HIGHLIGHT) & 0xFFFFFF : CFocusMark::kRingColor,
                      contrast ? CHighContrast::Color(COLOR_WINDOW) & 0xFFFFFF : CFocusMark::kRimColor);
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
    if (hwnd_ == nullptr || control == nullptr) return false;
    for (TimerInfo& t : timers_) {
        if (t.control == control && t.id == id) return ::SetTimer(hwnd_, t.windowId, elapseMs, nullptr) != 0;
    }
    TimerInfo t{control, id, nextTimerId_++};
    if (!::SetTimer(hwnd_, t.windowId, elapseMs, nullptr)) return false;
    timers_.push_back(t);
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->control == control && it->id == id) {
            if (hwnd_) ::KillTimer(hwnd_, it->windowId);
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::AddOptionGroup(const std::wstring& group, CControlUI* option) {
    auto& members = optionGroups_[group];
    if (std::find(members.begin(), members.end(), option) == members.end()) members.push_back(option);
}

const std::vector<CControlUI*>* CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
    auto it = optionGroups_.find(group);
    return it == optionGroups_.end() ? nullptr : &it->second;
}

void CPaintManagerUI::NeedUpdate() {
    needUpdate_ = true;
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
    if (hwnd_) ::InvalidateRect(hwnd_, &rc, FALSE);
}

void CPaintManagerUI::LayoutIfNeeded() {
    if (!needUpdate_ || !root_) return;
    needUpdate_ = false;
    RECT client{};
    if (hwnd_) ::GetClientRect(hwnd_, &client);
    else client = {0, 0, Scale(initSize.cx), Scale(initSize.cy)};
    if (client.right <= client.left || client.bottom <= client.top) return;
    // Containers place their children on every SetPos, even at an unchanged size.
    root_->SetPos(client);
    if (retiredFonts_.empty()) return;
    // Native children on pages that were not laid out (a closed edit box
    // on a hidden page) still hold a replaced font: they take its
    // successor, so that no window keeps a deleted font.
    if (hwnd_) {
        ::EnumChildWindows(
            hwnd_,
            [](HWND child, LPARAM lp) -> BOOL {
                auto* self = reinterpret_cast<CPaintManagerUI*>(lp);
                const auto held = reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0));
                for (const auto& retired : self->retiredFonts_) {
                    if (held == nullptr || held != retired.first.get()) continue;
                    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(self->fonts_[retired.second].font.get()),
                                   FALSE);
                    break;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(this));
    }
    retiredFonts_.clear();  // deletes the replaced fonts
}

void CPaintManagerUI::Paint(HDC hdc, const RECT& rcPaint) {
    LayoutIfNeeded();
    if (!root_) return;
    // In high contrast the photos and skin colours give way to the window's colour.
    if (CHighContrast::IsOn()) CRenderEngine::FillColor(hdc, rcPaint, CHighContrast::Color(COLOR_WINDOW));
    root_->DoPaint(hdc, rcPaint);
    // ... and the window, without its shadow, gets a frame in the text colour.
    if (CHighContrast::IsOn() && hwnd_) {
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        CRenderEngine::DrawBorder(hdc, client, CHighContrast::Color(COLOR_WINDOWTEXT), Scale(1));
    }
    PaintFocusMark(hdc, rcPaint);
}

HDC CPaintManagerUI::BackBuffer(HDC windowDc, int w, int h) {
    if (!g_paintCaching || backSize_.cx != w || backSize_.cy != h) ReleaseBackBuffer();
    if (backDc_) return backDc_.get();
    void* bits = nullptr;
    kv::UniqueMemoryDc dc(::CreateCompatibleDC(windowDc));
    kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(windowDc, w, h, &bits);
    if (!dc || !dib) return nullptr;
    backOld_ = ::SelectObject(dc.get(), dib.get());
    backDc_ = std::move(dc);
    backBitmap_ = std::move(dib);
    backSize_ = {w, h};
    return backDc_.get();
}

void CPaintManagerUI::ReleaseBackBuffer() {
    if (backDc_ && backOld_) ::SelectObject(backDc_.get(), backOld_);
    backOld_ = nullptr;
    backDc_.reset();
    backBitmap_.reset();
    backSize_ = {};
}

// Paints through a 32-bit off-screen image so nothing flickers. The image
// is kept between paints (up to 50 a second while the progress bar runs)
// and made again only when the client area changes size; each paint redraws
// just the invalid part of it.
void CPaintManagerUI::PaintWindow() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    const int w = client.right, h = client.bottom;
    if (w > 0 && h > 0 && !::IsRectEmpty(&ps.rcPaint)) {
        // A layout made now invalidates what moved; what lies inside the
        // area painted below needs no second paint.
        if (needUpdate_) {
            LayoutIfNeeded();
            ::ValidateRect(hwnd_, &ps.rcPaint);
        }
        if (HDC mem = BackBuffer(dc, w, h)) {
            const int saved = ::SaveDC(mem);
            ::IntersectClipRect(mem, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
            Paint(mem, ps.rcPaint);
            ::RestoreDC(mem, saved);
            ::BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                     ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
        }
        if (!g_paintCaching) {
            ReleaseBackBuffer();
            drawCache_.Clear();
        }
    }
    ::EndPaint(hwnd_, &ps);
    if (!firstPaintDone_ && root_) {
        firstPaintDone_ = true;
        SendNotify(root_.get(), notify::kWindowInit);
    }
}

void CPaintManagerUI::CancelPress() {
    CControlUI* target = captured_;
    captured_ = nullptr;
    if (target == nullptr) return;
    const RECT& rc = target->GetPos();
    TEventUI e{UiEvent::ButtonUp, target, {rc.left - 1, rc.top - 1}, 0, 0};
    target->DoEvent(e);
}

void CPaintManagerUI::SetHot(CControlUI* control, POINT pt) {
    if (control == hot_) return;
    TEventUI e;
    e.ptMouse = pt;
    if (hot_) {
        e.type = UiEvent::MouseLeave;
        e.pSender = hot_;
        hot_->DoEvent(e);
    }
    hot_ = control;
    if (hot_) {
        e.type = UiEvent::MouseEnter;
        e.pSender = hot_;
        hot_->DoEvent(e);
    }
    UpdateToolTip(hot_);
}

void CPaintManagerUI::UpdateToolTip(CControlUI* control) {
    if (control && control->GetToolTip().empty()) control = nullptr;
    if (control == toolTipOwner_ || hwnd_ == nullptr) return;
    toolTipOwner_ = control;
    if (toolTip_ == nullptr) {
        toolTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                     nullptr, nullptr);
        if (toolTip_ == nullptr) return;
    }
    TOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V1_SIZE;
    ti.hwnd = hwnd_;
    ti.uId = 1;
    ::SendMessageW(toolTip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    if (control == nullptr) return;
    std::wstring text = control->GetToolTip();
    ti.uFlags = 0;
    ti.rect = control->GetPos();
    ti.lpszText = &text[0];
    ::SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

bool CPaintManagerUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (hwnd_ == nullptr) return false;
    const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    // Mouse input can come before the first paint has laid the tree out.
    if (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) LayoutIfNeeded();
    // The tool tip learns about the mouse from relayed messages; a move is
    // relayed after the hot control (and so the tool) has been updated.
    auto relayToToolTip = [&] {
        if (toolTip_ == nullptr) return;
        MSG relay{hwnd_, msg, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {pt.x, pt.y}};
        ::SendMessageW(toolTip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
    };
    if (msg != WM_MOUSEMOVE && msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) relayToToolTip();
    switch (msg) {
        case WM_PAINT:
            PaintWindow();
            result = 0;
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_SIZE:
            NeedUpdate();
            return false;
        case WM_TIMER:
            if (accEvents_.OnTimer(static_cast<UINT_PTR>(wParam))) {
                result = 0;
                return true;
            }
            for (const TimerInfo& t : timers_) {
                if (t.windowId == static_cast<UINT_PTR>(wParam)) {
                    const TimerInfo copy = t;  // the handler may kill the timer
                    SendNotify(copy.control, notify::kTimer, copy.id, 0);
                    result = 0;
                    return true;
                }
            }
            return false;
        case WM_MOUSEMOVE: {
            if (!mouseTracking_) {
                TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd_, 0};
                mouseTracking_ = ::TrackMouseEvent(&tme) != FALSE;
            }
            CControlUI* under = FindControl(pt);
            if (under && !under->IsEnabled()) under = nullptr;
            SetHot(captured_ ? (under == captured_ ? captured_ : nullptr) : under, pt);
            relayToToolTip();
            if (captured_) {
                TEventUI e{UiEvent::MouseMove, captured_, pt, wParam, lParam};
                captured_->DoEvent(e);
            }
            return false;
        }
        case WM_MOUSELEAVE:
            mouseTracking_ = false;
            if (!captured_) SetHot(nullptr, pt);
            return false;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            CControlUI* under = FindControl(pt);
            if (under == nullptr || !under->IsEnabled()) return false;
            ::SetFocus(hwnd_);
            SetFocus(under->CanFocus() ? under : nullptr, kFocusByMouse);
            captured_ = under;
            ::SetCapture(hwnd_);
            TEventUI e{UiEvent::ButtonDown, under, pt, wParam, lParam};
            under->DoEvent(e);
            return false;
        }
        case WM_LBUTTONUP: {
            CControlUI* target = captured_;
            captured_ = nullptr;
            if (::GetCapture() == hwnd_) ::ReleaseCapture();
            if (target) {
                TEventUI e{UiEvent::ButtonUp, target, pt, wParam, lParam};
                target->DoEvent(e);
            }
            return false;
        }
        case WM_SETFOCUS:
            // The keyboard is back (a box closed, Alt+Tab): the system told
            // readers about the window; the control that keeps the focus
            // here is what they should land on.
            if (!movingFocus_ && focus_ && focus_->IsShown()) accEvents_.Focus(focus_);
            return false;
        case WM_KILLFOCUS:
            // Another window took the keyboard (a box popping up, Alt+Tab)
            // while Space was held: its key-up goes there, so the press ends
            // here without a click.
            if (focus_) {
                TEventUI e{UiEvent::KeyCancel, focus_, {}, 0, 0};
                focus_->DoEvent(e);
            }
            return false;
        case WM_CAPTURECHANGED:
            // Another window took the mouse (a modal box, a system menu):
            // the pressed control must not stay pressed.
            if (reinterpret_cast<HWND>(lParam) != hwnd_) CancelPress();
            return false;
        case WM_KEYDOWN:
            if (wParam == VK_TAB) {
                MoveFocus((::GetKeyState(VK_SHIFT) & 0x8000) == 0);
                result = 0;
                return true;
            }
            // Space presses on key-down and activates on key-up; the
            // auto-repeat of a held key (bit 30: the key was already down)
            // is ignored.
            if (wParam == VK_SPACE && focus_) {
                if ((lParam & (1 << 30)) == 0) {
                    TEventUI e{UiEvent::KeyDown, focus_, {}, wParam, lParam};
                    focus_->DoEvent(e);
                }
                result = 0;
                return true;
            }
            return false;
        case WM_KEYUP:
            if (wParam == VK_SPACE && focus_) {
                TEventUI e{UiEvent::KeyUp, focus_, {}, wParam, lParam};
                focus_->DoEvent(e);
                result = 0;
                return true;
            }
            return false;
        case WM_CHAR:
            // Tab and Space were used on key-down and key-up: no beep.
            if (wParam == L'\t' || (wParam == L' ' && focus_)) {
                result = 0;
                return true;
            }
            return false;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                POINT cursor{};
                ::GetCursorPos(&cursor);
                ::ScreenToClient(hwnd_, &cursor);
                CControlUI* under = FindControl(cursor);
                const bool text = under && wcscmp(under->GetClass(), L"EditUI") == 0 && under->IsEnabled();
                ::SetCursor(::LoadCursorW(nullptr, text ? IDC_IBEAM : IDC_ARROW));
                result = TRUE;
                return true;
            }
            return false;
        case WM_COMMAND:
            if (HIWORD(wParam) == EN_CHANGE && lParam) {
                if (auto* edit = static_cast<CEditUI*>(::GetPropW(reinterpret_cast<HWND>(lParam), kEditProp))) {
                    edit->OnNativeChange();
                    result = 0;
                    return true;
                }
            }
            return false;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
            if (auto* edit = static_cast<CEditUI*>(::GetPropW(reinterpret_cast<HWND>(lParam), kEditProp))) {
                result = reinterpret_cast<LRESULT>(edit->OnNativeColor(reinterpret_cast<HDC>(wParam)));
                return true;
            }
            return false;
        case WM_GETOBJECT:
            result = AnswerGetObject(wParam, lParam);
            return result != 0;
        case WM_SETTINGCHANGE:  // SPI_SETHIGHCONTRAST among others
        case WM_THEMECHANGED:
        case WM_SYSCOLORCHANGE:
            // High contrast turned on or off, or its colours changed: the
            // whole window (with an open edit box) is drawn again.
            CHighContrast::Refresh();
            ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
            return false;
        case WM_DESTROY:
            ::RemovePropW(hwnd_, kDpiProp);
            DetachAccessible();
            accEvents_.Clear();
            return false;
        default:
            if (msg == CAccessibleWindow::ActionMessage() && msg != 0) {
                const auto target = reinterpret_cast<CControlUI*>(lParam);
                const std::vector<CControlUI*> all = CAccessibleInfo::Flatten(root_.get());
                if (std::find(all.begin(), all.end(), target) != all.end()) Click(target);
                result = 0;
                return true;
            }
            return false;
    }
}
