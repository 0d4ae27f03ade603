#include "Http/DownloadWriteFile.h"

#include <windows.h>

#include "Http/HttpResultCodes.h"
#include "Runtime/Log.h"

namespace {
const wchar_t kLogFile[] = L".\\Http\\DownloadWriteFile";
}

bool DownloadWriteFile::AppendFile::SeekToEnd(uint64_t* size) {
    LARGE_INTEGER distance{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle_, distance, &position, FILE_END)) return false;
    if (size) *size = static_cast<uint64_t>(position.QuadPart);
    return true;
}

DownloadWriteFile::~DownloadWriteFile() { Close(); }

// The console and the file get different texts for the same failure; both
// carry the line of the call that met it.
void DownloadWriteFile::LogFileError(int32_t line, const wchar_t* what, int32_t code) {
    LogEvent(kToConsole, Error, line, kLogFile, L"[DownloadWriteFile]%s:%d", what, code);
    LogEvent(kToFile, Error, line, kLogFile, L"[DownloadWriteFile]%s %d:%d", what, 1, code);
}

bool DownloadWriteFile::Open(const std::wstring& path) {
    Close();
    lastError = 0;
    path_ = path;
    openedSize_ = 0;
    CFileExException error;
    const wchar_t* failed = L"打开错误";
    if (file_.Open(path, kOpenFlags, &error)) {
        if (file_.SeekToEnd(&openedSize_)) return true;
        error.code = static_cast<int32_t>(::GetLastError());
        failed = L"定位到文件末尾错误";
        file_.Abort();
    }
    LogFileError(__LINE__, failed, error.code);
    // Another program (a virus scanner, a second installer) holds the file:
    // that passes, unlike a folder that cannot take it.
    const bool locked = error.code == ERROR_SHARING_VIOLATION || error.code == ERROR_LOCK_VIOLATION;
    const HttpResult failure = locked ? kFileLocked : kSinkOpenFailed;
    SetLastError(failure.code, failure.type);
    return false;
}

int32_t DownloadWriteFile::Write(const void* data, uint32_t count) {
    if (!file_.IsOpen()) {
        SetLastError(kSinkNotOpen.code, kSinkNotOpen.type);
        return -1;
    }
    try {
        file_.Write(data, count);
    } catch (const CFileExException& e) {
        LogFileError(__LINE__, L"写入错误", e.code);
        SetLastError(e.code, kHttpErrorSys);
        return -1;
    }
    return static_cast<int32_t>(count);
}

void DownloadWriteFile::Close() {
    if (file_.IsOpen()) {
        try {
            file_.Close();
        } catch (const CFileExException& e) {
            // The handle is gone either way; nothing more can be done with it.
            LogFileError(__LINE__, L"关闭错误", e.code);
        }
    }
}

void DownloadWriteFile::Reset() {
    if (!file_.IsOpen()) {
        if (!path_.empty()) ::DeleteFileW(path_.c_str());
        return;
    }
    try {
        file_.SetLength(0);  // also moves the position to 0
    } catch (const CFileExException& e) {
        LogFileError(__LINE__, L"设置文件结尾错误", e.code);
        SetLastError(e.code, kHttpErrorSys);
    }
}
