#pragma once
// The shell's folder picker. Main thread.
#include <windows.h>

#include <string>

// The shell's folder picker; the chosen folder ending in "\", or "" when cancelled.
std::wstring BrowseForFolder(HWND owner, const std::wstring& initial);
