#pragma once
// One diagnostic logger: formats "[TAG][time][pid][tid][file:line]message"
// and hands the whole line to its sink. Disabled (and nothing formatted)
// until options are set. Any thread; calls are serialised per logger.
#include <cstdint>
#include <cstdarg>
#include <string>

#include "Runtime/Lock.h"

enum LogLevel : int32_t { Info = 0, Warn = 1, Error = 2 };

enum LogHeaderFlags : uint8_t { LogTime = 0x02, LogPid = 0x04, LogTid = 0x08 };

struct LoggerOptions {
    uint8_t headerFlags = 0;
    bool appendNewline = false;
};

class BaseLogger {
public:
    BaseLogger() = default;
    virtual ~BaseLogger();
    BaseLogger(const BaseLogger&) = delete;
    BaseLogger& operator=(const BaseLogger&) = delete;

    virtual void Log(int32_t level, const wchar_t* format, ...);
    virtual void LogAt(int32_t level, int32_t line, const wchar_t* file, const wchar_t* format, ...);
    virtual void Write(const std::wstring& line) = 0;
    virtual bool IsEnabled() = 0;
    // LogAt with the arguments in a va_list (KV_LOG, Runtime/Log.h).
    void LogAtV(int32_t level, int32_t line, const wchar_t* file, const wchar_t* format, va_list args) {
        Emit(level, &line, file, format, args);
    }

    // Takes ownership of options; null disables the logger again.
    void SetOptions(LoggerOptions* options);

protected:
    bool HasOptions() const { return options_ != nullptr; }
    CLock lock_;

private:
    void Emit(int32_t level, const int32_t* line, const wchar_t* file, const wchar_t* format, va_list args);

    LoggerOptions* options_ = nullptr;
};

// Gives T a static Instance(): one object, created on first use, destroyed at exit.
template <typename T>
class CSingleton {
public:
    static T& Instance() {
        static T instance;
        return instance;
    }
};
