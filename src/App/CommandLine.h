#pragma once
// The installer's command line: the source number, read exactly as it always
// was, then the administrators' switches (/S, /KEEP, /D=, /LOG=, /NOLAUNCH,
// /TIMEOUT=, /PACKAGETIMEOUT=, /?), case-insensitive. Pure text; any thread.
#include <cstdint>
#include <string>

#include "Runtime/RetryPolicy.h"

constexpr uint32_t kDefaultNetworkTimeoutSeconds = kv::retry::kDefaultGiveUpSeconds;
constexpr uint32_t kMaxNetworkTimeoutSeconds = kv::retry::kMaxGiveUpSeconds;
constexpr uint32_t kDefaultPackageTimeoutSeconds = 1800;

struct InstallerOptions {
    uint16_t sourceId = 0;     // 0: none given
    bool silent = false;       // /S
    bool keep = false;         // /KEEP (with /S)
    bool noLaunch = false;     // /NOLAUNCH
    bool help = false;         // /?
    std::wstring installDir;   // /D=, as given; empty when not given
    std::wstring logPath;      // /LOG=, as given; empty when not given
    uint32_t timeoutSeconds = kDefaultNetworkTimeoutSeconds;  // /TIMEOUT= (with /S)
    uint32_t packageTimeoutSeconds = kDefaultPackageTimeoutSeconds;  // /PACKAGETIMEOUT= (with /S)
    std::wstring error;        // the first problem found; empty for a good line
};

// The source number comes first, read by ParseSourceId as before ("12 /S"
// gives 12, "/S" alone 0). A switch begins at a "/" (or a quote before one)
// at the start or after a blank; from the first switch on every piece must
// be a known switch. Quotes group blanks and are removed ("/D=C:\a b" and
// /D="C:\a b" alike); an unquoted /D= takes the rest of the line, blanks and
// all, and must therefore come last. Values are not checked against the
// file system here. Even with an error, `silent` tells whether /S was given.
InstallerOptions ParseCommandLine(const wchar_t* commandLine);

// The switch and exit-code list shown for /? and with a bad command line.
std::wstring UsageText();
