#include "Runtime/FileEx.h"

namespace {

[[noreturn]] void ThrowLastError(const std::wstring& message = std::wstring()) {
    CFileExException e;
    e.code = static_cast<int32_t>(::GetLastError());
    e.message = message;
    throw e;
}

DWORD AccessFromFlags(uint32_t flags) {
    switch (flags & 0x3) {
        case CFileEx::ModeRead: return GENERIC_READ;
        case CFileEx::ModeWrite: return GENERIC_WRITE;
        case CFileEx::ModeReadWrite: return GENERIC_READ | GENERIC_WRITE;
        default: return 0;  // access field 3: no rights requested
    }
}

DWORD ShareFromFlags(uint32_t flags) {
    switch (flags & 0x70) {
        case CFileEx::ShareDenyWrite: return FILE_SHARE_READ;
        case CFileEx::ShareDenyRead: return FILE_SHARE_WRITE;
        case CFileEx::ShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default: return 0;  // 0x00, ShareExclusive and the unused values 0x50..0x70
    }
}

DWORD CreationFromFlags(uint32_t flags) {
    if (!(flags & CFileEx::ModeCreate)) return OPEN_EXISTING;
    return (flags & CFileEx::ModeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

}  // namespace

CFileEx::~CFileEx() {
    if (IsOpen() && closeOnDelete_) {
        // A destructor must not throw; a failed close has nothing left to tell.
        try {
            Close();
        } catch (const CFileExException&) {
        }
    }
}

bool CFileEx::Open(const std::wstring& path, uint32_t flags, CFileExException* error) {
    closeOnDelete_ = false;
    handle_ = INVALID_HANDLE_VALUE;
    flags &= ~static_cast<uint32_t>(TypeBinary);
    fileName_ = path;

    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = (flags & ModeNoInherit) ? FALSE : TRUE;

    HANDLE h = ::CreateFileW(path.c_str(), AccessFromFlags(flags), ShareFromFlags(flags), &sa,
                             CreationFromFlags(flags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) {
            error->code = static_cast<int32_t>(::GetLastError());
            error->message = L"INVALID_HANDLE_VALUE";
        }
        return false;
    }
    handle_ = h;
    closeOnDelete_ = true;
    return true;
}

uint32_t CFileEx::Seek(int32_t offset, uint32_t origin) {
    const DWORD pos = ::SetFilePointer(handle_, offset, nullptr, origin);
    if (pos == INVALID_SET_FILE_POINTER) ThrowLastError();
    return pos;
}

uint32_t CFileEx::GetPosition() { return Seek(0, FILE_CURRENT); }

uint32_t CFileEx::GetLength() { return Seek(0, FILE_END); }

void CFileEx::SetLength(uint32_t length) {
    Seek(static_cast<int32_t>(length), FILE_BEGIN);
    if (!::SetEndOfFile(handle_)) ThrowLastError();
}

uint32_t CFileEx::Read(void* buffer, uint32_t count) {
    if (count == 0) return 0;
    DWORD read = 0;
    if (!::ReadFile(handle_, buffer, count, &read, nullptr)) ThrowLastError();
    return read;
}

void CFileEx::Write(const void* buffer, uint32_t count) {
    if (count == 0) return;
    DWORD written = 0;
    if (!::WriteFile(handle_, buffer, count, &written, nullptr)) ThrowLastError(fileName_);
    if (written < count) {
        CFileExException e;
        e.code = kShortWrite;
        e.message = fileName_;
        throw e;
    }
}

void CFileEx::Flush() {
    if (!IsOpen()) return;
    if (!::FlushFileBuffers(handle_)) ThrowLastError();
}

void CFileEx::Close() {
    bool failed = false;
    DWORD code = 0;
    if (IsOpen()) {
        failed = !::CloseHandle(handle_);
        if (failed) code = ::GetLastError();
    }
    handle_ = INVALID_HANDLE_VALUE;
    closeOnDelete_ = false;
    fileName_.clear();
    if (failed) {
        ::SetLastError(code);
        ThrowLastError();
    }
}

void CFileEx::Abort() {
    if (IsOpen()) {
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    fileName_.clear();
}
