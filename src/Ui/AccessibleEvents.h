#pragma once
// The window events a screen reader listens for, raised with
// NotifyWinEvent on the window's client object: focus, page change
// (reorder), state change (checked, unavailable), value change (at most
// once a second per control; a change held back is raised when the second
// is over) and alert. Main thread only.
#include <windows.h>

#include <functional>
#include <map>

class CControlUI;
class CPaintManagerUI;

class CAccessibleEvents {
public:
    static constexpr DWORD kValueIntervalMs = 1000;
    static constexpr UINT_PTR kTimerId = 0x4B56A11E;  // clear of the controls' and controllers' ids

    explicit CAccessibleEvents(CPaintManagerUI& manager) : manager_(manager) {}
    ~CAccessibleEvents();
    CAccessibleEvents(const CAccessibleEvents&) = delete;
    CAccessibleEvents& operator=(const CAccessibleEvents&) = delete;

    // The keyboard focus moved to `control` (null: to the window itself).
    void Focus(CControlUI* control);
    // The set of children changed (another page is shown).
    void Reorder();
    void ValueChanged(CControlUI* control);
    // A state a reader says changed: an option ticked or cleared, a
    // control enabled or disabled.
    void StateChanged(CControlUI* control);
    // The window asks for attention (a message box appeared).
    void Alert();
    // The window's WM_TIMER; true when it was this object's timer.
    bool OnTimer(UINT_PTR id);
    // Forgets a control's held-back value change (the window is going).
    void Clear();

    // For tests: where events go (default NotifyWinEvent) and the clock.
    using Sink = std::function<void(DWORD event, LONG childId)>;
    void SetSink(Sink sink) { sink_ = std::move(sink); }
    void SetClock(std::function<DWORD()> clock) { clock_ = std::move(clock); }

private:
    struct ValueState {
        DWORD last = 0;
        bool raised = false;
        bool pending = false;
    };
    void Raise(DWORD event, CControlUI* control);
    DWORD Now() const { return clock_ ? clock_() : ::GetTickCount(); }
    void ArmTimer(DWORD waitMs);

    CPaintManagerUI& manager_;
    std::map<CControlUI*, ValueState> values_;
    bool timerArmed_ = false;
    Sink sink_;
    std::function<DWORD()> clock_;
};
