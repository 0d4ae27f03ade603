#pragma once
// The six notifications of a transfer, delivered on the main thread through
// posted tasks. A listener that is destroyed stops receiving them: a
// notification still queued for it is dropped. Main thread only.
#include <curl/curl.h>

#include <cstdint>

#include "Runtime/RefCounted.h"

class CCurlBase;

class CurlListener {
public:
    virtual void OnTransferDone(const CRefPtr<CCurlBase>& transfer, CURLcode result) = 0;
    virtual void OnBytesReceived(const CRefPtr<CCurlBase>& transfer, uint32_t count) = 0;
    virtual void OnBytesSent(const CRefPtr<CCurlBase>& transfer, uint32_t count) = 0;
    virtual void OnHttpStatus(const CRefPtr<CCurlBase>& transfer, int32_t status) = 0;
    virtual void OnTransferRemoved(const CRefPtr<CCurlBase>& transfer, int32_t value) = 0;
    virtual void OnTransferAdded(const CRefPtr<CCurlBase>& transfer, int32_t value) = 0;

    // Whether `listener` is a listener that still exists.
    static bool IsLive(const CurlListener* listener);

protected:
    CurlListener();
    virtual ~CurlListener();
    CurlListener(const CurlListener&) = delete;
    CurlListener& operator=(const CurlListener&) = delete;
};
