#pragma once
// The notifications of a transfer, delivered on the main thread through
// posted tasks that carry the listener's token: a notification still queued
// when its listener is destroyed finds no listener and is dropped. Main
// thread only.
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

    // Stands for this listener until it is destroyed; never issued again.
    uintptr_t Token() const { return token_; }
    // The listener of `token`; null once it is destroyed.
    static CurlListener* Find(uintptr_t token);

protected:
    CurlListener();
    virtual ~CurlListener();
    CurlListener(const CurlListener&) = delete;
    CurlListener& operator=(const CurlListener&) = delete;

private:
    uintptr_t token_;
};
