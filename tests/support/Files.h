#pragma once
// Files for the tests: a temporary folder, whole-file reads and writes and
// deterministic test bytes. A write that fails fails the calling test.
// Any thread.
#include <windows.h>

#include <cstdint>
#include <string>

// A fresh, empty folder under %TEMP%, removed with its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::wstring& path);
// Creates or replaces the file with exactly `bytes`.
void WriteBytes(const std::wstring& path, const std::string& bytes);
inline void WriteText(const std::wstring& path, const char* text) { WriteBytes(path, text); }
bool Exists(const std::wstring& path);
// The file's size; -1 when missing.
int64_t FileSizeOf(const std::wstring& path);
// Deterministic bytes that differ at every offset modulo a prime; `seed`
// gives another sequence of the same size.
std::string TestBytes(size_t size, unsigned seed = 1);
