#pragma once
// CFileEx: a Windows file handle opened from mode flags, with unbuffered
// reads and writes at 32-bit positions. Open reports failure by its result;
// every other failing call throws CFileExException. One owner thread at a time.
#include <windows.h>

#include <cstdint>
#include <string>

// Thrown by value; also Open's optional error record.
struct CFileExException {
    std::wstring message;  // the file name for write errors, "" otherwise
    int32_t code = 0;      // GetLastError() of the failed call, or kShortWrite
};

class CFileEx {
public:
    enum OpenFlags : uint32_t {
        ModeRead = 0x0000,
        ModeWrite = 0x0001,
        ModeReadWrite = 0x0002,
        ShareExclusive = 0x0010,
        ShareDenyWrite = 0x0020,
        ShareDenyRead = 0x0030,
        ShareDenyNone = 0x0040,
        ModeNoInherit = 0x0080,
        ModeCreate = 0x1000,
        ModeNoTruncate = 0x2000,
        TypeBinary = 0x8000,
    };
    // Exception code of a WriteFile call that wrote fewer bytes than asked.
    static constexpr int32_t kShortWrite = -12;

    CFileEx() = default;
    CFileEx(const CFileEx&) = delete;
    CFileEx& operator=(const CFileEx&) = delete;

    // Positions are 32-bit: a position of 0xFFFFFFFF reads as a failure.
    virtual uint32_t GetPosition();
    // Never throws; on failure fills *error (if given) and returns false.
    // Does not close a file that is already open: callers close first.
    virtual bool Open(const std::wstring& path, uint32_t flags, CFileExException* error = nullptr);
    virtual uint32_t Seek(int32_t offset, uint32_t origin);
    virtual void SetLength(uint32_t length);
    virtual uint32_t GetLength();  // leaves the position at the end
    virtual uint32_t Read(void* buffer, uint32_t count);
    virtual void Write(const void* buffer, uint32_t count);
    virtual void Abort();  // never throws
    virtual void Flush();
    virtual void Close();  // resets the fields even when it throws
    virtual ~CFileEx();

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    const std::wstring& GetFileName() const { return fileName_; }

protected:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool closeOnDelete_ = false;
    std::wstring fileName_;
};
