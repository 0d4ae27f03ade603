#include "Runtime/LogSinks.h"

#include <windows.h>

#include <cstdlib>

#include "Runtime/AppendLogFile.h"
#include "Runtime/TextUtils.h"

void TraceLogger::Write(const std::wstring& line) {
    if (!IsEnabled()) return;
    ::OutputDebugStringW(line.c_str());
}

void FileLogger::Write(const std::wstring& line) {
    if (!IsEnabled()) return;
    if (utf8File_) {
        utf8File_->Append(WideToUtf8(line));
        return;
    }
    std::fwrite(line.data(), line.size() * sizeof(wchar_t), 1, outputFile_);
    std::fflush(outputFile_);
}

void FileLogger::SetOutputFile(FILE* file) {
    CScopedLock guard(lock_);
    outputFile_ = file;
}

void FileLogger::SetUtf8Output(const CAppendLogFile* file) {
    CScopedLock guard(lock_);
    utf8File_ = file;
}

void ConsoleLogger::Write(const std::wstring& line) {
    if (!IsEnabled()) return;
    DWORD written = 0;
    ::WriteConsoleW(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
                    nullptr);
}

void ConsoleLogger::SetConsoleReady(bool ready) {
    CScopedLock guard(lock_);
    consoleReady_ = ready;
}

namespace {
LoggerOptions* DiagnosticOptions() {
    auto* options = new LoggerOptions;
    options->headerFlags = LogTime | LogPid | LogTid;
    options->appendNewline = true;
    return options;
}
bool EnvSet(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v && *v && wcscmp(v, L"0") != 0;
}
}  // namespace

void ConfigureLoggersFromEnvironment() {
    if (const wchar_t* path = _wgetenv(L"KV_LOG_FILE"); path && *path) {
        if (FILE* f = _wfopen(path, L"ab")) {
            FileLogger::Instance().SetOutputFile(f);
            FileLogger::Instance().SetOptions(DiagnosticOptions());
        }
    }
    if (EnvSet(L"KV_LOG_CONSOLE") && (::AttachConsole(ATTACH_PARENT_PROCESS) || ::AllocConsole())) {
        ConsoleLogger::Instance().SetConsoleReady(true);
        ConsoleLogger::Instance().SetOptions(DiagnosticOptions());
    }
    if (EnvSet(L"KV_LOG_TRACE")) TraceLogger::Instance().SetOptions(DiagnosticOptions());
}

void UseLogFile(const CAppendLogFile& file) {
    FileLogger::Instance().SetUtf8Output(&file);
    FileLogger::Instance().SetOptions(DiagnosticOptions());
}
