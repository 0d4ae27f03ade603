#pragma once
// CLock: a re-entrant critical section. CScopedLock: holds a CLock for a scope
// (a null lock is allowed and does nothing). Any thread.
#include <windows.h>

class CLock {
public:
    CLock() { ::InitializeCriticalSection(&section_); }
    ~CLock() { ::DeleteCriticalSection(&section_); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Lock() { ::EnterCriticalSection(&section_); }
    void Unlock() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class CScopedLock {
public:
    explicit CScopedLock(CLock* lock) : lock_(lock) {
        if (lock_) lock_->Lock();
    }
    explicit CScopedLock(CLock& lock) : CScopedLock(&lock) {}
    ~CScopedLock() {
        if (lock_) lock_->Unlock();
    }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    CLock* lock_;
};
