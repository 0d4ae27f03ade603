// A screen reader's view of a running program's window, for the tests:
//   kv_a11y_client tree  CLASS TITLE          prints the window and its children
//                                             (name | role | state | value |
//                                             x,y wxh in the client area | action)
//                                             and checks them as a reader relies on
//                                             them (exit 3 when a check fails)
//   kv_a11y_client index CLASS TITLE          the children asked for by index 1..n
//                                             (id | name | role)
//   kv_a11y_client do    CLASS TITLE NAME     the named child's default action
//   kv_a11y_client find  CLASS TITLE NAME     prints the named child
//   kv_a11y_client focus CLASS TITLE          prints the child with the focus
//   kv_a11y_client front CLASS TITLE          whether the window (or a box it owns)
//                                             is the foreground window, and the
//                                             titles of other shown windows above it
//   kv_a11y_client wait  CLASS TITLE SECONDS  waits for the window (and its object)
//   kv_a11y_client gone  CLASS TITLE SECONDS  waits for the window to go
// CLASS "-" matches any window class. Output is UTF-8.
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AccessibleWalker.h"

namespace {
void Print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

HWND FindTarget(const std::wstring& cls, const std::wstring& title) {
    const HWND hwnd = ::FindWindowW(cls == L"-" ? nullptr : cls.c_str(), title.c_str());
    return hwnd && ::IsWindowVisible(hwnd) ? hwnd : nullptr;
}

// "x,y wxh" relative to the window's client area.
std::wstring Place(HWND hwnd, const RECT& screen) {
    POINT origin{0, 0};
    ::ClientToScreen(hwnd, &origin);
    wchar_t buf[64];
    swprintf(buf, 64, L"%ld,%ld %ldx%ld", screen.left - origin.x, screen.top - origin.y, screen.right - screen.left,
             screen.bottom - screen.top);
    return buf;
}

std::wstring Line(HWND hwnd, const AccessibleItem& item) {
    std::wstring s = item.name + L" | " + CAccessibleWalker::RoleText(item.role) + L" | " +
                     CAccessibleWalker::StateText(item.state) + L" | " + item.value + L" | " + Place(hwnd, item.screen);
    if (!item.action.empty()) s += L" | " + item.action;
    return s;
}

int Tree(CAccessibleWalker& walker) {
    const HWND hwnd = walker.Window();
    std::vector<std::wstring> failures;
    const AccessibleItem self = walker.Self();
    Print(L"window: " + Line(hwnd, self));
    wchar_t title[256] = {};
    ::GetWindowTextW(hwnd, title, 256);
    if (self.name != title) failures.push_back(L"the window's name is not its title");
    if (self.role != ROLE_SYSTEM_CLIENT && self.role != ROLE_SYSTEM_DIALOG) failures.push_back(L"the window's role");
    RECT client{};
    ::GetClientRect(hwnd, &client);
    POINT origin{0, 0};
    ::ClientToScreen(hwnd, &origin);
    ::OffsetRect(&client, origin.x, origin.y);

    const std::vector<AccessibleItem> children = walker.Children();
    std::vector<LONG> ids;
    for (const AccessibleItem& item : children) {
        Print(L"  " + Line(hwnd, item));
        ids.push_back(item.id);
        RECT inside{};
        if (item.name.empty()) failures.push_back(L"a child without a name");
        if (item.state & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) failures.push_back(item.name + L" is listed but invisible");
        if (::IsRectEmpty(&item.screen) || !::IntersectRect(&inside, &item.screen, &client) ||
            !::EqualRect(&inside, &item.screen))
            failures.push_back(item.name + L" lies outside the window");
        const POINT centre{(item.screen.left + item.screen.right) / 2, (item.screen.top + item.screen.bottom) / 2};
        if (walker.HitTest(centre) != item.id) failures.push_back(L"the hit test at the centre of " + item.name + L" finds another");
    }
    if (children.empty()) failures.push_back(L"no children");
    if (walker.NavigationOrder() != ids) failures.push_back(L"accNavigate's order differs from the children's");
    const std::vector<AccessibleItem> byIndex = walker.ChildrenByIndex();
    bool same = byIndex.size() == children.size();
    for (size_t i = 0; same && i < byIndex.size(); ++i)
        same = children[i].id == byIndex[i].id && Line(hwnd, children[i]) == Line(hwnd, byIndex[i]);
    if (!same) failures.push_back(L"asked for by index 1..n, the children differ from the enumerated ones");
    const LONG focus = walker.Focus();
    if (focus > 0 && std::find(ids.begin(), ids.end(), focus) == ids.end()) failures.push_back(L"the focus is not a shown child");
    const POINT outside{client.right + 5, client.bottom + 5};
    if (walker.HitTest(outside) != -1) failures.push_back(L"a hit test outside the window finds something");
    for (const std::wstring& f : failures) Print(L"CHECK FAILED: " + f);
    return failures.empty() ? 0 : 3;
}

bool WaitFor(const std::wstring& cls, const std::wstring& title, int seconds, bool present, CAccessibleWalker* walker) {
    for (int i = 0; i <= seconds * 10; ++i) {
        const HWND hwnd = FindTarget(cls, title);
        if (!present && hwnd == nullptr) return true;
        if (present && hwnd && (walker == nullptr || walker->Open(hwnd))) return true;
        ::Sleep(100);
    }
    return false;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        Print(L"usage: kv_a11y_client tree|index|do|find|focus|front|wait|gone CLASS TITLE [NAME|SECONDS]");
        return 1;
    }
    const std::wstring command = argv[1], cls = argv[2], title = argv[3];
    const std::wstring arg = argc > 4 ? argv[4] : L"";
    ::CoInitialize(nullptr);
    CAccessibleWalker walker;
    int result = 0;
    if (command == L"wait" || command == L"gone") {
        const int seconds = arg.empty() ? 10 : _wtoi(arg.c_str());
        result = WaitFor(cls, title, seconds, command == L"wait", command == L"wait" ? &walker : nullptr) ? 0 : 6;
        if (result) Print(L"timed out waiting for " + title);
    } else if (!WaitFor(cls, title, 5, true, &walker)) {
        Print(L"no accessible window " + title);
        result = 2;
    } else if (command == L"tree") {
        result = Tree(walker);
    } else if (command == L"do" || command == L"find") {
        const AccessibleItem item = walker.Find(arg);
        if (item.id == CHILDID_SELF) {
            Print(L"no child named " + arg);
            result = 4;
        } else if (command == L"find") {
            Print(Line(walker.Window(), item));
        } else {
            const HRESULT hr = walker.DoDefaultAction(item.id);
            Print(L"accDoDefaultAction " + arg + (hr == S_OK ? L": done" : L": refused"));
            result = hr == S_OK ? 0 : 5;
        }
    } else if (command == L"index") {
        for (const AccessibleItem& item : walker.ChildrenByIndex())
            Print(std::to_wstring(item.id) + L" | " + item.name + L" | " + CAccessibleWalker::RoleText(item.role));
    } else if (command == L"focus") {
        const LONG id = walker.Focus();
        if (id < 0) Print(L"(no focus)");
        else if (id == CHILDID_SELF) Print(L"window: " + Line(walker.Window(), walker.Self()));
        else {
            for (const AccessibleItem& item : walker.Children()) {
                if (item.id == id) Print(Line(walker.Window(), item));
            }
        }
    } else if (command == L"front") {
        const HWND hwnd = walker.Window();
        const HWND foreground = ::GetForegroundWindow();
        std::wstring above;
        for (HWND w = ::GetTopWindow(nullptr); w && w != hwnd; w = ::GetWindow(w, GW_HWNDNEXT)) {
            // Its own shadow and message boxes belong to it.
            if (!::IsWindowVisible(w) || ::GetWindow(w, GW_OWNER) == hwnd) continue;
            wchar_t text[256] = {};
            ::GetWindowTextW(w, text, 256);
            above += L" [" + std::wstring(text) + L"]";
        }
        const bool front = foreground && (foreground == hwnd || ::GetWindow(foreground, GW_OWNER) == hwnd);
        Print(std::wstring(L"foreground: ") + (front ? L"yes" : L"no"));
        Print(L"above:" + above);
    } else {
        Print(L"unknown command " + command);
        result = 1;
    }
    return result;
}
