#include "App/AppContext.h"

#include <cstdlib>

#include "App/InstallFolder.h"
#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"
#include "Http/HttpEngines.h"
#include "Runtime/AppendLogFile.h"
#include "Runtime/LogSinks.h"
#include "Runtime/MainThreadDispatcher.h"

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

void AppStartup() {
    InitMainThreadDispatcher();
    // The command and the download engine; a second call finds them running
    // and does nothing.
    StartHttpEngines();
}

void AppShutdown() {
    // Command engine, then download engine (workers joined, transfers
    // dropped): what a worker posted on its way out is queued by now.
    StopHttpEngines();
    ShutdownMainThreadDispatcher();
}
