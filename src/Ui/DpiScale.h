#pragma once
// Display scale of the skinned windows. The skin's coordinates are at 96
// DPI (100%); a window lays itself out at its monitor's DPI by multiplying
// them. Pure arithmetic plus the system's DPI queries; any thread.
#include <windows.h>

class CDpiScale {
public:
    static constexpr UINT kBaseDpi = 96;

    // Asks for per-monitor (v2) awareness when the manifest did not already
    // give it. Systems before Windows 10 1703, a process whose awareness is
    // set, and Wine refuse the request: that is normal, and the manifest's
    // declaration holds. True when some level of awareness was granted here.
    static bool EnableProcessAwareness();
    // The DPI of the monitor `hwnd` is on (the system DPI on systems without
    // per-monitor DPI); 96 when it cannot be read.
    static UINT ForWindow(HWND hwnd);
    // The system DPI (of the primary monitor at logon).
    static UINT ForSystem();

    // v (at 96 DPI) at `dpi`, rounded to the nearest pixel.
    static int Scale(int v, UINT dpi) { return dpi == kBaseDpi ? v : ::MulDiv(v, static_cast<int>(dpi), kBaseDpi); }
    // v (at `dpi`) back at 96 DPI, rounded.
    static int Unscale(int v, UINT dpi) {
        return dpi == kBaseDpi || dpi == 0 ? v : ::MulDiv(v, kBaseDpi, static_cast<int>(dpi));
    }
    // Every edge scaled on its own, so adjacent rectangles stay adjacent.
    static RECT Scale(const RECT& rc, UINT dpi) {
        return {Scale(rc.left, dpi), Scale(rc.top, dpi), Scale(rc.right, dpi), Scale(rc.bottom, dpi)};
    }
    static SIZE Scale(SIZE sz, UINT dpi) { return {Scale(sz.cx, dpi), Scale(sz.cy, dpi)}; }
};
