// Listens as a screen reader does (SetWinEventHook, out of context) to the
// windows of the given classes in other processes and writes one line per
// event, with what a reader would say:
//   kv_a11y_events OUTFILE STOPFILE SECONDS CLASS...
// Events: focus, state change, value change, reorder (page change), alert,
// written in the order they came. Each line:
//   <event time ms> <EVENT> <child id> | <name> | <role> | <value> | says: <speech>
// Runs until STOPFILE exists or SECONDS pass. Output is UTF-8.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "AccessibleWalker.h"

namespace {
FILE* g_out = nullptr;
std::vector<std::wstring> g_classes;

void Write(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), g_out);
    fflush(g_out);
}

bool Watched(HWND hwnd) {
    wchar_t cls[128] = {};
    if (hwnd == nullptr || ::GetClassNameW(hwnd, cls, 128) == 0) return false;
    for (const std::wstring& c : g_classes) {
        if (c == cls) return true;
    }
    return false;
}

const wchar_t* EventName(DWORD event) {
    switch (event) {
        case EVENT_OBJECT_FOCUS: return L"FOCUS";
        case EVENT_OBJECT_VALUECHANGE: return L"VALUE";
        case EVENT_OBJECT_REORDER: return L"REORDER";
        case EVENT_OBJECT_STATECHANGE: return L"STATE";
        case EVENT_SYSTEM_ALERT: return L"ALERT";
        default: return L"OTHER";
    }
}

// What a reader says: a focused control or a changed state by name, role,
// state and value; a changed value by itself; an alert by the window's name
// and its texts.
std::wstring Speech(DWORD event, HWND hwnd, const AccessibleItem& item) {
    if (event == EVENT_OBJECT_VALUECHANGE) return item.value;
    if (event == EVENT_OBJECT_FOCUS || event == EVENT_OBJECT_STATECHANGE) return CAccessibleWalker::Speech(item);
    CAccessibleWalker walker;
    if (!walker.Open(hwnd)) return L"";
    std::wstring s = walker.Self().name + L" " + CAccessibleWalker::RoleText(walker.Self().role);
    for (const AccessibleItem& child : walker.Children()) {
        if (child.role == ROLE_SYSTEM_STATICTEXT) s += L", " + child.name;
        else if (event == EVENT_OBJECT_REORDER) s += L", " + child.name + L" " + CAccessibleWalker::RoleText(child.role);
    }
    return s;
}

struct Event {
    DWORD event;
    HWND hwnd;
    LONG idChild;
    DWORD time;
};
std::deque<Event> g_queue;

// Reads what the event is about and writes its line. The calls into the
// other process wait in COM's modal loop, which delivers further events:
// those only join the queue, so lines keep the order the events came in.
void Report(const Event& e) {
    IAccessible* acc = nullptr;
    VARIANT child;
    ::VariantInit(&child);
    AccessibleItem item;
    item.id = e.idChild;
    if (SUCCEEDED(::AccessibleObjectFromEvent(e.hwnd, static_cast<DWORD>(OBJID_CLIENT), static_cast<DWORD>(e.idChild),
                                              &acc, &child)) &&
        acc) {
        BSTR b = nullptr;
        if (acc->get_accName(child, &b) == S_OK && b) item.name.assign(b, ::SysStringLen(b));
        ::SysFreeString(b);
        b = nullptr;
        if (acc->get_accValue(child, &b) == S_OK && b) item.value.assign(b, ::SysStringLen(b));
        ::SysFreeString(b);
        VARIANT v;
        ::VariantInit(&v);
        if (SUCCEEDED(acc->get_accRole(child, &v)) && v.vt == VT_I4) item.role = v.lVal;
        ::VariantClear(&v);
        if (SUCCEEDED(acc->get_accState(child, &v)) && v.vt == VT_I4) item.state = v.lVal;
        ::VariantClear(&v);
        acc->Release();
    }
    ::VariantClear(&child);
    wchar_t head[64];
    swprintf(head, 64, L"%lu %ls %ld", static_cast<unsigned long>(e.time), EventName(e.event),
             static_cast<long>(e.idChild));
    Write(std::wstring(head) + L" | " + item.name + L" | " + CAccessibleWalker::RoleText(item.role) + L" | " +
          item.value + L" | says: " + Speech(e.event, e.hwnd, item));
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD, DWORD time) {
    if (idObject != OBJID_CLIENT || !Watched(hwnd)) return;
    g_queue.push_back(Event{event, hwnd, idChild, time});
}

void ReportQueued() {
    while (!g_queue.empty()) {
        const Event e = g_queue.front();
        g_queue.pop_front();
        Report(e);
    }
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        fwprintf(stderr, L"usage: kv_a11y_events OUTFILE STOPFILE SECONDS CLASS...\n");
        return 1;
    }
    g_out = _wfopen(argv[1], L"wb");
    if (g_out == nullptr) return 1;
    const std::wstring stopFile = argv[2];
    const DWORD limitMs = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
    for (int i = 4; i < argc; ++i) g_classes.push_back(argv[i]);
    ::CoInitialize(nullptr);
    const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
    HWINEVENTHOOK hooks[] = {
        ::SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, OnEvent, 0, 0, flags),
        ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnEvent, 0, 0, flags),
        ::SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_REORDER, nullptr, OnEvent, 0, 0, flags),
        ::SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnEvent, 0, 0, flags),
        ::SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE, nullptr, OnEvent, 0, 0, flags)};
    for (HWINEVENTHOOK h : hooks) {
        if (h == nullptr) {
            Write(L"SetWinEventHook failed");
            return 2;
        }
    }
    Write(L"listening");
    const DWORD start = ::GetTickCount();
    // Out-of-context events arrive through this thread's message queue.
    while (::GetTickCount() - start < limitMs && ::GetFileAttributesW(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ReportQueued();
    }
    for (HWINEVENTHOOK h : hooks) ::UnhookWinEvent(h);
    Write(L"stopped");
    fclose(g_out);
    return 0;
}
