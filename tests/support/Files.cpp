#include "support/Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Runtime/FileSystem.h"
#include "Runtime/Handles.h"

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"kvtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(counter++);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { DeleteDirectoryTree(path_ + L"\\"); }

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr) {
        ADD_FAILURE() << "cannot write " << std::string(path.begin(), path.end());
        return;
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        ADD_FAILURE() << "short write to " << std::string(path.begin(), path.end());
    }
    std::fclose(f);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int64_t FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string TestBytes(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 251 + seed * 7) % 253);
    return s;
}
