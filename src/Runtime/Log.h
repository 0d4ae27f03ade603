#pragma once
// KV_LOG(sinks, level, format, ...): one diagnostic event, its text given
// once, written with the calling file's kLogFile name and the call's line to
// every logger in `sinks` (kToTrace, kToConsole, kToFile, or'ed) that is on.
// The level is one for all sinks, or LogLevels(trace, others) for the events
// that the debugger sees at another level than the console and the file.
// Any thread.
#include <cstdint>

#include "Runtime/BaseLogger.h"

enum LogSink : unsigned { kToTrace = 1u, kToConsole = 2u, kToFile = 4u };

struct LogLevels {
    LogLevels(int32_t all) : trace(all), others(all) {}  // NOLINT: a plain level converts
    LogLevels(int32_t traceLevel, int32_t otherLevel) : trace(traceLevel), others(otherLevel) {}
    int32_t trace;
    int32_t others;
};

void LogEvent(unsigned sinks, LogLevels levels, int32_t line, const wchar_t* file, const wchar_t* format, ...);

#define KV_LOG(sinks, level, ...) LogEvent((sinks), (level), __LINE__, kLogFile, __VA_ARGS__)
