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
    auto file = std::make_shared<kv::UniqueKernelHandle>(::CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(length);
    if (*file && ::SetFilePointerEx(file->get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file->get())) return file;
    if (error) *error = ::GetLastError();
    FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]打开错误 %d:%d", 1,
                                 static_cast<int>(::GetLastError()));
    return nullptr;
}

RangeWriteFile::RangeWriteFile(SharedFile file, std::shared_ptr<RangeCursor> cursor)
    : file_(std::move(file)), cursor_(std::move(cursor)) {}

RangeWriteFile::~RangeWriteFile() { Close(); }

int32_t RangeWriteFile::Write(const void* data, uint32_t count) {
    if (!file_ || !*file_) {
        SetLastError(kNotOpen, 3);
        return -1;
    }
    const uint64_t position = cursor_->position.load();
    const uint64_t end = cursor_->end.load();
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count, end > position ? end - position : 0));
    const auto* bytes = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < take) {
        // A positioned write: every connection keeps to its own offsets in
        // the one handle, whatever the others do.
        OVERLAPPED at{};
        const uint64_t offset = position + done;
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD wrote = 0;
        if (!::WriteFile(file_->get(), bytes + done, take - done, &wrote, &at) || wrote == 0) {
            const int32_t code = static_cast<int32_t>(::GetLastError());
            ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]写入错误:%d", code);
            FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[RangeWriteFile]写入错误 %d:%d", 1, code);
            cursor_->position.store(offset);
            SetLastError(code, 1);
            return -1;
        }
        done += wrote;
    }
    cursor_->position.store(position + take);
    return static_cast<int32_t>(take);
}

void RangeWriteFile::Close() {
    file_.reset();
    lastError = 0;
}
