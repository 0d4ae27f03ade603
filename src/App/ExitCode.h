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
    kExitClockWrong = 9,
    kExitDescriptorRefused = 10,
    kExitFileLocked = 11,
    kExitSourceFailed = 12,
    kExitProxyLogin = 13,
};

inline const wchar_t* ExitCodeMeaning(int code) {
    switch (code) {
        case kExitInstalled: return L"installed";
        case kExitBadCommandLine: return L"bad command line";
        case kExitAlreadyRunning: return L"another installer is running";
        case kExitNetworkUnreachable: return L"network unreachable until the time-out";
        case kExitDigestMismatch: return L"package digest mismatch from every address alone";
        case kExitNoDiskSpace: return L"not enough disk space";
        case kExitInvalidFolder: return L"invalid folder";
        case kExitPackageFailed: return L"the package failed";
        case kExitLauncherFailed: return L"the launcher could not be started";
        case kExitClockWrong: return L"the computer's clock is wrong";
        case kExitDescriptorRefused: return L"the descriptor was refused until the time-out";
        case kExitFileLocked: return L"a file stayed locked by another program";
        case kExitSourceFailed: return L"every source answered wrongly until the time-out";
        case kExitProxyLogin: return L"the proxy wants a login the run cannot give";
        default: return L"?";
    }
}
