#include "Http/RangeTransfer.h"

#include <cstdio>
#include <cstring>
#include <cwctype>

namespace {

bool IsBlankLine(const char* data, size_t length) {
    return (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
}

// Decimal digits at *at, at most 19 of them (below 2^63); advances *at.
bool ReadNumber(const std::wstring& text, size_t* at, uint64_t* value) {
    const size_t start = *at;
    uint64_t v = 0;
    while (*at < text.size() && text[*at] >= L'0' && text[*at] <= L'9') {
        if (*at - start >= 19) return false;
        v = v * 10 + static_cast<uint64_t>(text[*at] - L'0');
        ++*at;
    }
    *value = v;
    return *at > start;
}

}  // namespace

bool CRangeTransfer::RequestRange(uint64_t last) {
    CURL* easy = EasyHandle();
    if (!easy) return false;
    char range[64];
    std::snprintf(range, sizeof(range), "%llu-%llu", static_cast<unsigned long long>(from_),
                  static_cast<unsigned long long>(last));
    return curl_easy_setopt(easy, CURLOPT_RANGE, range) == CURLE_OK;
}

bool CRangeTransfer::ParseContentRange(const std::wstring& value, uint64_t* first, uint64_t* last, uint64_t* total) {
    size_t at = 0;
    const wchar_t kUnit[] = L"bytes";
    for (const wchar_t* u = kUnit; *u; ++u, ++at) {
        if (at >= value.size() || std::towlower(value[at]) != *u) return false;
    }
    if (at >= value.size() || value[at] != L' ') return false;
    while (at < value.size() && value[at] == L' ') ++at;
    if (!ReadNumber(value, &at, first) || at >= value.size() || value[at++] != L'-') return false;
    if (!ReadNumber(value, &at, last) || at >= value.size() || value[at++] != L'/') return false;
    if (!ReadNumber(value, &at, total) || at != value.size()) return false;
    return *first <= *last && *last < *total;
}

CRangeTransfer::Verdict CRangeTransfer::Judge(int32_t status, const std::wstring& contentRange, uint64_t from,
                                              uint64_t total) {
    if (status < 100 || status > 399) return Verdict::Error;
    if (status < 200 || status > 299) return Verdict::Pending;  // interim answer or redirect: more to come
    if (status == 200) return Verdict::Whole;
    uint64_t first = 0, last = 0, size = 0;
    if (status == 206 && ParseContentRange(contentRange, &first, &last, &size) && first == from && size == total) {
        return Verdict::Partial;
    }
    return Verdict::Mismatch;
}

size_t CRangeTransfer::OnRecieveHeader(const char* data, size_t length) {
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) verdict_.store(Verdict::Pending, std::memory_order_release);
    if (IsBlankLine(data, length)) {
        // Judged before the base class posts the status, so the main thread
        // always finds the verdict of the answer it is told about.
        const int32_t status = HttpStatus();
        std::wstring contentRange;
        GetHeader(L"Content-Range", &contentRange);
        verdict_.store(Judge(status, contentRange, from_, total_), std::memory_order_release);
    }
    return CCurlHttp::OnRecieveHeader(data, length);
}

size_t CRangeTransfer::OnRecieveBody(const char* data, size_t length) {
    const Verdict verdict = verdict_.load(std::memory_order_acquire);
    if (verdict == Verdict::Partial || verdict == Verdict::Error) return CCurlHttp::OnRecieveBody(data, length);
    return 0;  // not this package's range: not a byte of it reaches the file
}
