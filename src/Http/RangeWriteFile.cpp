#include "Http/RangeWriteFile.h"

#include <windows.h>

#include <algorithm>

#include "Runtime/LogSinks.h"

namespace {
const wchar_t kLogFile[] = L".\\Http\\RangeWriteFile";
}

RangeWriteFile::SharedFile RangeWriteFile::OpenShared(const std::wstring& path, uint64_t length, uint32_t* error) {
    // As the single-stream sink: read and write, create when missing, never
    // truncate on open, deny other writers, not inherited.
    auto file = std::make_shared<RangeFileHandle>();
    file->handle.reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(length);
    if (file->handle && ::SetFilePointerEx(file->handle.get(), size, nullptr, FILE_BEGIN) &&
        ::SetEndOfFile(file->handle.get())) {
        return file;
    }
    if (error) *error = ::GetLastError();
    FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]打开错误 %d:%d", 1,
                                 static_cast<int>(::GetLastError()));
    return nullptr;
}

RangeWriteFile::RangeWriteFile(SharedFile file, std::shared_ptr<RangeCursor> cursor)
    : file_(std::move(file)), cursor_(std::move(cursor)) {}

RangeWriteFile::~RangeWriteFile() { Close(); }

int32_t RangeWriteFile::Write(const void* data, uint32_t count) {
    if (!file_ || !file_->handle) {
        SetLastError(kNotOpen, 3);
        return -1;
    }
    const uint64_t position = cursor_->position.load();
    const uint64_t end = cursor_->end.load();
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count, end > position ? end - position : 0));
    const auto* bytes = static_cast<const char*>(data);
    uint32_t done = 0;
    bool failed = false;
    if (take > 0) {
        // A move of the file pointer and a plain write: the same as a write
        // at an offset, and several times cheaper under Wine, which serves
        // an offset write through its server.
        CScopedLock lock(file_->lock);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(position);
        failed = !::SetFilePointerEx(file_->handle.get(), at, nullptr, FILE_BEGIN);
        while (!failed && done < take) {
            DWORD wrote = 0;
            failed = !::WriteFile(file_->handle.get(), bytes + done, take - done, &wrote, nullptr) || wrote == 0;
            done += wrote;
        }
    }
    cursor_->position.store(position + done);
    if (failed) {
        const int32_t code = static_cast<int32_t>(::GetLastError());
        ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]写入错误:%d", code);
        FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]写入错误 %d:%d", 1, code);
        SetLastError(code, 1);
        return -1;
    }
    return static_cast<int32_t>(take);
}

void RangeWriteFile::Close() {
    file_.reset();
    lastError = 0;
}
