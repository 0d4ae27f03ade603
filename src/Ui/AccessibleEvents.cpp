#include "Ui/AccessibleEvents.h"

#include "Ui/AccessibleInfo.h"
#include "Ui/ControlUI.h"
#include "Ui/PaintManagerUI.h"

CAccessibleEvents::~CAccessibleEvents() { Clear(); }

void CAccessibleEvents::Raise(DWORD event, CControlUI* control) {
    const HWND hwnd = manager_.GetPaintWindow();
    if (hwnd == nullptr && !sink_) return;
    const LONG child = CAccessibleInfo::ChildId(manager_.GetRoot(), control);
    // A control a reader cannot see now (its page hidden) has no id to name.
    if (control != nullptr && child == CHILDID_SELF) return;
    if (sink_) sink_(event, child);
    else ::NotifyWinEvent(event, hwnd, OBJID_CLIENT, child);
}

void CAccessibleEvents::Focus(CControlUI* control) { Raise(EVENT_OBJECT_FOCUS, control); }

void CAccessibleEvents::Reorder() { Raise(EVENT_OBJECT_REORDER, nullptr); }

void CAccessibleEvents::Alert() { Raise(EVENT_SYSTEM_ALERT, nullptr); }

// Only for a child a reader can see: a container or a control of a hidden
// page has no object to ask about.
void CAccessibleEvents::StateChanged(CControlUI* control) {
    if (control && control->IsShown() && CAccessibleInfo::IsListed(*control)) Raise(EVENT_OBJECT_STATECHANGE, control);
}

// A reader speaks every value change; the bar moves many times a second, so
// a change within a second of the last one raised waits for the second's
// end and is then raised once with whatever the value is by then.
void CAccessibleEvents::ValueChanged(CControlUI* control) {
    if (control == nullptr) return;
    ValueState& s = values_[control];
    const DWORD now = Now();
    const DWORD since = now - s.last;
    if (!s.raised || since >= kValueIntervalMs) {
        s.last = now;
        s.raised = true;
        s.pending = false;
        Raise(EVENT_OBJECT_VALUECHANGE, control);
        return;
    }
    if (!s.pending) {
        s.pending = true;
        ArmTimer(kValueIntervalMs - since);
    }
}

void CAccessibleEvents::ArmTimer(DWORD waitMs) {
    const HWND hwnd = manager_.GetPaintWindow();
    if (timerArmed_ || hwnd == nullptr) return;
    timerArmed_ = ::SetTimer(hwnd, kTimerId, waitMs, nullptr) != 0;
}

bool CAccessibleEvents::OnTimer(UINT_PTR id) {
    if (id != kTimerId) return false;
    if (HWND hwnd = manager_.GetPaintWindow()) ::KillTimer(hwnd, kTimerId);
    timerArmed_ = false;
    const DWORD now = Now();
    DWORD nextWait = 0;
    for (auto& [control, s] : values_) {
        if (!s.pending) continue;
        const DWORD since = now - s.last;
        if (since >= kValueIntervalMs) {
            s.pending = false;
            s.last = now;
            Raise(EVENT_OBJECT_VALUECHANGE, control);
        } else if (nextWait == 0 || kValueIntervalMs - since < nextWait) {
            // The timer came early (its resolution): wait for the rest.
            nextWait = kValueIntervalMs - since;
        }
    }
    if (nextWait) ArmTimer(nextWait);
    return true;
}

void CAccessibleEvents::Clear() {
    values_.clear();
    if (timerArmed_) {
        if (HWND hwnd = manager_.GetPaintWindow()) ::KillTimer(hwnd, kTimerId);
        timerArmed_ = false;
    }
}
