#pragma once
// Starting the launcher and opening web pages with the rights of the
// signed-in user's desktop, never with the installer's administrator (or
// SYSTEM) rights: through the desktop shell; without one, as SYSTEM with the
// console user's token, elevated as the child of an unelevated process of
// the same user; with none of these not at all. Only an installer that has
// no more rights than its user starts directly. Any thread (COM is set up
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

// How a program was started for the user (or why not).
enum class UserStartPath {
    kDesktopShell,      // the shell was asked (it started it or refused)
    kConsoleUser,       // as SYSTEM: with the console user's token
    kUnelevatedParent,  // elevated: as the child of an unelevated process of the user
    kDirect,            // the installer has no more rights than its user
    kNobody,            // SYSTEM with nobody at the console, or no unelevated process: not started
};

// The system calls that decide the path; tests swap in their own.
struct UserStartSystem {
    ShellStartResult (*askShell)(const std::wstring& file, const std::wstring& parameters,
                                 const std::wstring& directory);
    bool (*runsAsSystem)();
    bool (*runsElevated)();
    HANDLE (*consoleUserToken)();         // null: nobody logged on at the console
    HANDLE (*unelevatedProcessOfUser)();  // null: none
    DWORD (*startWithUserRights)(HANDLE token, HANDLE parent, const std::wstring& program,
                                 const std::wstring& commandLine, const std::wstring& directory);
};
// Null restores the real system.
void SetUserStartSystem(const UserStartSystem* system);

// What StartLauncher returns when nobody can be given the launcher.
constexpr DWORD kNoUserToStartFor = ERROR_NO_SUCH_LOGON_SESSION;

// Starts a program named "KorvelLauncher.exe" with `arguments` (empty: none)
// for the user. 0 or a system error code (ERROR_INVALID_NAME for any other
// program, ERROR_FILE_NOT_FOUND when there is no such file,
// kNoUserToStartFor when there is nobody to start it for). `path` (when
// given) tells the way taken.
DWORD StartLauncher(const std::wstring& launcherExe, const std::wstring& arguments, UserStartPath* path = nullptr);

// Opens a web page for the user the same way (the page's own program
// started through rundll32's URL handler when the shell is not there).
UserStartPath OpenWebPage(const std::wstring& url);

// Test injection: false makes every request find no desktop shell.
void SetDesktopShellEnabled(bool enabled);
