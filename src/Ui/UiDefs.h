#pragma once
// Interfaces and records shared by the skinned-window framework: the
// notification record and its names, the controller interfaces and the
// events a control receives. Main thread only.
#include <windows.h>

#include <string>

class CControlUI;

// Notification names reported to a window's controller.
namespace notify {
constexpr wchar_t kWindowInit[] = L"windowinit";
constexpr wchar_t kClick[] = L"click";
constexpr wchar_t kSelectChanged[] = L"selectchanged";
constexpr wchar_t kTextChanged[] = L"textchanged";
constexpr wchar_t kEditKey[] = L"editkey";  // Enter or Escape closed an edit box (wParam: the key)
constexpr wchar_t kSetFocus[] = L"setfocus";
constexpr wchar_t kKillFocus[] = L"killfocus";
constexpr wchar_t kTimer[] = L"timer";
constexpr wchar_t kTabSelect[] = L"tabselect";
}  // namespace notify

struct TNotifyUI {
    std::wstring sType;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse{};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

class IMessageFilterUI {
public:
    virtual ~IMessageFilterUI() = default;
    virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
};

// Lets a window create controls for elements the framework does not know.
class IDialogBuilderCallback {
public:
    virtual ~IDialogBuilderCallback() = default;
    virtual CControlUI* CreateControl(const wchar_t* className) = 0;
};

// Events the paint manager delivers to a control.
// KeyCancel: the window lost the keyboard, a key held on the focused control
// will not come up here.
enum class UiEvent { MouseEnter, MouseLeave, MouseMove, ButtonDown, ButtonUp, SetFocus, KillFocus, KeyDown, KeyUp, KeyCancel, Timer };

// Where a focus change came from; SetFocus events carry it in wParam.
enum FocusReason : WPARAM { kFocusByCode = 0, kFocusByKeyboard = 1, kFocusByMouse = 2 };

struct TEventUI {
    UiEvent type = UiEvent::MouseMove;
    CControlUI* pSender = nullptr;
    POINT ptMouse{};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
