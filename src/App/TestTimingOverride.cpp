#include "App/TestTimingOverride.h"

#include <cwchar>

#include "App/AppBuildConfig.h"

UINT TestTimingOverride(const wchar_t* name, UINT fallback) {
    if (!KV_APP_LOOPBACK_ONLY_BUILD) return fallback;
    wchar_t buffer[16];
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    if (n == 0 || n >= ARRAYSIZE(buffer)) return fallback;
    wchar_t* end = nullptr;
    const unsigned long ms = std::wcstoul(buffer, &end, 10);
    return *end == L'\0' && ms >= 1 && ms <= 60000 ? static_cast<UINT>(ms) : fallback;
}
