#pragma once
// Helpers of the UI tests: in-memory zip archives, generated PNG images and
// a temporary skin package (the log capture comes with them).
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/LogCapture.h"

// Writes a zip archive of stored (uncompressed) entries.
using ZipEntries = std::vector<std::pair<std::string, std::string>>;
std::vector<uint8_t> BuildStoredZip(const ZipEntries& entries);

// A w x h PNG of one colour (AARRGGBB).
std::string MakeSolidPng(int w, int h, uint32_t argb);
// A 20 x 20 PNG of four 10 x 10 quadrants: red, green / blue, white.
std::string MakeQuadrantPng();
// A 9 x 9 PNG with a 3-pixel red border around a blue middle.
std::string MakeFramePng();

// Replaces the skin package for the test's lifetime; afterwards the
// program's own package is loaded again on next use.
class ScopedSkinPackage {
public:
    explicit ScopedSkinPackage(const ZipEntries& entries);
    ~ScopedSkinPackage();
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// The colour (0xRRGGBB) of pixel (x, y) of a top-down 32-bit DIB.
uint32_t PixelAt(const std::vector<uint32_t>& pixels, int width, int x, int y);

class CPaintManagerUI;
// The client area of a window's tree painted into an off-screen 32-bit image
// (w x h, top-down rows), as the window paints it.
std::vector<uint32_t> PaintOffscreen(CPaintManagerUI& manager, int w, int h);
// A w x h PNG whose pixels come from `pixel(x, y)` (0xAARRGGBB).
std::string MakePng(int w, int h, uint32_t (*pixel)(int x, int y));
// The shadow window ("KvShadowWnd") of a skinned window of this thread.
HWND FindShadowOf(HWND parent);
