#pragma once
// IGameEventListener: how the update module reports to the installer window.
// Eleven slots in a fixed order; the module calls slots 2, 3 and 10 only, on
// the main thread.
#include <cstdint>
#include <string>

#include "Http/HttpResult.h"

class IGameEventListener {
public:
    virtual void Unused0() {}
    virtual void Unused1() {}
    // Slot 2: the package download's latest totals; speed in bytes per second.
    virtual void OnProgress(int64_t total, int64_t complete, uint64_t speed) = 0;
    // Slot 3: the download ended; (0, 0) success, otherwise the failure as it
    // happened (Http/HttpResultCodes.h, Http/FailureKind.h).
    virtual void OnDone(const HttpResult& result, const std::wstring& message) = 0;
    virtual void Unused4() {}
    virtual void Unused5() {}
    virtual void Unused6() {}
    virtual void Unused7() {}
    virtual void Unused8() {}
    virtual void Unused9() {}
    // Slot 10: a descriptor was read (errtype 0) or every endpoint failed.
    virtual void OnDescriptor(const HttpResult& result, const std::wstring& version, const std::wstring& md5) = 0;

protected:
    ~IGameEventListener() = default;
};
