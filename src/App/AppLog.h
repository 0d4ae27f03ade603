#pragma once
// Logging shorthand of the installer application: like the UI framework's,
// every event goes to the file and the console logger with its source file
// and line. The including .cpp defines kLogFile. Any thread.
#include "Ui/UiLog.h"

#define KV_APP_LOG(level, ...) KV_UI_LOG((level), kLogFile, __VA_ARGS__)
