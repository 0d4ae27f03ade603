#pragma once
// The installer's command line: the source number, read exactly as it always
// was, then the administrators' switches (/S, /KEEP, /D=, /LOG=, /NOLAUNCH,
// /TIMEOUT=, /PACKAGETIMEOUT=, /PROXY=, /PROXYUSER=, /PROXYPASS=, /LANG=,
// /?), case-insensitive. Main thread (the refusal texts come from the
// language tables).
#include <cstdint>
#include <string>
#include <vector>

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
    std::wstring proxy;          // /PROXY=: host:port, direct or a script's URL; empty when not given
    std::wstring proxyUser;      // /PROXYUSER=
    std::wstring proxyPassword;  // /PROXYPASS= (never logged)
    std::wstring language;     // /LANG=, as given; empty: the user's UI language
    std::wstring error;        // the first problem found, as the log says it; empty for a good line
    std::wstring errorKey;     // ... as a text key and its values, for the user's language
    std::vector<std::wstring> errorArgs;
};

// The source number comes first, read by ParseSourceId as before ("12 /S"
// gives 12, "/S" alone 0). A switch begins at a "/" (or a quote before one)
// at the start or after a blank; from the first switch on every piece must
// be a known switch. Quotes group blanks and are removed ("/D=C:\a b" and
// /D="C:\a b" alike); an unquoted /D= takes the rest of the line, blanks and
// all, and must therefore come last. Values are not checked against the
// file system here. Even with an error, `silent` tells whether /S was given.
InstallerOptions ParseCommandLine(const wchar_t* commandLine);

// The command line as the log may show it: the values of /PROXYPASS= and of
// any unknown switch (a mistyped /PROXYPAS=) replaced by "***".
std::wstring MaskedCommandLine(const wchar_t* commandLine);

// The switch and exit-code list shown for /? and with a bad command line,
// in the chosen language.
std::wstring UsageText();
// The refusal of a bad command line in the chosen language.
std::wstring RefusalText(const InstallerOptions& options);
