#pragma once
// The progress bar of the installer window is one composite background
// description (track, fill, and a moving highlight over each), rebuilt on
// every step. These functions compute it; stateless, any thread.
#include <cstdint>
#include <string>

// Highlight width in pixels, and how far it runs past the bar before wrapping.
constexpr int kFlashWidth = 80;

// Filled pixels of a bar `width` wide. With a ready package the install
// animation (0..900) fills it all; otherwise the download fills 90% and the
// animation the last 10%.
int ProgressFill(int width, bool packageReady, int animCounter, int64_t total, int64_t complete);
// The whole percentage `fill` is of `width` (0..100), the bar's value.
int ProgressPercent(int width, int fill);
// The highlight's next x position: 3 pixels on, back to 0 past width + 80.
int AdvanceFlash(int flashPos, int width);
// The columns [left, right) of a bar `width` wide that look different after
// a step from (oldFill, oldFlash) to (newFill, newFlash); left == right when
// nothing changed. A change of fill redraws the fill from the bar's start,
// since its stretched middle moves with it. An oldFill below 0 stands for a
// bar that shows something else: all of it changes.
struct BarSpan {
    int left;
    int right;
};
BarSpan ProgressBarChange(int width, int oldFill, int oldFlash, int newFill, int newFlash);
// The four image descriptions for a bar `width` wide, filled to `fill`,
// with the highlight at `flashPos`.
std::wstring ProgressBarDescription(int width, int fill, int flashPos);
