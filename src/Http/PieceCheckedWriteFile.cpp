#include "Http/PieceCheckedWriteFile.h"

#include <windows.h>

#include <algorithm>

#include "Http/HttpResultCodes.h"
#include "Runtime/Handles.h"

void PieceCheckedWriteFile::Prime() {
    offset_ = OpenedSize();
    hashing_ = false;
    const uint64_t start = pieces_->AlignDown(offset_);
    hash_.Reset();
    // A handle of its own for reading: the sink's handle keeps its position at the end.
    kv::UniqueKernelHandle file(::CreateFileW(Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    hashing_ = file && CPieceDigests::HashFile(file.get(), start, offset_, &hash_);
}

int32_t PieceCheckedWriteFile::Write(const void* data, uint32_t count) {
    const char* bytes = static_cast<const char*>(data);
    for (uint32_t left = count; left > 0;) {
        // Bytes past the package's end are the base's to take or refuse;
        // the task checks the length.
        if (offset_ >= pieces_->Total()) return DownloadWriteFile::Write(bytes, left) < 0 ? -1 : static_cast<int32_t>(count);
        const size_t index = pieces_->IndexOf(offset_);
        const uint64_t end = pieces_->PieceEnd(index);
        const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(left, end - offset_));
        if (offset_ == pieces_->PieceStart(index)) {
            hash_.Reset();
            hashing_ = true;
        }
        if (hashing_) hash_.Update(bytes, take);
        if (hashing_ && offset_ + take == end) {
            // Checked before its last bytes land: a bad piece never completes in the file.
            if (!pieces_->Matches(index, &hash_)) {
                SetLastError(kPieceMismatch.code, kPieceMismatch.type);
                return -1;
            }
        }
        if (DownloadWriteFile::Write(bytes, take) < 0) return -1;
        offset_ += take;
        bytes += take;
        left -= take;
    }
    return static_cast<int32_t>(count);
}

void PieceCheckedWriteFile::Reset() {
    DownloadWriteFile::Reset();
    offset_ = 0;
    hashing_ = false;
}
