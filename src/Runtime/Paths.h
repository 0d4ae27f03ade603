#pragma once
// Path text: folders of paths, joined and compared paths, and the path the
// system resolves a full path to. Free functions on wide (UTF-16) strings;
// GetAppDir is for the main thread, the rest for any thread.
#include <string>

// Folder of the running executable, without a trailing separator.
std::wstring GetAppDir();
// "/" -> "\", doubled separators reduced to one, one trailing "\" removed.
std::wstring NormalizePath(const std::wstring& p);
// Everything before the last "\" of the normalised path ("D:\a" -> "D:", "D:" -> "").
std::wstring ParentDir(const std::wstring& p);
// Everything before the last "\" after "/" -> "\" and one trailing "\" removed.
std::wstring DirOfFile(const std::wstring& p);
// "C:", "C:\", "C:/" and the empty path.
bool IsDriveRoot(const std::wstring& path);
// The path as the system resolves it (GetFullPathNameW): "." and ".."
// applied, "/" turned into "\", doubled separators reduced, no trailing "\"
// but at a drive root ("D:\Games\.." -> "D:\"). Only a path that names its
// drive ("X:\..." or "X:/...") is resolved; anything else (relative, "X:abc",
// network or device paths) gives "".
std::wstring CanonicalPath(const std::wstring& path);
// The same text but for letter case (ordinal, as the file system compares).
bool SamePath(const std::wstring& a, const std::wstring& b);
// Whether the path ends in "\" or "/".
bool EndsWithSeparator(const std::wstring& p);
// `dir` and `name` joined by exactly one "\" ("D:\" + "a" -> "D:\a").
std::wstring ChildPath(const std::wstring& dir, const std::wstring& name);
