#include "Ui/WndShadow.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Ui/DpiScale.h"
#include "Ui/HighContrast.h"
#include "Ui/RenderEngine.h"

namespace {
constexpr wchar_t kClassName[] = L"KvShadowWnd";
constexpr wchar_t kLogFile[] = L".\\Ui\\WndShadow";
constexpr UINT_PTR kFirstUpdateTimer = 1;
constexpr double kPi = 3.14159265358979323846;
constexpr double kTopFactor = 0.2;
constexpr double kSideFactor = 0.46;
}  // namespace

bool CWndShadow::s_available = false;

std::map<HWND, CWndShadow*>& CWndShadow::Map() {
    static std::map<HWND, CWndShadow*> map;
    return map;
}

bool CWndShadow::Initialize(HINSTANCE instance) {
    if (s_available) return true;
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    if (user == nullptr || ::GetProcAddress(user, "UpdateLayeredWindow") == nullptr) return false;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    s_available = ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    if (!s_available) KV_LOG(kToConsole | kToFile, Error, L"CWndShadow::Initialize class not registered (%u)",
                             ::GetLastError());
    return s_available;
}

void CWndShadow::SetDpi(UINT dpi) { size_ = CDpiScale::Scale(kDefaultSize, dpi); }

int CWndShadow::BaseAlpha(int size, int ring) {
    if (ring < 0 || ring >= size) return 0;
    const double n = ring + 1;
    return static_cast<int>(std::sin(std::pow(n, 2.5) * 0.4712388981 / std::pow(size, 2.4)) * 255);
}

CWndShadow::AlphaTable::AlphaTable(int shadowSize) : size(shadowSize) {
    const int n = size > 0 ? size : 0;
    top.resize(static_cast<size_t>(n));
    side.resize(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        const int base = BaseAlpha(size, j);
        top[static_cast<size_t>(j)] = static_cast<int>(base * kTopFactor);
        side[static_cast<size_t>(j)] = static_cast<int>(base * kSideFactor);
    }
    const double taperScale = n > 0 ? kPi / 2 / std::pow(size, 1.4) : 0;
    taper.resize(static_cast<size_t>(3 * n));
    for (int d = 0; d < 3 * n; ++d) taper[static_cast<size_t>(d)] = std::sin(d * taperScale);
}

// Each side is a band `size` pixels deep whose rings darken towards the
// parent; the bands run the full length of the image, so at a corner two
// bands meet and the stronger wins. Near both ends of a band the alpha
// tapers off, which rounds the corners softly.
int CWndShadow::AlphaTable::At(int w, int h, int x, int y) const {
    const int W = w + 2 * size, H = h + 2 * size;
    if (x < 0 || y < 0 || x >= W || y >= H) return 0;
    auto band = [&](const std::vector<int>& ring, int j, int d, int taperLength) {
        int a = ring[static_cast<size_t>(j)];
        if (d < taperLength) a = static_cast<int>(a * taper[static_cast<size_t>(d)]);
        return a < 0 ? 0 : a;
    };
    int alpha = 0;
    const int alongX = std::min(x, W - 1 - x), alongY = std::min(y, H - 1 - y);
    if (y < size) alpha = std::max(alpha, band(top, y, alongX, 2 * size));
    if (y >= size + h) alpha = std::max(alpha, band(side, H - 1 - y, alongX, 3 * size));
    if (x < size) alpha = std::max(alpha, band(side, x, alongY, 3 * size));
    if (x >= size + w) alpha = std::max(alpha, band(side, W - 1 - x, alongY, 3 * size));
    return alpha;
}

int CWndShadow::PixelAlpha(int size, int w, int h, int x, int y) { return AlphaTable(size).At(w, h, x, y); }

bool CWndShadow::Create(HWND parent) {
    if (!s_available || parent == nullptr || Map().count(parent)) return false;
    hwnd_.reset(::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kClassName, kClassName, WS_POPUPWINDOW,
                                  CW_USEDEFAULT, 0, 0, 0, parent, nullptr,
                                  reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr));
    if (!hwnd_) {
        KV_LOG(kToConsole | kToFile, Error, L"CWndShadow::Create no shadow window (%u)", ::GetLastError());
        return false;
    }
    status_ = kEnabled;
    ApplyShowRule(parent);
    ::SetTimer(hwnd_.get(), kFirstUpdateTimer, 1000, &CWndShadow::OnFirstTimer);
    ::ShowWindow(hwnd_.get(), SW_HIDE);
    Map()[parent] = this;
    parentProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWndShadow::ParentProc)));
    return true;
}

// One second after creation the shadow is drawn once more, when the parent
// has settled its size and position.
void CALLBACK CWndShadow::OnFirstTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(hwnd, id);
    for (auto& entry : Map()) {
        if (entry.second->hwnd_.get() != hwnd) continue;
        entry.second->updatePending_ = true;
        if (entry.second->status_ & kShown) entry.second->Update(entry.first);
        break;
    }
}

void CWndShadow::ApplyShowRule(HWND parent) {
    status_ &= kEnabled;
    if ((status_ & kEnabled) && ::IsWindowVisible(parent)) {
        status_ |= kParentVisible;
        if (!::IsZoomed(parent) && !::IsIconic(parent)) status_ |= kShown;
    }
    if (status_ & kShown) {
        Show(true);
        Update(parent);
    } else {
        Show(false);
    }
}

// High contrast has no soft shadows: the window stays hidden meanwhile.
void CWndShadow::Show(bool show) {
    if (hwnd_) ::ShowWindow(hwnd_.get(), show && !CHighContrast::IsOn() ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void CWndShadow::Update(HWND parent) {
    RECT rc{};
    ::GetWindowRect(parent, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0 || !hwnd_) return;
    const int W = w + 2 * size_, H = h + 2 * size_;
    void* bits = nullptr;
    kv::UniqueMemoryDc mem(::CreateCompatibleDC(nullptr));
    kv::UniqueGdiObject dib = CRenderEngine::CreateDib32(nullptr, W, H, &bits);
    if (!mem || !dib || bits == nullptr) return;
    auto* px = static_cast<uint32_t*>(bits);
    const uint32_t r = GetRValue(color_), g = GetGValue(color_), b = GetBValue(color_);
    // The rings' alphas and the tapers are worked out once per size; the
    // pixels under the parent (most of the image) are skipped.
    if (!table_ || table_->size != size_) table_ = std::make_unique<AlphaTable>(size_);
    std::fill(px, px + static_cast<size_t>(W) * H, 0u);
    for (int y = 0; y < H; ++y) {
        const bool band = y < size_ || y >= size_ + h;
        for (int x = 0; x < W; ++x) {
            if (!band && x == size_) x = size_ + w;
            const uint32_t a = static_cast<uint32_t>(table_->At(w, h, x, y));
            px[static_cast<size_t>(y) * W + x] = (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
        }
    }
    HGDIOBJ old = ::SelectObject(mem.get(), dib.get());
    POINT dst{rc.left - size_ + xOffset_, rc.top - size_ + yOffset_};
    SIZE sz{W, H};
    POINT src{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::MoveWindow(hwnd_.get(), dst.x, dst.y, W, H, FALSE);
    ::UpdateLayeredWindow(hwnd_.get(), nullptr, &dst, &sz, mem.get(), &src, 0, &blend, ULW_ALPHA);
    ::SelectObject(mem.get(), old);
}

LRESULT CALLBACK CWndShadow::ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto it = Map().find(hwnd);
    if (it == Map().end()) return ::DefWindowProcW(hwnd, msg, wp, lp);
    CWndShadow* s = it->second;
    const WNDPROC next = s->parentProc_;
    switch (msg) {
        case WM_MOVE:
            if (s->status_ & kShown) {
                const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
                RECT rc{};
                ::GetWindowRect(hwnd, &rc);
                ::SetWindowPos(s->hwnd_.get(), nullptr, rc.left - s->size_ + s->xOffset_,
                               rc.top - s->size_ + s->yOffset_, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
                return r;
            }
            break;
        case WM_SIZE:
            if (s->status_ & kEnabled) {
                if (wp == SIZE_MINIMIZED || wp == SIZE_MAXIMIZED) {
                    s->Show(false);
                    s->status_ &= ~kShown;
                } else if (::IsWindowVisible(hwnd)) {
                    s->status_ |= kParentVisible;
                    const WORD cw = LOWORD(lp), ch = HIWORD(lp);
                    if (!(s->status_ & kShown)) {
                        const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
                        s->status_ |= kShown;
                        s->Update(hwnd);
                        s->Show(true);
                        s->updatePending_ = true;
                        s->lastWidth_ = cw;
                        s->lastHeight_ = ch;
                        return r;
                    }
                    // Growing waits for the parent's next paint, so the
                    // shadow never shows around an area not yet painted.
                    if (cw > s->lastWidth_ || ch > s->lastHeight_) s->updatePending_ = true;
                    else s->Update(hwnd);
                    s->lastWidth_ = cw;
                    s->lastHeight_ = ch;
                }
            }
            break;
        case WM_PAINT: {
            const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
            if (s->updatePending_) {
                s->ApplyShowRule(hwnd);
                s->updatePending_ = false;
            }
            return r;
        }
        case WM_SHOWWINDOW:
            if (s->status_ & kEnabled) {
                const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
                if (wp) {
                    s->status_ |= kShown | kParentVisible;
                    s->updatePending_ = true;
                    s->ApplyShowRule(hwnd);
                } else {
                    s->Show(false);
                    s->status_ &= ~(kShown | kParentVisible);
                }
                return r;
            }
            break;
        case WM_DPICHANGED: {
            // The parent takes its new rectangle first; the shadow is then
            // drawn again at the new depth.
            const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
            s->SetDpi(HIWORD(wp));
            if (s->status_ & kShown) s->Update(hwnd);
            return r;
        }
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
        case WM_SYSCOLORCHANGE: {
            // The parent learns whether high contrast is on; the shadow follows.
            const LRESULT r = ::CallWindowProcW(next, hwnd, msg, wp, lp);
            s->ApplyShowRule(hwnd);
            return r;
        }
        case WM_EXITSIZEMOVE:
            if (s->status_ & kShown) s->Update(hwnd);
            break;
        case WM_DESTROY:
            s->hwnd_.reset();
            break;
        case WM_NCDESTROY: {
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
            Map().erase(it);
            delete s;
            return ::CallWindowProcW(next, hwnd, msg, wp, lp);
        }
        default:
            break;
    }
    return ::CallWindowProcW(next, hwnd, msg, wp, lp);
}
