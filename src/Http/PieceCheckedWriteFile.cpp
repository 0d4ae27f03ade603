#include "Http/PieceCheckedWriteFile.h"

#include <windows.h>

#include <algorithm>

#include "Http/HttpResultCodes.h"
#include "Runtime/Handles.h"

void PieceCheckedWriteFile::Prime() {
    offset_ = OpenedSize();
    hasher_.Forget();
    // A handle of its own for reading: the sink's handle keeps its position at the end.
    kv::UniqueKernelHandle file(::CreateFileW(Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) hasher_.Prime(file.get(), offset_);
}

int32_t PieceCheckedWriteFile::Write(const void* data, uint32_t count) {
    // Hashed before the bytes land: a bad piece never completes in the file.
    // Bytes past the package's end are the base's to take or refuse; the
    // task checks the length.
    const bool good = hasher_.Feed(offset_, static_cast<const char*>(data), count);
    const uint64_t badStart = std::max(offset_, hasher_.Pieces().PieceStart(hasher_.BadPiece()));
    const uint32_t take = good ? count : static_cast<uint32_t>(badStart - offset_);
    if (take > 0 && DownloadWriteFile::Write(data, take) < 0) return -1;
    offset_ += take;
    if (good) return static_cast<int32_t>(count);
    SetLastError(kPieceMismatch.code, kPieceMismatch.type);
    return -1;
}

void PieceCheckedWriteFile::Reset() {
    DownloadWriteFile::Reset();
    offset_ = 0;
    hasher_.Forget();
}
