#pragma once
// Readers of the markup's attribute values: integers, "cx,cy" sizes,
// "l,t,r,b" rectangles, "#AARRGGBB" colours and booleans. A value that does
// not fit the form gives false and leaves the output untouched. Any thread.
#include <windows.h>

#include <cstdint>
#include <string>

namespace markup {

bool ParseInt(const std::wstring& text, int& out);
bool ParseSize(const std::wstring& text, SIZE& out);
bool ParseRect(const std::wstring& text, RECT& out);
// Optional '#', then up to eight hexadecimal digits read as AARRGGBB.
bool ParseColor(const std::wstring& text, uint32_t& out);
// Exactly "true" is true; anything else is false.
inline bool ParseBool(const std::wstring& text) { return text == L"true"; }

}  // namespace markup
