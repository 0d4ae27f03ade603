#pragma once
// One installer at a time on the machine: a named mutex in the global
// namespace that only administrators can hold, held for the life of the
// process, and the way a second installer shows the user the first one.
// Main thread only.
#include <windows.h>

#include "Runtime/Handles.h"

constexpr wchar_t kInstallerMutexName[] = L"Global\\KorvelQixarInstaller.OneAtATime";

class CSingleInstance {
public:
    enum class State {
        kFirst,           // this process holds the name now
        kAnotherRunning,  // another installer (of any session) holds it
        kUnguarded,       // no name of the series could be taken: the run goes on unguarded
    };
    // Takes the name (once), in the global namespace so that installers in
    // other sessions on the machine count too. A name that exists but is not
    // owned by Administrators or SYSTEM was made by someone else to block
    // installers: it is ignored and the next of kSeriesLength names tried.
    State Acquire(const wchar_t* name = kInstallerMutexName);

    static constexpr int kSeriesLength = 4;

private:
    kv::UniqueKernelHandle mutex_;
};

// Shows the running installer's window at the front (restored when
// minimised; its open message box, if any, in front of it). False when no
// installer window exists, as with an unattended run.
bool BringRunningInstallerToFront();
