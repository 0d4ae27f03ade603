#pragma once
// One installer at a time on the machine: a named mutex in the global
// namespace, held for the life of the process, and the way a second
// installer shows the user the first one. Main thread only.
#include <windows.h>

#include "Runtime/Handles.h"

constexpr wchar_t kInstallerMutexName[] = L"Global\\KorvelQixarInstaller.OneAtATime";

class CSingleInstance {
public:
    enum class State {
        kFirst,           // this process holds the name now
        kAnotherRunning,  // another installer (of any user) holds it
        kUnguarded,       // the mutex could not be made: the run goes on unguarded
    };
    // Takes the name (once), in the global namespace so that installers in
    // other sessions on the machine count too.
    State Acquire(const wchar_t* name = kInstallerMutexName);

private:
    kv::UniqueKernelHandle mutex_;
};

// Shows the running installer's window at the front (restored when
// minimised; its open message box, if any, in front of it). False when no
// installer window exists, as with an unattended run.
bool BringRunningInstallerToFront();
