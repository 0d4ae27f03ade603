#pragma once
// Builds a control tree from markup: reads the Window element's settings
// and fonts into the paint manager, then creates the controls. Malformed
// markup gives null; unknown elements are skipped with a log line.
// Main thread only.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Ui/UiDefs.h"

class CControlUI;
class CPaintManagerUI;

class CDialogBuilder {
public:
    // Cap on the nesting depth of controls.
    static constexpr int kMaxDepth = 64;

    // Loads `skinFile` from the skin package and builds it.
    CControlUI* Create(const std::wstring& skinFile, IDialogBuilderCallback* callback, CPaintManagerUI* manager);
    // Builds from markup bytes (UTF-8, with or without a byte-order mark).
    CControlUI* CreateFromBuffer(const uint8_t* data, size_t size, IDialogBuilderCallback* callback,
                                 CPaintManagerUI* manager);

    // A control of the framework's own classes by element name; null if unknown.
    static CControlUI* CreateBuiltinControl(const wchar_t* element);
};
