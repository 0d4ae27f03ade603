#pragma once
// The process-wide start-up record and the runtime start-up/shutdown that
// surrounds the installer window's life. Main thread only.
#include <windows.h>

#include <cstdint>
#include <string>

#include "App/CommandLine.h"

struct AppContext {
    uint16_t sourceId = 0;     // command-line source number; 0 means none given
    InstallerOptions options;  // the whole command line

    static AppContext& Instance();
};

// The command line's number as _wtoi reads it, truncated to its low 16 bits:
// "12abc" -> 12, "abc" -> 0, "70000" -> 4464, "-1" -> 65535.
uint16_t ParseSourceId(const wchar_t* commandLine);

// Turns on the loggers that KV_LOG_FILE, KV_LOG_CONSOLE and KV_LOG_TRACE ask
// for, only when fromEnvironment is true (test and demo builds). A shipping
// build runs elevated: a log path taken from the user's environment would let
// any process of the user append to any file with administrator rights.
void ConfigureDiagnostics(bool fromEnvironment);

// /LOG=: the file logger appends UTF-8 lines to `path` for the rest of the
// process. The path must be full ("X:\..." or "\\server\share\...") and
// cross no link on a local drive; the file itself must be a plain file with
// one name (CAppendLogFile). False, with the reason in `why`, otherwise.
bool UseLogFileAt(const std::wstring& path, std::wstring& why);

// The main-thread dispatcher and (once) the HTTP engines.
void AppStartup();
// The engines (their workers joined, so none posts any more), then the
// dispatcher (queued tasks dropped unrun).
void AppShutdown();
