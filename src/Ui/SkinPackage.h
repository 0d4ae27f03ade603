#pragma once
// The process-wide skin package: the zip archive carried as resource
// "ZIPRES" 150, copied into one buffer on first use and read by file name.
// Main thread only.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Ui/ZipArchive.h"

class CSkinPackage {
public:
    static constexpr int kResourceId = 150;
    static constexpr wchar_t kResourceType[] = L"ZIPRES";

    static CSkinPackage& Instance();

    // The module whose resources hold the package (the program itself).
    void SetInstance(HINSTANCE instance) { instance_ = instance; }
    HINSTANCE GetInstance() const { return instance_; }

    // Loads the package from the resource unless it is already open.
    bool EnsureOpen();
    // Opens a package from caller-supplied bytes (copied); replaces any open one.
    bool OpenFromBytes(const void* data, size_t size);
    bool IsOpen() const { return archive_.IsOpen(); }
    // Reads one file of the package; false when the package or the file is
    // unavailable or damaged.
    bool ReadFile(const std::wstring& name, std::vector<uint8_t>& out);
    // The names of the package's files; empty when it cannot be opened.
    std::vector<std::wstring> Names();
    // Drops the archive and its buffer; the next EnsureOpen loads them again.
    void Close();

private:
    CSkinPackage() = default;

    HINSTANCE instance_ = nullptr;
    std::vector<uint8_t> buffer_;
    CZipArchive archive_;
};
