#pragma once
// Files and folders: creation, removal, sizes, and folders held or checked
// so that a link cannot send a write elsewhere. Free functions on wide
// (UTF-16) paths; any thread (they share no state).
#include <windows.h>

#include <cstdint>
#include <string>

#include "Runtime/Handles.h"

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
// The folder opened (its owner and access list readable) and held so that it
// stays what was checked: empty when it is missing, not a folder, a junction
// or symbolic link, or open for writing or deleting elsewhere. While held it cannot be renamed or deleted,
// and (on Windows) no folder above it can be renamed, so a path through it
// leads where it led when it was taken.
kv::UniqueKernelHandle HoldFolder(const std::wstring& path);
// Deletes the folder (path ending in "\") and everything inside. Junctions
// and symbolic links are removed themselves, never followed: their targets
// stay untouched, also when a folder is made a link while the deletion runs
// (each folder is held while its entries go); a file or link named instead
// goes itself. True when the folder is gone (or was never there).
bool DeleteDirectoryTree(const std::wstring& dirEndingInBackslash);
// Deletes the file, link or empty folder itself, never a link's target: one
// the system follows all the same (Wine, with the links of its host: the
// handle's final path is not the entry's) is left alone. True when it is gone.
bool DeleteEntryItself(const std::wstring& path);
// True when the canonical path itself or a folder on the way to it (below the
// drive root) is a reparse point: a junction, symbolic link or mount point
// that would lead somewhere else. Missing parts are no links.
bool PathCrossesLink(const std::wstring& canonicalPath);
// The path the system reached through the open handle ("X:\..." or
// "\\server\share\..."); "" when it cannot tell.
std::wstring FinalPathOf(HANDLE object);
// Whether the handle leads to `fullPath` ("X:\..." or "\\server\share\..."):
// its final path, compared without regard to case with the final path of
// the path's drive or share followed by the rest of the path, so that a
// mapped or substituted drive, or a short (8.3) name, is no difference but
// any link on the way is.
bool IsAtFinalPath(HANDLE object, const std::wstring& fullPath);
