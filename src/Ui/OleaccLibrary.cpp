#include "Ui/OleaccLibrary.h"

namespace {
using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, IUnknown*);
using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);

bool g_tried = false;
LresultFromObjectFn g_lresultFromObject = nullptr;
CreateStdAccessibleObjectFn g_createStdObject = nullptr;

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}
}  // namespace

// One attempt per process, only from the system folder: a copy beside the
// installer (the user's Downloads) is never considered. The module stays
// loaded for the rest of the run.
void COleaccLibrary::Load() {
    if (g_tried) return;
    g_tried = true;
    HMODULE module = ::LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return;
    g_lresultFromObject = Lookup<LresultFromObjectFn>(module, "LresultFromObject");
    g_createStdObject = Lookup<CreateStdAccessibleObjectFn>(module, "CreateStdAccessibleObject");
}

bool COleaccLibrary::Available() {
    Load();
    return g_lresultFromObject != nullptr;
}

LRESULT COleaccLibrary::ResultFromObject(REFIID riid, WPARAM wParam, IUnknown* object) {
    Load();
    if (g_lresultFromObject == nullptr || object == nullptr) return 0;
    const LRESULT r = g_lresultFromObject(riid, wParam, object);
    // A failure comes back as an HRESULT in the low 32 bits, not a reference.
    return FAILED(static_cast<HRESULT>(r)) ? 0 : r;
}

HRESULT COleaccLibrary::CreateStdObject(HWND hwnd, LONG idObject, REFIID riid, void** out) {
    if (out) *out = nullptr;
    Load();
    if (g_createStdObject == nullptr || out == nullptr) return E_NOTIMPL;
    return g_createStdObject(hwnd, idObject, riid, out);
}
