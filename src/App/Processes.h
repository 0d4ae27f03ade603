#pragma once
// Starting programs and finding running ones, and the quoting of their
// command lines. Free functions; any thread (they share no state).
#include <windows.h>

#include <string>

// 0, or the system error code of a failed start. Never waits; the handles in
// `out` (when given) are already closed, only the ids are meaningful.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine,
                   PROCESS_INFORMATION* out = nullptr);
// Starts the program and waits for its end (by default without a time limit);
// 0, the system error code of a failed start, or WAIT_TIMEOUT when the
// program still runs after timeoutMs (it is left running, or with
// `endOnTimeout` ended). With 0, the program's own exit code goes to
// `exitCode` when given. `currentDir` empty: this process's own.
DWORD RunAndWait(const std::wstring& program, const std::wstring& commandLine, DWORD timeoutMs = INFINITE,
                 DWORD* exitCode = nullptr, bool endOnTimeout = false, const std::wstring& currentDir = L"");
// A process (not this one) whose main module lies inside `folder`: the path is
// compared case-insensitively with the folder followed by a separator, so
// "C:\Games\Korvel2\x.exe" does not match "C:\Games\Korvel". 0 when none.
DWORD FindProcessInFolder(const std::wstring& folder);
// A program path as the first word of a command line: quoted when it
// contains a blank, so that "C:\Program Files\..." stays one word (a file
// name holds no quote).
std::wstring QuoteProgramPath(const std::wstring& path);
// One argument in quotes, such that CommandLineToArgvW gives it back
// unchanged: a quote inside is escaped, and the backslashes before it and
// before the closing quote are doubled: D:\Q\ becomes "D:\Q\\".
std::wstring QuoteArgument(const std::wstring& argument);
