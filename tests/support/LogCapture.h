#pragma once
// Sends the file logger to a temporary file for the life of the object, one
// line per event without header items. Main thread of the test.
#include <cstdio>
#include <string>

#include "support/Files.h"

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // Everything logged so far.
    std::wstring Text() const;
    size_t Count(const std::wstring& needle) const;

private:
    TempDir dir_;
    std::wstring path_;
    FILE* file_ = nullptr;
};
