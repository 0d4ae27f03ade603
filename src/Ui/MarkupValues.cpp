#include "Ui/MarkupValues.h"

namespace markup {
namespace {

// Reads comma-separated decimal integers (blanks around them allowed) into
// out[0..count); the whole text must be consumed.
bool ParseIntList(const std::wstring& text, int* out, size_t count) {
    // Far beyond any pixel value, and small enough that sums of a few values
    // (offsets plus sizes in the layout) cannot overflow an int.
    constexpr long long kLimit = 1000000LL;
    size_t pos = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (pos < n && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    };
    int values[4] = {};
    for (size_t i = 0; i < count; ++i) {
        skipBlanks();
        bool negative = false;
        if (pos < n && (text[pos] == L'-' || text[pos] == L'+')) negative = text[pos++] == L'-';
        if (pos >= n || text[pos] < L'0' || text[pos] > L'9') return false;
        long long v = 0;
        while (pos < n && text[pos] >= L'0' && text[pos] <= L'9') {
            v = v * 10 + (text[pos++] - L'0');
            if (v > kLimit) return false;
        }
        values[i] = static_cast<int>(negative ? -v : v);
        skipBlanks();
        if (i + 1 < count) {
            if (pos >= n || text[pos] != L',') return false;
            ++pos;
        }
    }
    if (pos != n) return false;
    for (size_t i = 0; i < count; ++i) out[i] = values[i];
    return true;
}

}  // namespace

bool ParseInt(const std::wstring& text, int& out) { return ParseIntList(text, &out, 1); }

bool ParseSize(const std::wstring& text, SIZE& out) {
    int v[2];
    if (!ParseIntList(text, v, 2)) return false;
    out = {v[0], v[1]};
    return true;
}

bool ParseRect(const std::wstring& text, RECT& out) {
    int v[4];
    if (!ParseIntList(text, v, 4)) return false;
    out = {v[0], v[1], v[2], v[3]};
    return true;
}

bool ParseColor(const std::wstring& text, uint32_t& out) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == L' ') ++pos;
    if (pos < text.size() && text[pos] == L'#') ++pos;
    const size_t start = pos;
    uint32_t v = 0;
    for (; pos < text.size(); ++pos) {
        const wchar_t c = text[pos];
        uint32_t digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return false;
        if (pos - start >= 8) return false;
        v = (v << 4) | digit;
    }
    if (pos == start) return false;
    out = v;
    return true;
}

}  // namespace markup
