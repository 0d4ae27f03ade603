#pragma once
// Per-window engine of the skinned controls: owns the control tree, the
// window's markup settings, fonts and decoded images; lays out and paints
// the tree, turns window messages into control events and notifications,
// and runs the controls' timers. Main thread only.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Runtime/Handles.h"
#include "Ui/AccessibleEvents.h"
#include "Ui/DpiScale.h"
#include "Ui/ImageDrawCache.h"
#include "Ui/UiDefs.h"

namespace Gdiplus {
class Bitmap;
}
class CAccessibleWindow;
class CControlUI;

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // Binds the window and takes its display scale: the owner's when it has
    // one (a message box follows its owner), else its monitor's.
    void Init(HWND hwnd);
    HWND GetPaintWindow() const { return hwnd_; }

    // Display scale. The markup's coordinates, sizes and fonts are at 96 DPI
    // (100%); layout, painting and hit-testing use them at GetDpi().
    UINT GetDpi() const { return dpi_; }
    int Scale(int v) const { return CDpiScale::Scale(v, dpi_); }
    RECT Scale(const RECT& rc) const { return CDpiScale::Scale(rc, dpi_); }
    SIZE Scale(SIZE sz) const { return CDpiScale::Scale(sz, dpi_); }
    int Unscale(int v) const { return CDpiScale::Unscale(v, dpi_); }
    // Takes another display scale (a window moved to another monitor):
    // fonts made again, images scaled again at first use, and the tree laid
    // out again at the next layout (LayoutIfNeeded, or the next paint).
    // Nothing is done at an unchanged DPI.
    void SetDpi(UINT dpi);
    // Takes ownership of the tree and attaches every control to this manager.
    bool AttachDialog(CControlUI* root);
    CControlUI* GetRoot() const { return root_.get(); }

    // Window settings from the markup (at 96 DPI).
    SIZE initSize{};
    SIZE minInfo{};
    SIZE maxInfo{};
    RECT caption{};
    RECT sizeBox{};
    SIZE sizeGrip{};
    SIZE roundCorner{};
    bool bkTrans = false;
    bool shadow = false;
    bool selfShadow = false;
    std::wstring shadowImage;
    RECT shadowBorder{};
    uint32_t defaultTextColor = 0xFF000000;
    uint32_t defaultDisabledColor = 0xFFA7A6AA;
    std::wstring accRole;  // what a screen reader calls the window ("dialog"; default "client")

    // Fonts are numbered in the order added; -1 or an unknown number is the
    // default font. A face that is not installed is replaced by the window's
    // CJK fallback face (chosen once per window).
    int AddFont(const std::wstring& face, int size, bool bold, bool underline, bool italic);
    void SetDefaultFont(int index) { defaultFont_ = index; }
    HFONT GetFont(int index) const;
    // The font's line height in pixels, at the current scale.
    int GetFontHeight(int index) const;
    size_t GetFontCount() const { return fonts_.size(); }

    // A package image at the current scale (its pixels are device pixels),
    // made once per name and scale; null when it cannot be loaded (the
    // failure is remembered too). "a.png" is read from "a@2x.png", art drawn
    // for 200%, when the package has it, else from "a.png" itself (100%).
    Gdiplus::Bitmap* GetImage(const std::wstring& name);
    // The same for an image in the program's resources (type "PNG" when
    // none is given), drawn for 100%.
    Gdiplus::Bitmap* GetResourceImage(const std::wstring& name, const std::wstring& type);
    // What painting derives from the images, kept between paints; null
    // while caching is off.
    CImageDrawCache* GetDrawCache();

    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void SendNotify(CControlUI* sender, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0);

    CControlUI* FindControl(const std::wstring& name) const;
    CControlUI* FindControl(POINT pt) const;
    CControlUI* GetFocus() const { return focus_; }
    // Focus from the keyboard (Tab) is marked, and Enter activates it.
    void SetFocus(CControlUI* control, FocusReason reason = kFocusByCode);
    // Forgets a control that is hidden or disabled, and with it every
    // descendant: they lose the hover look, any press (ended without a
    // click), the tool tip and the focus. Their timers keep running.
    void ReleaseControl(CControlUI* control);

    // Keyboard. The controls Tab visits: shown, enabled, focusable, in
    // markup order.
    std::vector<CControlUI*> GetFocusOrder() const;
    // Tab (forward) or Shift+Tab: focus the next or previous of them,
    // wrapping around; false when there is none.
    bool MoveFocus(bool forward);
    bool IsKeyboardFocus() const { return focus_ != nullptr && keyboardFocus_; }
    // Enter: activates the control focused by Tab; false when there is none.
    bool ActivateKeyboardFocus();
    // The rectangle of the focus mark drawn around `control`.
    RECT FocusMarkRect(CControlUI* control) const;

    // Measurement switch: false paints without the kept back buffer and
    // image-part cache, as every paint once did. Process-wide.
    static void SetPaintCaching(bool enabled);

    // Does what a mouse click on the control does (focus, press, release
    // inside); false when the control is hidden or disabled or the window
    // takes no input. The control may be gone afterwards.
    bool Click(CControlUI* control);

    // Screen readers: the window's accessible object (made at first use,
    // owned here; null once the window is destroyed) and its events.
    CAccessibleWindow* GetAccessible();
    CAccessibleEvents& GetAccessibleEvents() { return accEvents_; }

    bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
    bool KillTimer(CControlUI* control, UINT id);

    void AddOptionGroup(const std::wstring& group, CControlUI* option);
    const std::vector<CControlUI*>* GetOptionGroup(const std::wstring& group) const;

    void NeedUpdate();
    void Invalidate(const RECT& rc);
    // Lays the tree out over the client area when something changed.
    void LayoutIfNeeded();
    // Lays out if needed and paints the tree into hdc (client co-ordinates).
    void Paint(HDC hdc, const RECT& rcPaint);

    // Handles the messages the controls need; true when it answered one.
    bool MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    struct FontInfo {
        kv::UniqueFont font;
        int height = 0;  // at dpi_
        std::wstring face;
        int size = 12;  // at 96 DPI
        bool bold = false;
        bool underline = false;
        bool italic = false;
    };
    struct TimerInfo {
        CControlUI* control = nullptr;
        UINT id = 0;
        UINT_PTR windowId = 0;
    };
    static constexpr UINT_PTR kFirstTimerId = 0x4B560000;  // clear of the controllers' own ids

    // Creates info.font and info.height at dpi_.
    void CreateFontAtDpi(FontInfo& info) const;
    // Decoded bytes drawn for `artDpi`, rescaled to dpi_ (null on failure).
    std::unique_ptr<Gdiplus::Bitmap> DecodeAtDpi(const std::vector<uint8_t>& bytes, UINT artDpi) const;
    void SetHot(CControlUI* control, POINT pt);
    // Ends the current press without a click (the control gets its button-up
    // outside itself), as when the mouse capture is lost.
    void CancelPress();
    void UpdateToolTip(CControlUI* control);
    void PaintWindow();
    void PaintFocusMark(HDC hdc, const RECT& rcPaint);
    // The kept off-screen image of the client area, remade on a size change.
    HDC BackBuffer(HDC windowDc, int w, int h);
    void ReleaseBackBuffer();
    bool IsInside(const CControlUI* control, const CControlUI* ancestor) const;
    // The window's answer to WM_GETOBJECT (0: the system's default).
    LRESULT AnswerGetObject(WPARAM wParam, LPARAM lParam);
    // Cuts the accessible object off the window, for good.
    void DetachAccessible();

    HWND hwnd_ = nullptr;
    UINT dpi_ = CDpiScale::kBaseDpi;
    std::unique_ptr<CControlUI> root_;
    std::vector<FontInfo> fonts_;
    // Fonts replaced by SetDpi and the index of their successor; deleted
    // after the next layout.
    std::vector<std::pair<kv::UniqueFont, size_t>> retiredFonts_;
    int defaultFont_ = -1;
    kv::UniqueFont systemFont_;
    std::map<std::wstring, std::unique_ptr<Gdiplus::Bitmap>> images_;  // at dpi_
    std::vector<INotifyUI*> notifiers_;
    CControlUI* hot_ = nullptr;
    CControlUI* captured_ = nullptr;
    CControlUI* focus_ = nullptr;
    std::vector<TimerInfo> timers_;
    UINT_PTR nextTimerId_ = kFirstTimerId;
    std::map<std::wstring, std::vector<CControlUI*>> optionGroups_;
    bool needUpdate_ = true;
    bool firstPaintDone_ = false;
    bool mouseTracking_ = false;
    bool keyboardFocus_ = false;
    bool fallbackResolved_ = false;
    std::wstring fallbackFace_;
    CImageDrawCache drawCache_;
    kv::UniqueMemoryDc backDc_;
    kv::UniqueGdiObject backBitmap_;
    HGDIOBJ backOld_ = nullptr;
    SIZE backSize_{};
    HWND toolTip_ = nullptr;
    CControlUI* toolTipOwner_ = nullptr;
    CAccessibleWindow* accessible_ = nullptr;  // one reference held
    bool accessibleClosed_ = false;
    bool movingFocus_ = false;  // inside SetFocus, which tells readers itself
    CAccessibleEvents accEvents_{*this};
};
