#pragma once
// Conversions between UTF-16 and 8-bit text, wide printf into a string, and
// small string utilities. Stateless; any thread.
#include <cstdint>
#include <string>
#include <vector>

std::string WideToAnsi(const std::wstring& text);   // CP_ACP, unmappable -> ' '
std::wstring AnsiToWide(const std::string& text);   // CP_ACP
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Wide printf ("%s" takes a wide string). A null format gives "".
std::wstring FormatString(const wchar_t* format, ...);

std::wstring ToLower(const std::wstring& text);
// Strips leading and trailing white space in place; a text made only of
// white space is left unchanged.
std::wstring& Trim(std::wstring& text);
// `source` with every occurrence of `what` replaced by `with`, left to right,
// never re-scanning a replacement. An empty `what` returns `source` unchanged.
std::wstring ReplaceAll(const std::wstring& source, const std::wstring& with, const std::wstring& what);
// Pieces between ';' separators; empty pieces are kept.
void Split(const std::wstring& text, std::vector<std::wstring>& list);

// "%.0fB", "%.2fKB", "%.2fMB", "%.2fGB", "%.2fTB"; a unit is used from 1000
// times the previous one on (1000 -> "0.98KB"), TB for everything above.
std::wstring FormatSize(uint64_t bytes);
