#pragma once
// What a screen reader learns about one skinned control: whether it is
// listed at all, and its name, role, state, value and default action, read
// from the control and its markup ("accname", "accrole"). Also the child
// ids: a control's place among the children a reader sees, counted from 1,
// so that a reader may ask for children 1 to n by index; they change when
// another page is shown. Main thread only.
#include <windows.h>

#include <string>
#include <vector>

class CControlUI;
class CPaintManagerUI;

class CAccessibleInfo {
public:
    // Every control of the tree in markup order (which is the Tab order).
    static std::vector<CControlUI*> Flatten(CControlUI* root);
    // The children a reader sees: shown and listed, in Tab order; a
    // control's child id is its index here plus one (CHILDID_SELF for a
    // control not among them).
    static std::vector<CControlUI*> ShownChildren(CControlUI* root);
    static LONG ChildId(CControlUI* root, const CControlUI* control);
    static CControlUI* FromChildId(CControlUI* root, LONG id);

    // A control that can be a child: buttons, options, edits, progress bars,
    // labels with a name, and anything given an accname or accrole.
    // Layout containers are not.
    static bool IsListed(const CControlUI& control);
    static std::wstring Name(const CControlUI& control);
    static LONG Role(const CControlUI& control);
    // STATE_SYSTEM_* bits; hidden controls (a page not shown) are invisible
    // and offscreen.
    static LONG State(const CControlUI& control, const CPaintManagerUI& manager);
    // The progress bar's percentage ("37%") or the edit's text; empty otherwise.
    static std::wstring Value(const CControlUI& control);
    static bool HasValue(const CControlUI& control);
    // What the default action (a click) does; empty when there is none.
    static std::wstring DefaultAction(const CControlUI& control);

    // A markup role word ("link", "pushbutton", "checkbutton", "text",
    // "statictext", "progressbar", "graphic", "dialog", "client") as
    // ROLE_SYSTEM_*, 0 when unknown.
    static LONG RoleFromWord(const std::wstring& word);
    // The window itself: its markup role (client by default).
    static LONG WindowRole(const CPaintManagerUI& manager);
    // True while the window or one of its children has the keyboard.
    static bool WindowHasFocus(HWND hwnd);
};
