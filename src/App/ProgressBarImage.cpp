#include "App/ProgressBarImage.h"

#include <algorithm>

#include "Runtime/TextUtils.h"

namespace {
constexpr int kAnimEnd = 900;
// The fill's highlight is drawn from this far left of the highlight position.
constexpr int kForeFlashOffset = 230;
constexpr int kMaxCorner = 110;
// Every description is followed by this run of blanks and tabs.
constexpr wchar_t kGap[] = L" \t\t\t\t\t\t\t\t\t   ";
}  // namespace

int ProgressFill(int width, bool packageReady, int animCounter, int64_t total, int64_t complete) {
    if (packageReady) return animCounter * width / kAnimEnd;
    if (total <= 0) return 0;
    const double download = width * 0.9 * static_cast<double>(complete) / static_cast<double>(total);
    const double install = animCounter * (width * 0.1) / kAnimEnd;
    return static_cast<int>(download + install);
}

int ProgressPercent(int width, int fill) {
    if (width <= 0 || fill <= 0) return 0;
    return fill >= width ? 100 : static_cast<int>(static_cast<int64_t>(fill) * 100 / width);
}

int AdvanceFlash(int flashPos, int width) {
    flashPos += 3;
    return flashPos >= width + kFlashWidth ? 0 : flashPos;
}

namespace {
// The columns that the two highlights cover with the highlight at `flashPos`.
BarSpan FlashColumns(int fill, int flashPos) {
    const int start = std::max(flashPos - kFlashWidth, 0);
    const int start2 = std::max(std::min(fill, flashPos - kForeFlashOffset), 0);
    const int end2 = std::min(fill, flashPos);
    if (end2 > start2) return {std::min(start, start2), std::max(flashPos, end2)};
    return {start, flashPos};
}
}  // namespace

BarSpan ProgressBarChange(int width, int oldFill, int oldFlash, int newFill, int newFlash) {
    if (oldFill < 0) return {0, width};
    if (oldFill == newFill && oldFlash == newFlash) return {0, 0};
    const BarSpan before = FlashColumns(oldFill, oldFlash);
    const BarSpan after = FlashColumns(newFill, newFlash);
    int left = std::min(before.left, after.left);
    int right = std::max(before.right, after.right);
    if (oldFill != newFill) {
        left = 0;
        right = std::max({right, oldFill, newFill});
    }
    return {std::clamp(left, 0, width), std::clamp(right, 0, width)};
}

std::wstring ProgressBarDescription(int width, int fill, int flashPos) {
    const int f = flashPos;
    const int start = std::max(f - kFlashWidth, 0);
    const int sourceLeft = start - f + kFlashWidth;
    const int end = std::min(fill, f);
    const int start2 = std::max(std::min(fill, f - kForeFlashOffset), 0);
    int foreLeft = 0, foreRight = 0;
    if (end > start2) {
        foreLeft = start2 - f + kForeFlashOffset;
        foreRight = end - f + kForeFlashOffset;
    }
    const int corner = std::min(fill, kMaxCorner);
    std::wstring text = FormatString(L"file='progress_bk.png' dest='0,0,%d,30'", width);
    text += kGap;
    text += FormatString(L"file='progress_fore.png' corner='0,10,%d,10' dest='0,0,%d,30'", corner, fill);
    text += kGap;
    text += FormatString(L"file='pro_flash_bk.png' corner='0,0,0,0' dest='%d,0,%d,30' source='%d,0,%d,30'", start, f,
                         sourceLeft, kFlashWidth);
    text += kGap;
    text += FormatString(L"file='pro_flash_fore.png' corner='0,0,0,0' dest='%d,0,%d,30' source='%d,0,%d,30'", start2,
                         end, foreLeft, foreRight);
    text += kGap;
    return text;
}
