#pragma once
// DownloadWriteFile: the file sink of a download. Open() appends to the file
// (creating it when missing, never truncating it); Reset() empties it. Errors
// are kept in lastError until the next Open, past Close (the task reads them
// after the transfer has let go of the file): kFileLocked or kSinkOpenFailed,
// kSinkNotOpen, or (1, the system code or kSinkShortWrite's) for a failed
// write or reset (Http/HttpResultCodes.h). Used
// by one thread at a time (the transfer serialises its calls under its
// stream lock).
#include <cstdint>
#include <string>

#include "Runtime/ByteStream.h"
#include "Runtime/FileEx.h"

class DownloadWriteFile : public OBaseStream {
public:
    // Read and write, create when missing, never truncate, deny other
    // writers, not inherited, binary.
    static constexpr uint32_t kOpenFlags = CFileEx::ModeReadWrite | CFileEx::ModeCreate | CFileEx::ModeNoTruncate |
                                           CFileEx::ShareDenyWrite | CFileEx::ModeNoInherit | CFileEx::TypeBinary;

    DownloadWriteFile() = default;
    ~DownloadWriteFile() override;

    // Closes any open file, forgets the last error, then opens `path` with
    // the next write at its end.
    bool Open(const std::wstring& path);
    int32_t Write(const void* data, uint32_t count) override;
    void Close() override;
    void Reset() override;

    bool IsOpen() const { return file_.IsOpen(); }
    const std::wstring& Path() const { return path_; }
    // Size of the file when it was opened (64-bit; valid after a successful Open).
    uint64_t OpenedSize() const { return openedSize_; }

private:
    // CFileEx keeps 32-bit positions; the sink only needs a 64-bit move to the
    // end so that appending works for files of any size.
    class AppendFile : public CFileEx {
    public:
        bool SeekToEnd(uint64_t* size);
    };

    // `what` names the operation that failed (open, write...).
    void LogFileError(int32_t line, const wchar_t* what, int32_t code);

    std::wstring path_;
    AppendFile file_;
    uint64_t openedSize_ = 0;
};
