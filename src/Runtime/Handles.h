#pragma once
// Move-only owners of Win32 and library handles: every handle the program
// opens is held by one of these from the call that returns it, so no early
// return can leak it. Kernel-style handles treat both NULL and
// INVALID_HANDLE_VALUE as "empty", so the same wrapper serves CreateFile and
// OpenProcess style APIs alike. Any thread; one owner per handle.
#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>

#include <utility>

namespace kv {

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type value) : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const { return value_; }
    bool valid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return valid(); }
    // For APIs that return the handle through an out-parameter; releases
    // the one held first.
    Type* put() {
        reset();
        return &value_;
    }

    Type release() {
        Type v = value_;
        value_ = Traits::Empty();
        return v;
    }
    void reset(Type value = Traits::Empty()) {
        if (Traits::IsValid(value_)) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Empty();
};

// A handle that is empty when null and released by one call.
template <typename T, auto CloseFn>
struct NullEmptyTraits {
    using Type = T;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { CloseFn(h); }
};

// A kernel-style HANDLE: NULL and INVALID_HANDLE_VALUE are both empty.
template <auto CloseFn>
struct KernelTraits : NullEmptyTraits<HANDLE, CloseFn> {
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

inline void ReleaseScreenDc(HDC dc) { ::ReleaseDC(nullptr, dc); }
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }

struct SocketTraits {
    using Type = SOCKET;
    static Type Empty() { return INVALID_SOCKET; }
    static bool IsValid(Type s) { return s != INVALID_SOCKET; }
    static void Close(Type s) { ::closesocket(s); }
};

struct EventTraits {
    using Type = WSAEVENT;
    static Type Empty() { return WSA_INVALID_EVENT; }
    static bool IsValid(Type h) { return h != WSA_INVALID_EVENT && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::WSACloseEvent(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelTraits<&::CloseHandle>>;
using UniqueFind = UniqueHandle<KernelTraits<&::FindClose>>;
using UniqueRegKey = UniqueHandle<NullEmptyTraits<HKEY, &::RegCloseKey>>;
using UniqueLibrary = UniqueHandle<NullEmptyTraits<HMODULE, &::FreeLibrary>>;
using UniqueWindow = UniqueHandle<NullEmptyTraits<HWND, &::DestroyWindow>>;
template <typename T = HGDIOBJ>
using UniqueGdi = UniqueHandle<NullEmptyTraits<T, &::DeleteObject>>;
using UniqueGdiObject = UniqueGdi<>;
using UniqueFont = UniqueGdi<HFONT>;
using UniqueBrush = UniqueGdi<HBRUSH>;
using UniqueRegion = UniqueGdi<HRGN>;
using UniqueMemoryDc = UniqueHandle<NullEmptyTraits<HDC, &::DeleteDC>>;
// The screen's DC from GetDC(nullptr).
using UniqueScreenDc = UniqueHandle<NullEmptyTraits<HDC, &ReleaseScreenDc>>;
using UniqueCoTaskMem = UniqueHandle<NullEmptyTraits<void*, &::CoTaskMemFree>>;
using UniqueGlobalMem = UniqueHandle<NullEmptyTraits<HGLOBAL, &::GlobalFree>>;
using UniqueAlgorithm = UniqueHandle<NullEmptyTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithm>>;
using UniqueHash = UniqueHandle<NullEmptyTraits<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;
using UniqueKey = UniqueHandle<NullEmptyTraits<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueWsaEvent = UniqueHandle<EventTraits>;

}  // namespace kv
