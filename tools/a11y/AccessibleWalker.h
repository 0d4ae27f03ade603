#pragma once
// What a screen reader does with a window, from another process: takes the
// client object (AccessibleObjectFromWindow), lists its children with
// AccessibleChildren and reads each one's name, role, state, value,
// default action and screen rectangle; finds a child by name, does its
// default action, asks the focus and hit-tests. COM must be initialised on
// the calling thread. One thread.
#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

struct AccessibleItem {
    LONG id = CHILDID_SELF;
    std::wstring name;
    LONG role = 0;
    LONG state = 0;
    std::wstring value;
    std::wstring action;
    RECT screen{};  // left, top, right, bottom in screen co-ordinates
};

class CAccessibleWalker {
public:
    CAccessibleWalker() = default;
    ~CAccessibleWalker();
    CAccessibleWalker(const CAccessibleWalker&) = delete;
    CAccessibleWalker& operator=(const CAccessibleWalker&) = delete;

    // The window's client object; false (and the HRESULT in Error()) when
    // the window answers none.
    bool Open(HWND hwnd);
    HRESULT Error() const { return error_; }
    HWND Window() const { return hwnd_; }
    IAccessible* Object() const { return acc_; }

    AccessibleItem Self();
    std::vector<AccessibleItem> Children();
    // The children asked for by index, 1 to accChildCount, as older readers
    // walk them instead of enumerating.
    std::vector<AccessibleItem> ChildrenByIndex();
    // The child ids reached by FIRSTCHILD and then NEXT until the end.
    std::vector<LONG> NavigationOrder();
    // The first shown child with this name; id CHILDID_SELF when none.
    AccessibleItem Find(const std::wstring& name);
    HRESULT DoDefaultAction(LONG id);
    // accFocus: the child id, CHILDID_SELF, or -1 when nothing has the focus.
    LONG Focus();
    // accHitTest at a screen point: the child id, CHILDID_SELF, or -1 outside.
    LONG HitTest(POINT screen);

    // Reader-style words: GetRoleText, and GetStateText of every bit set.
    static std::wstring RoleText(LONG role);
    static std::wstring StateText(LONG state);
    // "name role [states] [value]" as a reader would say it on focus.
    static std::wstring Speech(const AccessibleItem& item);

private:
    AccessibleItem Read(LONG id);

    HWND hwnd_ = nullptr;
    IAccessible* acc_ = nullptr;
    HRESULT error_ = S_OK;
};
