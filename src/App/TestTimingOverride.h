#pragma once
// Test and demo builds only: end-to-end runs shorten the controller's waits
// that would otherwise only slow them (the retry cycle, the install
// animation's tick) through the environment. Any thread.
#include <windows.h>

// The milliseconds in the environment variable `name` (1 to 60000), or
// `fallback` in a build without KV_LOOPBACK_ONLY, when it is unset, or when
// it holds anything else.
UINT TestTimingOverride(const wchar_t* name, UINT fallback);
