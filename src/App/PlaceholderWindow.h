#pragma once
// A plain stand-in for the installer window until the skinned window exists:
// 540 x 355, closes on a click or Escape and then ends the message loop.
// Main thread only.
#include <windows.h>

class PlaceholderWindow {
public:
    bool Create(HINSTANCE instance, const wchar_t* title);
    HWND Handle() const { return hwnd_; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void Paint();

    HWND hwnd_ = nullptr;
};
