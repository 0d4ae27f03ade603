#pragma once
// Test helpers that run the calling thread's message loop, so that posted
// main-thread tasks and timers fire inside a test.
#include <windows.h>

#include <functional>
#include <string>

// Pumps messages until `done` returns true or `timeoutMs` passes; returns done().
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Pumps messages for the given time.
void PumpMessagesFor(DWORD ms);

// A fresh, empty folder under %TEMP%, removed with its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Reads a whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::wstring& path);
