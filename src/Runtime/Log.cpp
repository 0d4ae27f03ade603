#include "Runtime/Log.h"

#include <cstdarg>

#include "Runtime/LogSinks.h"

void LogEvent(unsigned sinks, LogLevels levels, int32_t line, const wchar_t* file, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    // Each logger formats from its own copy of the arguments.
    auto emit = [&](BaseLogger& logger, int32_t level) {
        va_list copy;
        va_copy(copy, args);
        logger.LogAtV(level, line, file, format, copy);
        va_end(copy);
    };
    if (sinks & kToTrace) emit(TraceLogger::Instance(), levels.trace);
    if (sinks & kToConsole) emit(ConsoleLogger::Instance(), levels.others);
    if (sinks & kToFile) emit(FileLogger::Instance(), levels.others);
    va_end(args);
}
