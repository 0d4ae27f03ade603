#include "App/SingleInstance.h"

#include "App/AppLog.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\SingleInstance";
// The installer window's class and title (CMainDlg, Main.cpp).
constexpr wchar_t kWindowClass[] = L"InstallPackages";
constexpr wchar_t kWindowTitle[] = L"安装KorvelQixar";
}  // namespace

CSingleInstance::State CSingleInstance::Acquire(const wchar_t* name) {
    // Only the name's existence counts, not ownership: the object lives as
    // long as a handle to it, and the system closes ours when the process
    // ends however it ends.
    mutex_.reset(::CreateMutexW(nullptr, FALSE, name));
    const DWORD error = ::GetLastError();
    if (mutex_ && error != ERROR_ALREADY_EXISTS) return State::kFirst;
    if (mutex_ || error == ERROR_ACCESS_DENIED) {
        mutex_.reset();
        return State::kAnotherRunning;
    }
    KV_APP_LOG(Warn, L"CSingleInstance::Acquire %s could not be created (%u): running unguarded", name,
               static_cast<unsigned>(error));
    return State::kUnguarded;
}

bool BringRunningInstallerToFront() {
    const HWND window = ::FindWindowW(kWindowClass, kWindowTitle);
    if (!window) return false;
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    // A question it is asking (a modal box it owns) is what the user must see.
    const HWND front = ::GetLastActivePopup(window);
    const BOOL done = ::SetForegroundWindow(front ? front : window);
    KV_APP_LOG(Info, L"BringRunningInstallerToFront %p: %s", static_cast<void*>(front ? front : window),
               done ? L"in front" : L"not allowed to the front");
    return true;
}
