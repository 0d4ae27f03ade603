#include "support/GuardedBuffer.h"

#include <cstring>

GuardedBuffer* GuardedBuffer::current_ = nullptr;

GuardedBuffer::GuardedBuffer(size_t capacity) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    page_ = info.dwPageSize;
    size_ = (capacity + page_ - 1) / page_ * page_;
    if (size_ == 0) size_ = page_;
    base_ = static_cast<uint8_t*>(::VirtualAlloc(nullptr, size_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    current_ = this;
    handler_ = ::AddVectoredExceptionHandler(1, &GuardedBuffer::OnException);
    if (base_) Rearm();
}

GuardedBuffer::~GuardedBuffer() {
    if (handler_) ::RemoveVectoredExceptionHandler(handler_);
    current_ = nullptr;
    if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
}

const uint8_t* GuardedBuffer::Place(const void* bytes, size_t size) {
    if (!base_ || size > size_) return nullptr;
    uint8_t* at = base_ + size_ - size;
    if (size) std::memcpy(at, bytes, size);
    return at;
}

void GuardedBuffer::Rearm() {
    DWORD old;
    ::VirtualProtect(base_ + size_, page_, PAGE_NOACCESS, &old);
}

LONG CALLBACK GuardedBuffer::OnException(EXCEPTION_POINTERS* info) {
    GuardedBuffer* self = current_;
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (!self || r->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto* address = reinterpret_cast<const uint8_t*>(r->ExceptionInformation[1]);
    const uint8_t* guard = self->base_ + self->size_;
    if (address < guard || address >= guard + self->page_) return EXCEPTION_CONTINUE_SEARCH;
    ++self->traps_;
    DWORD old;
    ::VirtualProtect(const_cast<uint8_t*>(guard), self->page_, PAGE_READWRITE, &old);
    return EXCEPTION_CONTINUE_EXECUTION;
}
