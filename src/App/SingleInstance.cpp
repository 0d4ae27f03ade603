#include "App/SingleInstance.h"
#include "Runtime/Log.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\SingleInstance";
// The installer window's class (CMainDlg); its title is in the user's language.
constexpr wchar_t kWindowClass[] = L"InstallPackages";
constexpr wchar_t kBoxClass[] = L"korvelim";  // CMsgBoxDlg
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
    KV_LOG(kToConsole | kToFile, Warn, L"CSingleInstance::Acquire %s could not be created (%u): running unguarded", name,
           static_cast<unsigned>(error));
    return State::kUnguarded;
}

bool BringRunningInstallerToFront() {
    const HWND window = ::FindWindowW(kWindowClass, nullptr);
    if (!window) return false;
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    // A question it is asking (a message box it owns) is what the user must
    // see; its other owned window, the shadow, is no such thing.
    HWND front = window;
    for (HWND box = nullptr; (box = ::FindWindowExW(nullptr, box, kBoxClass, nullptr)) != nullptr;) {
        if (::GetWindow(box, GW_OWNER) == window && ::IsWindowVisible(box)) front = box;
    }
    // Raised first: activation alone does not restack a window everywhere
    // (Wine without a window manager); the owned box stays above its owner.
    ::BringWindowToTop(window);
    if (front != window) ::BringWindowToTop(front);
    const BOOL done = ::SetForegroundWindow(front);
    KV_LOG(kToConsole | kToFile, Info, L"BringRunningInstallerToFront %p: %s", static_cast<void*>(front),
           done ? L"in front" : L"not allowed to the front");
    return true;
}
