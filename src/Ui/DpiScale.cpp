#include "Ui/DpiScale.h"

#include "Runtime/Handles.h"

namespace {
// The per-monitor calls exist from Windows 10 1607 (GetDpiForWindow) and
// 1703 (the v2 context); older systems lack them, so they are looked up.
template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    return user ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user, name))) : nullptr;
}
}  // namespace

bool CDpiScale::EnableProcessAwareness() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (auto set = User32Function<SetContextFn>("SetProcessDpiAwarenessContext")) {
        // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and _PER_MONITOR_AWARE.
        if (set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return true;
        if (set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)))) return true;
        return false;
    }
    using SetAwareFn = BOOL(WINAPI*)();
    auto setAware = User32Function<SetAwareFn>("SetProcessDPIAware");
    return setAware && setAware();
}

UINT CDpiScale::ForWindow(HWND hwnd) {
    using GetDpiFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiFn>("GetDpiForWindow");
    if (getDpi && hwnd) {
        const UINT dpi = getDpi(hwnd);
        if (dpi != 0) return dpi;
    }
    return ForSystem();
}

UINT CDpiScale::ForSystem() {
    const kv::UniqueScreenDc dc(::GetDC(nullptr));
    const int dpi = dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}
