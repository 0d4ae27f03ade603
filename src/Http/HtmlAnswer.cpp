#include "Http/HtmlAnswer.h"

#include <cctype>
#include <cstring>

namespace {

bool StartsWithNoCase(const char* text, size_t length, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool LooksLikeHtmlPage(const std::string& contentType, const char* body, size_t length) {
    size_t at = contentType.find_first_not_of(" \t");
    if (at != std::string::npos) {
        const char* type = contentType.data() + at;
        const size_t left = contentType.size() - at;
        if (StartsWithNoCase(type, left, "text/html") || StartsWithNoCase(type, left, "application/xhtml")) return true;
    }
    // A page served under another type still begins with markup: a UTF-8 BOM
    // and blanks at most, then '<'.
    size_t i = 0;
    if (length >= 3 && static_cast<unsigned char>(body[0]) == 0xEF && static_cast<unsigned char>(body[1]) == 0xBB &&
        static_cast<unsigned char>(body[2]) == 0xBF) {
        i = 3;
    }
    while (i < length && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n')) ++i;
    return i < length && body[i] == '<';
}
