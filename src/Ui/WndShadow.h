#pragma once
// Soft drop shadow of a borderless window: a layered, click-through window
// "KvShadowWnd" owned by the parent, kept around it by a shared replacement
// of the parent's window procedure, and hidden while high contrast is on.
// Lives until the parent's final destroy message, which deletes it. Main
// thread only.
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Runtime/Handles.h"

class CWndShadow {
public:
    static constexpr int kDefaultSize = 14;  // at 100%
    static constexpr COLORREF kDefaultColor = RGB(80, 80, 80);

    CWndShadow() = default;
    virtual ~CWndShadow() = default;
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Once per process: registers the window class when the system has
    // layered windows; without them no shadow is ever created.
    static bool Initialize(HINSTANCE instance);
    static bool IsAvailable() { return s_available; }
    // Creates and attaches the shadow window; on success the object belongs
    // to the parent window and is deleted with it, on failure (false) it
    // stays the caller's.
    bool Create(HWND parent);

    // The shadow's depth follows the parent's display scale (set before
    // Create; afterwards the parent's WM_DPICHANGED changes it).
    void SetDpi(UINT dpi);
    int GetSize() const { return size_; }

    HWND GetHWND() const { return hwnd_.get(); }
    bool IsShown() const { return (status_ & kShown) != 0; }
    // The alpha of ring j (0 = outermost) before side factors and tapers.
    static int BaseAlpha(int size, int ring);
    // The shadow alpha of pixel (x, y) of a shadow image for a parent of
    // width w and height h (the parent sits at (size, size)).
    static int PixelAlpha(int size, int w, int h, int x, int y);

private:
    // Per-ring alphas of the top and the other sides, and the taper
    // factors by distance from a side's end.
    struct AlphaTable {
        explicit AlphaTable(int shadowSize);
        int At(int w, int h, int x, int y) const;
        int size;
        std::vector<int> top;
        std::vector<int> side;
        std::vector<double> taper;
    };

    enum Status : uint8_t { kEnabled = 1, kShown = 2, kParentVisible = 4 };

    static void CALLBACK OnFirstTimer(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static std::map<HWND, CWndShadow*>& Map();
    void ApplyShowRule(HWND parent);
    void Update(HWND parent);
    void Show(bool show);

    kv::UniqueWindow hwnd_;
    int size_ = kDefaultSize;
    int xOffset_ = 0;
    int yOffset_ = 0;
    WORD lastWidth_ = 0;
    WORD lastHeight_ = 0;
    COLORREF color_ = kDefaultColor;
    bool updatePending_ = false;
    uint8_t status_ = 0;
    int positionMode_ = 0;
    WNDPROC parentProc_ = nullptr;
    std::unique_ptr<AlphaTable> table_;

    static bool s_available;
};
