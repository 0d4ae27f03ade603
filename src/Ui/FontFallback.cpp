#include "Ui/FontFallback.h"

#include <windows.h>

#include "Runtime/Handles.h"

const wchar_t* const CFontFallback::kCandidates[] = {
    L"宋体",          L"SimSun",           L"微软雅黑",           L"Microsoft YaHei",
    L"新宋体",        L"NSimSun",          L"黑体",               L"SimHei",
    L"Noto Sans CJK SC", L"Source Han Sans SC", L"WenQuanYi Micro Hei", L"WenQuanYi Zen Hei",
    L"Droid Sans Fallback", L"AR PL UMing CN", L"AR PL UKai CN"};
const size_t CFontFallback::kCandidateCount = sizeof(kCandidates) / sizeof(kCandidates[0]);

namespace {
int CALLBACK CountFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;  // one is enough
}
}  // namespace

bool CFontFallback::IsInstalled(const std::wstring& face) {
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    face.copy(lf.lfFaceName, face.size());
    bool found = false;
    const kv::UniqueScreenDc dc(::GetDC(nullptr));
    ::EnumFontFamiliesExW(dc.get(), &lf, &CountFamily, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

std::wstring CFontFallback::ChooseFace(IsInstalledFn installed) {
    for (size_t i = 0; i < kCandidateCount; ++i) {
        if (installed(kCandidates[i])) return kCandidates[i];
    }
    return L"";
}
