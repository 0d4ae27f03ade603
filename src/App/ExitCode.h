#pragma once
// The exit codes of an unattended (/S) run; a run with the window ends with 0.
// Header only; any thread.

enum InstallerExitCode : int {
    kExitInstalled = 0,
    kExitBadCommandLine = 1,
    kExitAlreadyRunning = 2,
    kExitNetworkUnreachable = 3,
    kExitDigestMismatch = 4,
    kExitNoDiskSpace = 5,
    kExitInvalidFolder = 6,
    kExitPackageFailed = 7,
    kExitLauncherFailed = 8,
};

inline const wchar_t* ExitCodeMeaning(int code) {
    switch (code) {
        case kExitInstalled: return L"installed";
        case kExitBadCommandLine: return L"bad command line";
        case kExitAlreadyRunning: return L"another installer is running";
        case kExitNetworkUnreachable: return L"network unreachable until the time-out";
        case kExitDigestMismatch: return L"package digest mismatch after two downloads";
        case kExitNoDiskSpace: return L"not enough disk space";
        case kExitInvalidFolder: return L"invalid folder";
        case kExitPackageFailed: return L"the package failed";
        case kExitLauncherFailed: return L"the launcher could not be started";
        default: return L"?";
    }
}
