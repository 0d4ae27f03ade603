#pragma once
// What the installer's own token is, and the ways to start a program with the
// rights of the user at the desktop instead: the console user's token (for a
// process running as SYSTEM) and an unelevated process of the same user in
// the same session to be the new program's parent (for an elevated one).
// Free functions; any thread.
#include <windows.h>

#include <string>

bool RunsAsSystem();
bool RunsElevated();
// The primary token of the user logged on at the console; null when nobody
// is (or this process may not ask: only SYSTEM may).
HANDLE QueryConsoleUserToken();
// A process of this process's user, in its session, whose token is not
// elevated (the desktop shell's first, whatever program that is), opened so
// that it can parent a new process; null when there is none.
HANDLE OpenUnelevatedProcessOfUser();
// Starts `commandLine` (`program` its first word) in `directory` with
// `token`, or else as the child of `parent` (whose token it then gets). 0 or
// the system error.
DWORD StartWithUserRights(HANDLE token, HANDLE parent, const std::wstring& program, const std::wstring& commandLine,
                          const std::wstring& directory);
