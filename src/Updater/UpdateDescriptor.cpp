#include "Updater/UpdateDescriptor.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <limits>

#include "Runtime/TextUtils.h"
#include "Updater/Md5.h"

namespace {

const wchar_t kSection[] = L"Install";
constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr size_t kMaxVersionInName = 64;  // keeps "<dir>\kvinstaller_<v>.tmp" well inside MAX_PATH

// Reads an INI text line by line; every read checks what is left.
class LineCursor {
public:
    LineCursor(const wchar_t* text, size_t length) : p_(text), end_(text + length) {}
    // The next line without its end ("\n", "\r\n" or "\r"); false at the end.
    bool Next(const wchar_t*& begin, const wchar_t*& end) {
        if (p_ >= end_) return false;
        begin = p_;
        while (p_ < end_ && *p_ != L'\n' && *p_ != L'\r') ++p_;
        end = p_;
        if (p_ < end_ && *p_ == L'\r') ++p_;
        if (p_ < end_ && *p_ == L'\n') ++p_;
        return true;
    }

private:
    const wchar_t* p_;
    const wchar_t* end_;
};

bool IsBlank(wchar_t c) { return std::iswspace(c) != 0; }

void TrimRange(const wchar_t*& begin, const wchar_t*& end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
}

bool EqualsNoCase(const wchar_t* begin, const wchar_t* end, const std::wstring& name) {
    const size_t length = static_cast<size_t>(end - begin);
    if (length != name.size()) return false;
    if (length == 0) return true;
    return ::CompareStringOrdinal(begin, static_cast<int>(length), name.data(), static_cast<int>(length), TRUE) ==
           CSTR_EQUAL;
}

bool IsForbiddenInName(wchar_t c) {
    return c < 32 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
           c == L'>' || c == L'|';
}

}  // namespace

std::wstring ReadIniValue(const wchar_t* text, size_t length, const std::wstring& section, const std::wstring& key,
                          size_t maxLength) {
    // A body saved with a UTF-8 signature decodes to U+FEFF before the first
    // section; it must not hide that section's header.
    if (length > 0 && text[0] == kByteOrderMark) {
        ++text;
        --length;
    }
    LineCursor cursor(text, length);
    const wchar_t* begin = nullptr;
    const wchar_t* end = nullptr;
    bool inSection = false;
    bool sectionSeen = false;
    while (cursor.Next(begin, end)) {
        TrimRange(begin, end);
        if (begin == end) continue;
        if (*begin == L'[') {
            // The name runs to the last "]" of the line; a line without one is no header.
            const wchar_t* close = end;
            while (close > begin && close[-1] != L']') --close;
            if (close > begin + 1) {
                // Only the first section of that name is read.
                if (inSection) return {};
                inSection = !sectionSeen && EqualsNoCase(begin + 1, close - 1, section);
                sectionSeen = sectionSeen || inSection;
                continue;
            }
        }
        if (!inSection) continue;
        const wchar_t* nameEnd = begin;
        while (nameEnd < end && *nameEnd != L'=') ++nameEnd;
        const wchar_t* valueBegin = nameEnd < end ? nameEnd + 1 : end;
        const wchar_t* nameBegin = begin;
        TrimRange(nameBegin, nameEnd);
        if (!EqualsNoCase(nameBegin, nameEnd, key)) continue;
        const wchar_t* valueEnd = end;
        TrimRange(valueBegin, valueEnd);
        if (valueEnd - valueBegin >= 2 && (*valueBegin == L'"' || *valueBegin == L'\'') && valueEnd[-1] == *valueBegin) {
            ++valueBegin;
            --valueEnd;
        }
        std::wstring value(valueBegin, valueEnd);
        if (value.size() > maxLength) value.resize(maxLength);
        return value;
    }
    return {};
}

DescriptorValues ReadInstallSection(const wchar_t* text, size_t length) {
    // One loop over a table: nine inlined calls, each building its own key
    // and section strings, cost several times the code.
    static const struct {
        const wchar_t* key;
        std::wstring DescriptorValues::*value;
    } kKeys[] = {
        {L"Url", &DescriptorValues::url},         {L"murl", &DescriptorValues::murl},
        {L"Size", &DescriptorValues::size},       {L"Md5", &DescriptorValues::md5},
        {L"Version", &DescriptorValues::version}, {L"Sha256", &DescriptorValues::sha256},
        {L"Expires", &DescriptorValues::expires}, {L"PieceSize", &DescriptorValues::pieceSize},
        {L"Pieces", &DescriptorValues::pieces},
    };
    DescriptorValues values;
    const std::wstring section(kSection);
    for (const auto& k : kKeys) {
        const bool pieces = k.value == &DescriptorValues::pieces;
        values.*k.value = ReadIniValue(text, length, section, k.key, pieces ? kPiecesValueMax : kDescriptorValueMax);
    }
    return values;
}

std::wstring DecodeStoredDescriptor(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<uint8_t>(bytes[2 + 2 * i]) |
                                           (static_cast<uint8_t>(bytes[3 + 2 * i]) << 8));
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf8ToWide(bytes.substr(3));
    return AnsiToWide(bytes);
}

bool ParseExpires(const std::wstring& text, uint64_t& fileTime) {
    // Every character of "YYYY-MM-DDTHH:MM:SSZ": a digit where the pattern has
    // '9', the character itself elsewhere.
    static const wchar_t kPattern[] = L"9999-99-99T99:99:99Z";
    constexpr size_t kLength = sizeof kPattern / sizeof kPattern[0] - 1;
    if (text.size() != kLength) return false;
    for (size_t i = 0; i < kLength; ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        if (kPattern[i] == L'9' ? !digit : text[i] != kPattern[i]) return false;
    }
    auto number = [&text](size_t at, size_t digits) {
        WORD value = 0;
        for (size_t i = at; i < at + digits; ++i) value = static_cast<WORD>(value * 10 + (text[i] - L'0'));
        return value;
    };
    SYSTEMTIME utc = {};
    utc.wYear = number(0, 4);
    utc.wMonth = number(5, 2);
    utc.wDay = number(8, 2);
    utc.wHour = number(11, 2);
    utc.wMinute = number(14, 2);
    utc.wSecond = number(17, 2);
    // The calendar is checked here: the platform's conversion does not reject
    // every day that does not exist everywhere (Wine takes 29 February of any year).
    static const WORD kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (utc.wYear % 4 == 0 && utc.wYear % 100 != 0) || utc.wYear % 400 == 0;
    if (utc.wYear < 1601 || utc.wMonth < 1 || utc.wMonth > 12 || utc.wDay < 1 ||
        utc.wDay > kMonthDays[utc.wMonth - 1] + (utc.wMonth == 2 && leap ? 1 : 0) || utc.wHour > 23 ||
        utc.wMinute > 59 || utc.wSecond > 59) {
        return false;
    }
    FILETIME converted = {};
    if (!::SystemTimeToFileTime(&utc, &converted)) return false;
    fileTime = (static_cast<uint64_t>(converted.dwHighDateTime) << 32) | converted.dwLowDateTime;
    return true;
}

const wchar_t kDescriptorExpired[] = L"expired";

const wchar_t* SignedValuesProblem(const DescriptorValues& values, uint64_t now) {
    // The digests are what ties a signed descriptor to one package.
    if (values.sha256.size() != 64 || !std::all_of(values.sha256.begin(), values.sha256.end(), [](wchar_t c) {
            return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        })) {
        return L"no Sha256 of 64 hexadecimal digits";
    }
    // A signature holds for ever; Expires keeps an old descriptor (and the old
    // package it names) from being served again once it has run out.
    uint64_t expires = 0;
    if (!ParseExpires(values.expires, expires)) return L"no Expires of the form YYYY-MM-DDTHH:MM:SSZ";
    if (expires <= now) return kDescriptorExpired;
    return nullptr;
}

int64_t ParseDescriptorSize(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const int digit = text[i] - L'0';
        if (value > (kMax - digit) / 10) return kMax;
        value = value * 10 + digit;
    }
    return value;
}

std::wstring SafeVersionForFileName(const std::wstring& version) {
    std::wstring safe = version;
    for (auto& c : safe) {
        if (IsForbiddenInName(c)) c = L'_';
    }
    for (size_t dots = safe.find(L".."); dots != std::wstring::npos; dots = safe.find(L"..", dots)) {
        safe.replace(dots, 2, L"__");
    }
    if (safe.size() > kMaxVersionInName) {
        // Two long versions that share a beginning must not share a partial file.
        CMd5 md5;
        const std::string utf8 = WideToUtf8(version);
        md5.Update(utf8.data(), utf8.size());
        md5.Final();
        safe = safe.substr(0, kMaxVersionInName - 9) + L"_" + md5.HexDigest().substr(0, 8);
    }
    return safe;
}
