#pragma once
// The three process-wide loggers: debugger, file and console. All start
// disabled; ConfigureLoggersFromEnvironment() enables them for diagnostics,
// UseLogFile() turns the file logger to a UTF-8 log file.
#include <cstdio>

#include "Runtime/BaseLogger.h"

class CAppendLogFile;

class TraceLogger : public BaseLogger, public CSingleton<TraceLogger> {
public:
    void Write(const std::wstring& line) override;
    bool IsEnabled() override { return HasOptions(); }
};

class FileLogger : public BaseLogger, public CSingleton<FileLogger> {
public:
    void Write(const std::wstring& line) override;
    bool IsEnabled() override { return HasOptions() && (outputFile_ != nullptr || utf8File_ != nullptr); }
    // UTF-16LE lines to a stream. The stream is not closed by the logger; the
    // caller keeps it open.
    void SetOutputFile(FILE* file);
    // UTF-8 lines appended to a log file instead (null: back to the stream).
    // The caller keeps the file open while the logger may write.
    void SetUtf8Output(const CAppendLogFile* file);

private:
    FILE* outputFile_ = nullptr;
    const CAppendLogFile* utf8File_ = nullptr;
};

class ConsoleLogger : public BaseLogger, public CSingleton<ConsoleLogger> {
public:
    void Write(const std::wstring& line) override;
    bool IsEnabled() override { return HasOptions() && consoleReady_; }
    void SetConsoleReady(bool ready);

private:
    bool consoleReady_ = false;
};

// Diagnostics switch, read once at start-up:
//   KV_LOG_FILE=<path>  FileLogger appends UTF-16LE lines to <path>
//   KV_LOG_CONSOLE=1    ConsoleLogger writes to the parent's console
//   KV_LOG_TRACE=1      TraceLogger writes to the debugger
void ConfigureLoggersFromEnvironment();

// The file logger writes UTF-8 lines with time, process and thread to `file`
// (kept open by the caller until the process ends).
void UseLogFile(const CAppendLogFile& file);
