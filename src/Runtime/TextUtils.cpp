#include "Runtime/TextUtils.h"

#include <windows.h>

#include <cstdarg>
#include <cwctype>
#include <vector>

namespace {

std::string NarrowFrom(UINT codePage, const std::wstring& text, size_t bufferBytes, const char* defaultChar) {
    if (text.empty()) return {};
    std::vector<char> buf(bufferBytes);
    const int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), buf.data(),
                                        static_cast<int>(buf.size()), defaultChar, nullptr);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

std::wstring WideFrom(UINT codePage, const std::string& text, size_t bufferChars) {
    if (text.empty()) return {};
    std::vector<wchar_t> buf(bufferChars);
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), buf.data(),
                                        static_cast<int>(buf.size()));
    return n > 0 ? std::wstring(buf.data(), static_cast<size_t>(n)) : std::wstring();
}

}  // namespace

std::string WideToAnsi(const std::wstring& text) { return NarrowFrom(CP_ACP, text, 2 * text.size() + 1, " "); }
std::wstring AnsiToWide(const std::string& text) { return WideFrom(CP_ACP, text, text.size() + 1); }
std::string WideToUtf8(const std::wstring& text) { return NarrowFrom(CP_UTF8, text, 3 * text.size() + 1, nullptr); }
std::wstring Utf8ToWide(const std::string& text) { return WideFrom(CP_UTF8, text, 2 * text.size() + 1); }

std::wstring FormatString(const wchar_t* format, ...) {
    if (!format) return {};
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    std::wstring result;
    if (length > 0) {
        std::vector<wchar_t> buf(static_cast<size_t>(length) + 1);
        const int n = _vsnwprintf(buf.data(), buf.size(), format, args);
        if (n > 0) result.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return result;
}

std::wstring ToLower(const std::wstring& text) {
    std::wstring out(text);
    for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

std::wstring& Trim(std::wstring& text) {
    size_t first = 0;
    while (first < text.size() && std::iswspace(text[first])) ++first;
    if (first == text.size()) return text;  // only white space: unchanged
    size_t last = text.size();
    while (last > first && std::iswspace(text[last - 1])) --last;
    text = text.substr(first, last - first);
    return text;
}

std::wstring ReplaceAll(const std::wstring& source, const std::wstring& with, const std::wstring& what) {
    if (what.empty()) return source;
    std::wstring out;
    size_t from = 0;
    for (size_t at; (at = source.find(what, from)) != std::wstring::npos; from = at + what.size()) {
        out.append(source, from, at - from);
        out.append(with);
    }
    out.append(source, from, std::wstring::npos);
    return out;
}

void Split(const std::wstring& text, std::vector<std::wstring>& list) {
    list.clear();
    size_t from = 0;
    for (size_t at; (at = text.find(L';', from)) != std::wstring::npos; from = at + 1)
        list.push_back(text.substr(from, at - from));
    list.push_back(text.substr(from));
}

std::wstring FormatSize(uint64_t bytes) {
    static const wchar_t* const kFormats[] = {L"%.0fB", L"%.2fKB", L"%.2fMB", L"%.2fGB", L"%.2fTB"};
    constexpr size_t kUnits = sizeof(kFormats) / sizeof(kFormats[0]);
    double divisor = 1;
    size_t unit = 0;
    while (unit + 1 < kUnits && static_cast<double>(bytes) >= 1000.0 * divisor) {
        divisor *= 1024;
        ++unit;
    }
    wchar_t text[64];
    const int n = _snwprintf(text, 63, kFormats[unit], static_cast<double>(bytes) / divisor);
    return std::wstring(text, n > 0 ? static_cast<size_t>(n) : 0);
}
