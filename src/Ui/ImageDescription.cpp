#include "Ui/ImageDescription.h"

#include "Ui/MarkupValues.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Applies one key to the settings; "file"/"res" are handled by the caller.
void ApplySetting(ImageDrawSettings& s, const std::wstring& key, const std::wstring& value) {
    if (key == L"restype") {
        s.resType = value;
    } else if (key == L"dest") {
        if (markup::ParseRect(value, s.dest)) s.hasDest = true;
    } else if (key == L"rdest") {
        if (markup::ParseRect(value, s.rdest)) s.hasRdest = true;
    } else if (key == L"source") {
        markup::ParseRect(value, s.source);
    } else if (key == L"corner") {
        markup::ParseRect(value, s.corner);
    } else if (key == L"centerrect") {
        if (markup::ParseRect(value, s.centerRect)) s.hasCenterRect = true;
    } else if (key == L"mask") {
        uint32_t c = 0;
        if (markup::ParseColor(value, c)) {
            s.mask = c | 0xFF000000u;
            s.hasMask = true;
        }
    } else if (key == L"fade") {
        int f = 0;
        if (markup::ParseInt(value, f)) s.fade = static_cast<uint8_t>(f < 0 ? 0 : (f > 255 ? 255 : f));
    } else if (key == L"hole") {
        s.hole = markup::ParseBool(value);
    } else if (key == L"xtiled") {
        s.xtiled = markup::ParseBool(value);
    } else if (key == L"ytiled") {
        s.ytiled = markup::ParseBool(value);
    } else if (key == L"stretch") {
        s.stretch = markup::ParseBool(value);
    } else if (key == L"center") {
        s.center = markup::ParseBool(value);
    } else if (key == L"aligntop") {
        s.alignTop = markup::ParseBool(value);
    } else if (key == L"alignleft") {
        s.alignLeft = markup::ParseBool(value);
    } else if (key == L"roundcorner") {
        markup::ParseSize(value, s.roundCorner);
    }
    // Unknown keys are ignored.
}

// Reads the items of one description. In the main description a second
// "file" draws the pending image first; in a modifying one it only replaces it.
void ReadItems(const std::wstring& text, bool modifying, std::wstring& name, bool& named, ImageDrawSettings& s,
               std::vector<ImageDrawItem>& out) {
    const size_t n = text.size();
    size_t pos = 0;
    while (pos < n) {
        while (pos < n && IsBlank(text[pos])) ++pos;
        std::wstring key;
        while (pos < n && text[pos] != L'=' && !IsBlank(text[pos])) key += text[pos++];
        while (pos < n && IsBlank(text[pos])) ++pos;
        if (pos >= n || text[pos++] != L'=') break;
        while (pos < n && IsBlank(text[pos])) ++pos;
        if (pos >= n || text[pos++] != L'\'') break;
        std::wstring value;
        while (pos < n && text[pos] != L'\'') value += text[pos++];
        if (pos >= n || text[pos++] != L'\'') break;
        if (!value.empty()) {
            if (key == L"file" || key == L"res") {
                if (named && !modifying) out.push_back({name, s});
                name = value;
                named = true;
                s.fromResource = key == L"res";
            } else {
                ApplySetting(s, key, value);
            }
        }
        if (pos >= n || text[pos++] != L' ') break;
    }
}

}  // namespace

std::vector<ImageDrawItem> CImageDescription::Parse(const std::wstring& description, const std::wstring& modify) {
    std::vector<ImageDrawItem> items;
    const std::wstring text = description.substr(0, kMaxLength);
    std::wstring name = text;  // a bare file name draws that file
    bool named = false;
    ImageDrawSettings settings;
    ReadItems(text, false, name, named, settings, items);
    if (!modify.empty()) ReadItems(modify.substr(0, kMaxLength), true, name, named, settings, items);
    if (!name.empty()) items.push_back({name, settings});
    return items;
}
