#pragma once
// The three process-wide loggers: debugger, file and console. All start
// disabled; ConfigureLoggersFromEnvironment() enables them for diagnostics.
#include <cstdio>

#include "Runtime/BaseLogger.h"

class TraceLogger : public BaseLogger, public CSingleton<TraceLogger> {
public:
    void Write(const std::wstring& line) override;
    bool IsEnabled() override { return HasOptions(); }
};

class FileLogger : public BaseLogger, public CSingleton<FileLogger> {
public:
    void Write(const std::wstring& line) override;
    bool IsEnabled() override { return HasOptions() && outputFile_ != nullptr; }
    // The stream is not closed by the logger; the caller keeps it open.
    void SetOutputFile(FILE* file);

private:
    FILE* outputFile_ = nullptr;
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
