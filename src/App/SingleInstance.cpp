#include "App/SingleInstance.h"

#include <string>

#include "Runtime/AdminOnlySecurity.h"
#include "Runtime/Log.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\App\\SingleInstance";
// The installer window's class (CMainDlg); its title is in the user's language.
constexpr wchar_t kWindowClass[] = L"InstallPackages";
constexpr wchar_t kBoxClass[] = L"korvelim";  // CMsgBoxDlg

// The series: the name itself, then "<name>.1", "<name>.2", ... (one digit).
std::wstring SeriesName(const wchar_t* name, int index) {
    std::wstring each = name;
    if (index > 0) each += {L'.', static_cast<wchar_t>(L'0' + index)};
    return each;
}
}  // namespace

CSingleInstance::State CSingleInstance::Acquire(const wchar_t* name) {
    // Only a name's existence counts, not ownership: the object lives as long
    // as a handle to it, and the system closes ours when the process ends
    // however it ends. Each installer takes the first name nobody but an
    // administrator could have made, then looks at every other name of the
    // series, those passed over too (a squatter may have let one go): of two
    // installers, the one that took its name later sees the other's.
    mutex_.reset();
    int taken = 0;
    for (int i = 0; i < kSeriesLength + taken; ++i) {
        const std::wstring each = SeriesName(name, i % kSeriesLength);
        kv::UniqueKernelHandle h(mutex_ ? ::OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, each.c_str())
                                        : ::CreateMutexW(AdminOnlyAttributes(), FALSE, each.c_str()));
        const DWORD error = ::GetLastError();
        if (!mutex_ && h && error != ERROR_ALREADY_EXISTS) {
            mutex_ = std::move(h);
            taken = i;
            continue;
        }
        // Every installer's mutex admits administrators: a refusal is someone else's.
        if (h && OwnedByAdministrators(h.get(), SE_KERNEL_OBJECT)) {
            mutex_.reset();
            return State::kAnotherRunning;
        }
        // Someone else's object (or none could be made): passed over.
        if (h || (!mutex_ && error != ERROR_FILE_NOT_FOUND)) {
            KV_LOG(kToConsole | kToFile, Warn, L"CSingleInstance::Acquire %s ignored (%u)",
                   each.c_str(), static_cast<unsigned>(error));
        }
    }
    if (!mutex_) KV_LOG(kToConsole | kToFile, Warn, L"CSingleInstance::Acquire %s: unguarded", name);
    return mutex_ ? State::kFirst : State::kUnguarded;
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
