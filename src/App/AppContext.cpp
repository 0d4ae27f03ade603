#include "App/AppContext.h"

#include <cstdlib>

#include "App/InstallFolder.h"
#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "Http/HttpEngines.h"
#include "Runtime/AppendLogFile.h"
#include "Runtime/LogSinks.h"
#include "Runtime/MainThreadDispatcher.h"

namespace {

constexpr UINT_PTR kKeepAliveTimerId = 508;
constexpr UINT kKeepAlivePeriodMs = 1000;

// Keeps the thread's message loop ticking once a second; the work is done by
// whoever reacts to the wake-up, not here.
void CALLBACK KeepAliveTick(HWND, UINT, UINT_PTR, DWORD) {}

}  // namespace

AppContext& AppContext::Instance() {
    static AppContext context;
    return context;
}

uint16_t ParseSourceId(const wchar_t* commandLine) {
    if (!commandLine || !*commandLine) return 0;
    return static_cast<uint16_t>(_wtoi(commandLine));
}

void ConfigureDiagnostics(bool fromEnvironment) {
    if (fromEnvironment) ConfigureLoggersFromEnvironment();
}

bool UseLogFileAt(const std::wstring& path, std::wstring& why) {
    std::wstring full;
    if (IsAbsoluteDrivePath(path)) {
        full = CanonicalPath(path);
        // A link on the way could send the elevated writes anywhere.
        if (!full.empty() && PathCrossesLink(full)) {
            why = L"it is a link or behind one";
            return false;
        }
    } else if (path.size() > 4 && path.compare(0, 2, L"\\\\") == 0 && path[2] != L'?' && path[2] != L'.') {
        full = path;  // a share: its links are the server's to resolve
    }
    if (full.empty()) {
        why = L"not a full path (X:\\... or \\\\server\\share\\...)";
        return false;
    }
    // Never freed: any thread may log until the process ends, and the
    // system closes the handle then.
    static CAppendLogFile* file = new CAppendLogFile;
    if (file->IsOpen()) {
        why = L"a log file is open already";
        return false;
    }
    if (!file->Open(full, why)) return false;
    UseLogFile(*file);
    return true;
}

void AppStartup(AppContext& context) {
    // Without a window Windows assigns the timer id itself.
    context.keepAliveTimer = ::SetTimer(nullptr, kKeepAliveTimerId, kKeepAlivePeriodMs, KeepAliveTick);
    InitMainThreadDispatcher();
    // The 500 ms engine timer, then the command and the download engine; a
    // second call finds them running and does nothing.
    StartHttpEngines();
}

void AppShutdown(AppContext& context) {
    if (context.keepAliveTimer) {
        ::KillTimer(nullptr, context.keepAliveTimer);
        context.keepAliveTimer = 0;
    }
    ShutdownMainThreadDispatcher();
    // Command engine, then download engine (workers joined, transfers
    // dropped), then the engine timer.
    StopHttpEngines();
}
