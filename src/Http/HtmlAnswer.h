#pragma once
// Whether an answer is a web page rather than the file asked for: what a
// hotel's or airport's network sends to every address until the user signs
// in. Neither a descriptor (INI text) nor the package (an executable) is
// ever HTML. Any thread.
#include <cstddef>
#include <string>

// `contentType` is the answer's Content-Type ("" when none); `body` its first
// bytes (any number, none at all is fine).
bool LooksLikeHtmlPage(const std::string& contentType, const char* body, size_t length);
inline bool LooksLikeHtmlPage(const std::string& contentType, const std::string& body) {
    return LooksLikeHtmlPage(contentType, body.data(), body.size());
}
