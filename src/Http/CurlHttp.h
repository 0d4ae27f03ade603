#pragma once
// CCurlHttp: one HTTP exchange. Configure() sets the fixed option list on the
// main thread; the header/body/read callbacks run on the worker thread, fill
// the header map and the sink, and post the status. The streams and the header
// map are guarded by one lock, so the main thread may read the headers, close
// the streams or read the sink while the worker is inside a callback.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Http/CurlBase.h"
#include "Http/HttpResultCodes.h"
#include "Http/HttpTimeouts.h"
#include "Runtime/ByteStream.h"
#include "Runtime/Lock.h"
#include "Runtime/ProtoValue.h"

class CCurlHttp : public CCurlBase {
public:
    static constexpr int32_t kMethodGet = 1;
    static constexpr int32_t kMethodPost = 2;

    CCurlHttp();
    ~CCurlHttp() override;

    // Prepares the easy handle and sets the options in their fixed order:
    // redirects (at most 5; http and https only, and from an https address
    // https only), URL (ANSI), callbacks, the time limits (connect, low
    // speed, keep-alive), the system proxy, then POST with the source's size,
    // or an open-ended range from resumeOffset. Main thread, before the
    // transfer goes to the worker. False when libcurl gives no easy handle.
    bool Configure(const std::wstring& url, int32_t method, const HttpTimeouts& timeouts, uint64_t resumeOffset);
    // After Configure: connections to `host` go to `address` (IPv4, dotted)
    // instead of what the system resolves, while the request, the TLS server
    // name and the certificate check keep the host name. False when libcurl
    // refuses the entry.
    bool PinHostAddress(const std::string& host, const std::string& address);

    // Takes ownership of the streams (main thread, before Configure).
    void SetSink(OBaseStream* sink);
    void SetSource(IBaseStream* source);
    // The request asks for a byte range. A 200 answer to a request from 0
    // resets the sink; to a request from further on it replaces the sink's
    // bytes only when its Content-Length is `wholeSize`: any other whole
    // answer (no length, another length, or a size not known) is refused
    // before the sink is touched (kLengthMismatch).
    void SetResumeRequested(bool requested, uint64_t wholeSize = 0) {
        resumeRequested_ = requested;
        wholeSize_ = wholeSize;
    }
    bool ResumeRequested() const { return resumeRequested_; }
    // The body is a file that is never a web page: a 2xx answer whose
    // Content-Type is HTML (a network's sign-in page) is refused when its
    // header block ends, before the sink is reset or written; its status is
    // not posted and the transfer ends with a write error.
    void SetRefusePages(bool refuse) { refusePages_ = refuse; }
    // What the transfer itself refused (kSignInPage, kLengthMismatch,
    // kBodyTooLarge), else (0, 0). Any thread.
    HttpResult Refusal() const;
    // The sink's kept failure (its open, write, reset or close), else (0, 0).
    HttpResult SinkFailure();

    // Last status read from libcurl, kNoHttpStatus's code while none is known.
    int32_t HttpStatus() const { return httpStatus_.load(std::memory_order_acquire); }
    // The response header fields that the program reads (Content-Length,
    // Content-Range, Content-Type, Date) of this run:
    // all responses of a redirect chain, later values winning,
    // "Content-Length" and "Content-Type" only of the latest response. Every
    // other field is dropped as it arrives; an answer of more than
    // kMaxHeaderFields fields is refused (kBodyTooLarge), so a flood of
    // fields costs a name comparison each. Names are matched without regard
    // to case and kept as received. Safe from any thread.
    static constexpr size_t kMaxHeaderFields = 256;
    ProtoValue HeaderSnapshot();
    bool GetHeader(const std::wstring& name, std::wstring* value);

    // The sink is only touched under StreamLock(); the owner may look at it
    // (for example to copy a memory body) while holding it.
    CLock& StreamLock() { return streamLock_; }
    OBaseStream* Sink() const { return sink_.get(); }

    size_t OnRecieveHeader(const char* data, size_t length) override;
    size_t OnRecieveBody(const char* data, size_t length) override;
    size_t OnSendBody(char* buffer, size_t length) override;
    void CloseStreams() override;

private:
    // At the blank line that ends a 2xx answer's header block: refuses a web
    // page, then empties the sink of a resumed request answered whole. False
    // ends the transfer.
    bool EndOfFinalHeaders(int32_t status);

    enum KeptField { kContentLength, kContentRange, kContentType, kDate, kKeptFieldCount };
    struct Field {
        bool present = false;
        std::wstring name, value;
    };
    // Keeps `refusal` (a kHttpErrorUser pair) as the reason the transfer
    // ends; false, for the callback to return.
    bool Refuse(const HttpResult& refusal);

    CLock streamLock_;
    Field fields_[kKeptFieldCount];  // guarded by streamLock_
    size_t fieldCount_ = 0;          // fields of the current response (worker thread)
    std::atomic<int32_t> httpStatus_{kNoHttpStatus.code};
    uint64_t uploadSize_ = 0;
    uint64_t uploadPosition_ = 0;
    uint64_t resumeOffset_ = 0;
    uint64_t wholeSize_ = 0;
    bool resumeRequested_ = false;
    bool refusePages_ = false;
    std::atomic<int32_t> refusal_{0};  // the code of the kHttpErrorUser pair refused, 0 for none
    std::unique_ptr<OBaseStream> sink_;    // guarded by streamLock_
    std::unique_ptr<IBaseStream> source_;  // guarded by streamLock_
    kv::UniqueCurlSlist connectTo_;        // read by libcurl while it connects
};
