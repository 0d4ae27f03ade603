#pragma once
// A window object bound to its HWND: class registration, creation, modal
// run, close with a result, centring. `this` is bound at WM_NCCREATE and
// released at WM_NCDESTROY, after which OnFinalMessage runs.
// Main thread only.
#include <windows.h>

class CWindowWnd {
public:
    CWindowWnd() = default;
    virtual ~CWindowWnd() = default;
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    HWND Create(HWND parent, const wchar_t* name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT);
    void ShowWindow(bool show = true, bool takeFocus = true);
    // Runs a modal loop (the owner disabled) until the window is destroyed;
    // returns the result given to Close, IDCANCEL for a window that went
    // without a result (a close carrying 0, a direct destroy). The owner is
    // enabled again before the window disappears (hidden or destroyed), on
    // every path, so that the system hands activation back to it. The
    // object may be gone afterwards.
    UINT ShowModal();
    // Posts WM_CLOSE carrying the result.
    void Close(UINT result = IDOK);
    void CenterWindow();
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0);
    LRESULT PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0);

    static HINSTANCE GetResourceInstance();
    static void SetResourceInstance(HINSTANCE instance);

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    virtual void OnFinalMessage(HWND hwnd);
    // Remembers the result of a WM_CLOSE for a running modal loop.
    void NoteCloseResult(WPARAM result);

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool RegisterWindowClass();

    // Enables the owner of a running modal loop once.
    void ReleaseModalOwner();

    UINT* modalResult_ = nullptr;
    HWND modalOwner_ = nullptr;
};
