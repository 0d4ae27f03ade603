#include "Runtime/BaseLogger.h"

#include <windows.h>

#include <ctime>
#include <vector>

namespace {

const wchar_t* LevelTag(int32_t level) {
    switch (level) {
        case Info: return L"INFO";
        case Warn: return L"WARN";
        case Error: return L"ERRO";
        default: return nullptr;
    }
}

void AppendFormat(std::wstring& out, const wchar_t* format, ...) {
    wchar_t buf[64];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buf, 63, format, args);
    va_end(args);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
}

}  // namespace

BaseLogger::~BaseLogger() { delete options_; }

void BaseLogger::SetOptions(LoggerOptions* options) {
    CScopedLock guard(lock_);
    delete options_;
    options_ = options;
}

void BaseLogger::Log(int32_t level, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(level, nullptr, nullptr, format, args);
    va_end(args);
}

void BaseLogger::LogAt(int32_t level, int32_t line, const wchar_t* file, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(level, &line, file, format, args);
    va_end(args);
}

void BaseLogger::Emit(int32_t level, const int32_t* line, const wchar_t* file, const wchar_t* format,
                      va_list args) {
    CScopedLock guard(lock_);
    if (!IsEnabled()) return;

    std::wstring text;
    if (const wchar_t* tag = LevelTag(level)) AppendFormat(text, L"[%4s]", tag);
    const uint8_t flags = options_ ? options_->headerFlags : 0;
    if (flags & LogTime) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_s(&local, &now);
        wchar_t stamp[32];
        const size_t n = std::wcsftime(stamp, 32, L"[%Y-%m-%d %H:%M:%S]", &local);
        text.append(stamp, n);
    }
    if (flags & LogPid) AppendFormat(text, L"[pid:%d]", static_cast<int>(::GetCurrentProcessId()));
    if (flags & LogTid) AppendFormat(text, L"[tid:%d]", static_cast<int>(::GetCurrentThreadId()));
    if (line) AppendFormat(text, L"[%s:%d]", file ? file : L"", *line);

    // Measure first, then format into a buffer of exactly that size, so a
    // message of any length is written whole.
    if (format) {
        va_list measure;
        va_copy(measure, args);
        const int length = _vscwprintf(format, measure);
        va_end(measure);
        if (length > 0) {
            std::vector<wchar_t> buf(static_cast<size_t>(length) + 1);
            const int n = _vsnwprintf(buf.data(), buf.size(), format, args);
            if (n > 0) text.append(buf.data(), static_cast<size_t>(n));
        }
    }
    if (options_ && options_->appendNewline) text.append(L"\r\n");
    Write(text);
}
