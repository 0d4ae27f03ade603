#pragma once
// Reader of image descriptions: a bare file name, or key='value' items
// separated by blanks ("file='a.png' dest='0,4,16,20' corner='3,3,3,3'").
// Produces the images to draw, in order, each with the settings in force
// when it was drawn. Pure; any thread.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct ImageDrawSettings {
    RECT dest{};          // relative to the control's top-left corner
    bool hasDest = false;
    RECT rdest{};         // relative to the control's bottom-right corner
    bool hasRdest = false;
    RECT source{};        // image pixels; all zero = whole image
    RECT corner{};        // nine-part border widths
    RECT centerRect{};    // alternative nine-part: the stretchable middle
    bool hasCenterRect = false;
    uint32_t mask = 0;    // 0xFFRRGGBB when set
    bool hasMask = false;
    uint8_t fade = 255;
    bool hole = false;
    bool xtiled = false;
    bool ytiled = false;
    bool stretch = true;
    bool center = false;
    bool alignTop = false;
    bool alignLeft = false;
    SIZE roundCorner{};
    std::wstring resType;
    bool fromResource = false;  // "res" instead of "file"
};

struct ImageDrawItem {
    std::wstring name;
    ImageDrawSettings settings;
};

class CImageDescription {
public:
    // Cap on one description; longer text is cut there before reading.
    static constexpr size_t kMaxLength = 4096;

    // The images that `description` (optionally modified by `modify`, whose
    // "file" replaces the pending image without drawing it) asks to draw.
    static std::vector<ImageDrawItem> Parse(const std::wstring& description, const std::wstring& modify = L"");
};
