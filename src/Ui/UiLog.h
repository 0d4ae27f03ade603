#pragma once
// Logging shorthand of the UI framework: every event goes to the file and
// the console logger, each with its source file and line. Any thread.
#include "Runtime/LogSinks.h"

#define KV_UI_LOG(level, file, ...)                                                \
    do {                                                                          \
        FileLogger::Instance().LogAt((level), __LINE__, (file), __VA_ARGS__);    \
        ConsoleLogger::Instance().LogAt((level), __LINE__, (file), __VA_ARGS__); \
    } while (0)
