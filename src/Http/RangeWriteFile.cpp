#include "Http/RangeWriteFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "Http/HttpResultCodes.h"
#include "Http/PieceHasher.h"
#include "Runtime/Log.h"

namespace {
const wchar_t kLogFile[] = L".\\Http\\RangeWriteFile";
}

RangeWriteFile::SharedFile RangeWriteFile::OpenShared(const std::wstring& path, uint64_t length, uint32_t* error) {
    // As the single-stream sink: read and write, create when missing, never
    // truncate on open, deny other writers, not inherited.
    auto file = std::make_shared<RangeFileHandle>();
    file->handle.reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    const wchar_t* failed = L"打开错误";
    if (file->handle) {
        LARGE_INTEGER size;
        size.QuadPart = static_cast<LONGLONG>(length);
        if (::SetFilePointerEx(file->handle.get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file->handle.get())) {
            return file;
        }
        failed = L"设置文件结尾错误";
    }
    const DWORD code = ::GetLastError();
    if (error) *error = code;
    KV_LOG(kToFile, Error, L"[RangeWriteFile]%s %d:%d", failed, 1, static_cast<int>(code));
    return nullptr;
}

RangeWriteFile::RangeWriteFile(SharedFile file, std::shared_ptr<RangeCursor> cursor)
    : file_(std::move(file)), cursor_(std::move(cursor)) {}

RangeWriteFile::~RangeWriteFile() { Close(); }

void RangeWriteFile::CheckPieces(std::shared_ptr<const CPieceDigests> pieces) {
    hasher_.reset(pieces ? new CPieceHasher(std::move(pieces)) : nullptr);
}

int32_t RangeWriteFile::Write(const void* data, uint32_t count) {
    // After a failed write the gathered bytes are gone, and what follows
    // would land at the wrong offset: nothing more is taken.
    if (!file_ || !file_->handle || failed_) {
        if (!failed_) SetLastError(kSinkNotOpen.code, kSinkNotOpen.type);
        return -1;
    }
    const uint64_t next = cursor_->position.load() + gathered_;
    const uint64_t end = cursor_->end.load();
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count, end > next ? end - next : 0));
    if (!gather_) gather_.reset(new char[kGatherBytes]);
    const auto* bytes = static_cast<const char*>(data);
    for (uint32_t left = take; left > 0;) {
        const uint32_t piece = std::min(left, kGatherBytes - gathered_);
        std::memcpy(gather_.get() + gathered_, bytes, piece);
        gathered_ += piece;
        bytes += piece;
        left -= piece;
        if (gathered_ == kGatherBytes && !Flush()) return -1;
    }
    // The range ends here (the short count stops the transfer) or is
    // complete: its last bytes go to the file now.
    if ((take < count || next + take >= end) && !Flush()) return -1;
    return static_cast<int32_t>(take);
}

bool RangeWriteFile::Flush() {
    if (gathered_ == 0 || failed_) return !failed_;
    if (!file_ || !file_->handle) {
        SetLastError(kSinkNotOpen.code, kSinkNotOpen.type);
        failed_ = true;
        return false;
    }
    const uint64_t position = cursor_->position.load();
    uint32_t done = 0;
    bool failed = false;
    {
        // The end is read under the file's lock, which a hand-over holds to
        // lower it: once the new owner has its range, no byte of the old
        // owner's lands in it. What lies past the end is dropped.
        CScopedLock lock(file_->lock);
        const uint64_t end = cursor_->end.load();
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(gathered_, end > position ? end - position : 0));
        // A move of the file pointer and a plain write: the same as a write
        // at an offset, and several times cheaper under Wine, which serves
        // an offset write through its server.
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(position);
        failed = length > 0 && !::SetFilePointerEx(file_->handle.get(), at, nullptr, FILE_BEGIN);
        while (!failed && done < length) {
            DWORD wrote = 0;
            failed = !::WriteFile(file_->handle.get(), gather_.get() + done, length - done, &wrote, nullptr) || wrote == 0;
            done += wrote;
        }
    }
    gathered_ = 0;
    if (!failed && hasher_) {
        const bool good = hasher_->Feed(position, gather_.get(), done);
        if (hasher_->Kept() != 0) cursor_->kept.store(hasher_->Kept());
        if (!good) {
            // Its bytes are written again from the piece's start, by another source.
            cursor_->badPiece.store(hasher_->BadPiece() + 1);
            cursor_->position.store(hasher_->Pieces().PieceStart(hasher_->BadPiece()));
            failed_ = true;
            SetLastError(kPieceMismatch.code, kPieceMismatch.type);
            return false;
        }
    }
    // Only what reached the file counts as written.
    cursor_->position.store(position + done);
    if (!hasher_) cursor_->kept.store(position + done);
    if (!failed) return true;
    failed_ = true;
    const int32_t code = static_cast<int32_t>(::GetLastError());
    KV_LOG(kToConsole, Error, L"[RangeWriteFile]写入错误:%d", code);
    KV_LOG(kToFile, Error, L"[RangeWriteFile]写入错误 %d:%d", 1, code);
    SetLastError(code, kHttpErrorSys);
    return false;
}

void RangeWriteFile::Close() {
    Flush();
    file_.reset();
    gather_.reset();
}
