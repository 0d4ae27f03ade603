#pragma once
// Starting the launcher and opening web pages with the rights of the
// signed-in user's desktop instead of the installer's administrator rights:
// the desktop shell is asked to do it, and only when there is none to ask is
// the start made directly, as before, and logged. Any thread (COM is set up
// on a short-lived thread of its own for each request).
#include <windows.h>

#include <string>

enum class ShellStartResult {
    kStarted,      // the desktop shell accepted the request
    kRefused,      // the shell refused it or did not answer in time: not started
    kUnavailable,  // no desktop shell to ask (no explorer in the session)
};

// Asks the desktop shell (IShellWindows -> IShellDispatch2::ShellExecute) to
// open `file` with `parameters` in `directory`; waits at most a few seconds.
// The outcome is logged: without a shell the caller starts it directly.
ShellStartResult StartThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                          const std::wstring& directory);

// Starts a program named "KorvelLauncher.exe" with `arguments` (empty: none),
// through the desktop shell, or directly when there is none. 0 or a system
// error code (ERROR_INVALID_NAME for any other program, ERROR_FILE_NOT_FOUND
// when there is no such file).
DWORD StartLauncher(const std::wstring& launcherExe, const std::wstring& arguments);

// Opens a web page through the desktop shell, or with ShellExecuteW when
// there is none.
void OpenWebPage(const std::wstring& url);

// Test injection: false makes every request find no desktop shell.
void SetDesktopShellEnabled(bool enabled);
