#pragma once
// Stand-in for a markup font face that is not installed: GDI would draw
// Chinese text in a face without those glyphs as empty boxes (a Linux or
// Proton user's Wine has no "宋体"). Any thread.
#include <string>

class CFontFallback {
public:
    using IsInstalledFn = bool (*)(const std::wstring& face);

    // The CJK faces tried, Windows' own first, then common Linux ones.
    static const wchar_t* const kCandidates[];
    static const size_t kCandidateCount;

    // True when GDI knows a font family of that name.
    static bool IsInstalled(const std::wstring& face);
    // The first candidate that `installed` accepts; empty when none is.
    static std::wstring ChooseFace(IsInstalledFn installed);
};
