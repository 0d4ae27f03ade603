#pragma once
// Thread-safe intrusive reference counting. CRefThreadSafeBase<T> holds the
// count; the Release() that reaches zero deletes the object as a T (through
// T's virtual destructor), on whichever thread that happens. CRefPtr<T> holds
// one reference. Any thread.
#include <windows.h>

#include <utility>

template <typename T>
class CRefThreadSafeBase {
public:
    void AddRef() const { ::InterlockedIncrement(&refCount_); }
    void Release() const {
        if (::InterlockedDecrement(&refCount_) == 0) delete static_cast<const T*>(this);
    }
    LONG RefCountForTesting() const { return refCount_; }

protected:
    CRefThreadSafeBase() = default;
    ~CRefThreadSafeBase() = default;
    CRefThreadSafeBase(const CRefThreadSafeBase&) = delete;
    CRefThreadSafeBase& operator=(const CRefThreadSafeBase&) = delete;

private:
    mutable LONG refCount_ = 0;
};

template <typename T>
class CRefPtr {
public:
    CRefPtr() = default;
    CRefPtr(T* p) : ptr_(p) {  // NOLINT: implicit by design, like a raw pointer
        if (ptr_) ptr_->AddRef();
    }
    CRefPtr(const CRefPtr& other) : CRefPtr(other.ptr_) {}
    CRefPtr(CRefPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    template <typename U>
    CRefPtr(const CRefPtr<U>& other) : CRefPtr(other.get()) {}
    ~CRefPtr() {
        if (ptr_) ptr_->Release();
    }

    // AddRef the new pointer before releasing the old one, so that assigning
    // an object to itself (or to something it owns) is safe.
    CRefPtr& operator=(T* p) {
        if (p) p->AddRef();
        T* old = std::exchange(ptr_, p);
        if (old) old->Release();
        return *this;
    }
    CRefPtr& operator=(const CRefPtr& other) { return *this = other.ptr_; }
    CRefPtr& operator=(CRefPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
            if (old) old->Release();
        }
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    void reset() { *this = static_cast<T*>(nullptr); }

private:
    T* ptr_ = nullptr;
};

template <typename T, typename U>
bool operator==(const CRefPtr<T>& a, const CRefPtr<U>& b) { return a.get() == b.get(); }
template <typename T, typename U>
bool operator!=(const CRefPtr<T>& a, const CRefPtr<U>& b) { return a.get() != b.get(); }
