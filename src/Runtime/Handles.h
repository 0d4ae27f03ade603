#pragma once
// Move-only owners of Win32 and library handles. Every wrapper treats both
// NULL and INVALID_HANDLE_VALUE as "empty", so the same wrapper serves
// CreateFile and OpenProcess style APIs alike.
#include <winsock2.h>
#include <windows.h>

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

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

struct WindowTraits {
    using Type = HWND;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::DestroyWindow(h); }
};

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};

struct MemoryDcTraits {
    using Type = HDC;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};

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

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueWsaEvent = UniqueHandle<EventTraits>;

}  // namespace kv
