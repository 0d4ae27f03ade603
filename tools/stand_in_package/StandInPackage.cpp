// Stand-in for the installer package "kvinstaller.exe": run as
//   kvinstaller-standin.exe /S "/unpack=<dir>" /launch=off
// it creates <dir> and writes the stand-in launcher carried in its resources
// there as "KorvelLauncher.exe", and the folder it was run in (its current
// directory) as "package-cwd.txt" (UTF-16), then exits 0. Exit 2: no "/unpack=" argument;
// 3: the folder or the file cannot be written; 4: the resource is missing.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "StandInResources.h"

namespace {

std::wstring UnpackDir() {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring dir;
    const std::wstring key = L"/unpack=";
    for (int i = 1; args && i < count; ++i) {
        const std::wstring arg = args[i];
        if (arg.compare(0, key.size(), key) == 0) dir = arg.substr(key.size());
    }
    if (args) ::LocalFree(args);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    return dir;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const std::wstring dir = UnpackDir();
    if (dir.empty()) return 2;
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(kStandInLauncherResource), RT_RCDATA);
    HGLOBAL loaded = found ? ::LoadResource(instance, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = found ? ::SizeofResource(instance, found) : 0;
    if (!bytes || size == 0) return 4;

    const int created = ::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) return 3;
    const std::wstring target = dir + L"\\KorvelLauncher.exe";
    HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes, size, &written, nullptr) && written == size;
    ::CloseHandle(file);
    wchar_t cwd[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, cwd);
    file = ::CreateFileW((dir + L"\\package-cwd.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = ok && file != INVALID_HANDLE_VALUE && ::WriteFile(file, cwd, length * sizeof(wchar_t), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return ok ? 0 : 3;
}
