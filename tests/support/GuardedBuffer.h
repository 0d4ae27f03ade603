#pragma once
// Input for parser tests that ends right at an inaccessible guard page, so a
// read of even one byte past the end traps and is counted instead of passing
// unseen. A trap is recorded, the page opened so the instruction can finish,
// and Rearm() closes it again. One buffer at a time; the test's thread.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class GuardedBuffer {
public:
    // Room for `capacity` bytes (rounded up to whole pages) before the guard.
    explicit GuardedBuffer(size_t capacity = 4096);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    bool Ready() const { return base_ != nullptr && handler_ != nullptr; }
    size_t Capacity() const { return size_; }
    // Copies `bytes` so that their last byte is the last readable one;
    // null when they do not fit.
    const uint8_t* Place(const void* bytes, size_t size);
    const uint8_t* Place(const std::vector<uint8_t>& bytes) { return Place(bytes.data(), bytes.size()); }
    const wchar_t* Place(const std::wstring& text) {
        return reinterpret_cast<const wchar_t*>(Place(text.data(), text.size() * sizeof(wchar_t)));
    }
    void Rearm();
    int Traps() const { return traps_.load(); }

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* info);

    static GuardedBuffer* current_;
    size_t size_ = 0;
    size_t page_ = 0;
    uint8_t* base_ = nullptr;
    PVOID handler_ = nullptr;
    std::atomic<int> traps_{0};
};
