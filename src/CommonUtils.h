#pragma once
// Shared helpers for sizes, paths, files, folders and processes. Free
// functions on wide (UTF-16) strings. FormatSize and GetAppDir are for the
// main thread; the file, folder and process helpers may also run on the
// install thread (they share no state).
#include <windows.h>

#include <cstdint>
#include <string>

#include "Runtime/Handles.h"

// "%.0fB", "%.2fKB", "%.2fMB", "%.2fGB", "%.2fTB"; a unit is used from 1000
// times the previous one on (1000 -> "0.98KB"), TB for everything above.
std::wstring FormatSize(uint64_t bytes);

// True when the folder exists or was created with all missing parents; a
// failure is logged.
bool CreateDir(const std::wstring& path);
// As CreateDir, without logging.
bool EnsureDirExists(const std::wstring& path);
// True when the file is absent or was deleted (one attempt).
bool RemoveFile(const std::wstring& path);
// Moves `from` onto `to`, replacing a file there; false when `from` is absent.
bool MoveFileReplace(const std::wstring& from, const std::wstring& to);
// Size in bytes, -1 when the file is absent.
int64_t GetFileSize64(const std::wstring& path);

// Folder of the running executable, without a trailing separator.
std::wstring GetAppDir();
// "/" -> "\", doubled separators reduced to one, one trailing "\" removed.
std::wstring NormalizePath(const std::wstring& p);
// Everything before the last "\" of the normalised path ("D:\a" -> "D:", "D:" -> "").
std::wstring ParentDir(const std::wstring& p);
// Everything before the last "\" after "/" -> "\" and one trailing "\" removed.
std::wstring DirOfFile(const std::wstring& p);
// The shell's folder picker; the chosen folder ending in "\", or "" when cancelled.
std::wstring BrowseForFolder(HWND owner, const std::wstring& initial);

// 0, or the system error code of a failed start. Never waits; the handles in
// `out` (when given) are already closed, only the ids are meaningful.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine,
                   PROCESS_INFORMATION* out = nullptr);
// Starts the program and waits for its end (by default without a time limit);
// 0, the system error code of a failed start, or WAIT_TIMEOUT when the
// program still runs after timeoutMs (it is left running). With 0, the
// program's own exit code goes to `exitCode` when given.
DWORD RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs = INFINITE,
                 DWORD* exitCode = nullptr);

// A process (not this one) whose main module lies inside `folder`: the path is
// compared case-insensitively with the folder followed by a separator, so
// "C:\Games\Korvel2\x.exe" does not match "C:\Games\Korvel". 0 when none.
DWORD FindProcessInFolder(const std::wstring& folder);
// A process (not this one) whose main module path begins with `prefix`
// (case-insensitive, plain text prefix). 0 when none.
DWORD FindProcessByPathPrefix(const std::wstring& prefix);

// The folder opened and held so that it stays what was checked: empty when
// it is missing, not a folder, a junction or symbolic link, or open for
// writing or deleting elsewhere. While held it cannot be renamed or deleted,
// and (on Windows) no folder above it can be renamed, so a path through it
// leads where it led when it was taken.
kv::UniqueKernelHandle HoldFolder(const std::wstring& path);
// Deletes the folder (path ending in "\") and everything inside. Junctions
// and symbolic links are removed themselves, never followed: their targets
// stay untouched, also when a folder is made a link while the deletion runs
// (each folder is held while its entries go). True when the folder is gone
// (or was never there).
bool DeleteDirectoryTree(const std::wstring& dirEndingInBackslash);
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
// `dir` and `name` joined by exactly one "\" ("D:\" + "a" -> "D:\a").
std::wstring ChildPath(const std::wstring& dir, const std::wstring& name);
// True when the canonical path itself or a folder on the way to it (below the
// drive root) is a reparse point: a junction, symbolic link or mount point
// that would lead somewhere else. Missing parts are no links.
bool PathCrossesLink(const std::wstring& canonicalPath);
// A program path as the first word of a command line: quoted when it
// contains a blank, so that "C:\Program Files\..." stays one word (a file
// name holds no quote).
std::wstring QuoteProgramPath(const std::wstring& path);
// One argument in quotes, such that CommandLineToArgvW gives it back
// unchanged: a quote inside is escaped, and the backslashes before it and
// before the closing quote are doubled: D:\Q\ becomes "D:\Q\\".
std::wstring QuoteArgument(const std::wstring& argument);
