#pragma once
// oleacc.dll, loaded from the system folder at first use (it is not one of
// the DLLs the installer may import statically). Without it every call
// fails softly and the window keeps the system's default answer.
// Main thread only.
#include <windows.h>
#include <unknwn.h>

class COleaccLibrary {
public:
    // Null-safe: false/0 when oleacc.dll or the function is missing.
    static bool Available();
    // LresultFromObject: the reference a WM_GETOBJECT answer carries; 0 on failure.
    static LRESULT ResultFromObject(REFIID riid, WPARAM wParam, IUnknown* object);
    // CreateStdAccessibleObject: the system's object for a part of a window.
    static HRESULT CreateStdObject(HWND hwnd, LONG idObject, REFIID riid, void** out);

private:
    static void Load();
};
