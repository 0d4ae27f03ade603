#include "Http/HttpCommand.h"

#include <windows.h>
#include <winhttp.h>

#include "Http/FailureKind.h"
#include "Http/HttpEngines.h"
#include "Http/HttpMgr.h"
#include "Http/HttpResultCodes.h"
#include "Runtime/IBufferStream.h"
#include "Runtime/Log.h"
#include "Runtime/OBufferStream.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\HttpCommand";

// The response body in memory, refused (and the transfer ended) once it
// would pass the command's cap.
class CappedBufferStream : public OBufferStream {
public:
    explicit CappedBufferStream(uint32_t cap) : cap_(cap) {}
    int32_t Write(const void* data, uint32_t count) override {
        if (static_cast<uint64_t>(Size()) + count > cap_) {
            SetLastError(kBodyTooLarge.code, kBodyTooLarge.type);
            return -1;
        }
        return OBufferStream::Write(data, count);
    }

private:
    uint32_t cap_;
};

// An HTTP Date ("Sun, 06 Nov 1994 08:49:37 GMT") in seconds since 1970 UTC,
// -1 when it is not one. WinHTTP's parser is the platform's own.
int64_t ParseHttpDate(const std::wstring& text) {
    SYSTEMTIME utc = {};
    FILETIME fileTime = {};
    if (!::WinHttpTimeToSystemTime(text.c_str(), &utc) || utc.wYear < 1970 ||
        !::SystemTimeToFileTime(&utc, &fileTime)) {
        return -1;
    }
    const uint64_t units = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    constexpr uint64_t kUnitsPerSecond = 10000000, kSecondsFrom1601To1970 = 11644473600;
    return static_cast<int64_t>(units / kUnitsPerSecond - kSecondsFrom1601To1970);
}

}  // namespace

bool SubmitCommand(CHttpCommand* command) {
    return AttachToManager(GetHttpMgr(HttpEngine::Command), command);
}

CHttpCommand::~CHttpCommand() { Stop(); }

bool CHttpCommand::Start() {
    KV_LOG(kToTrace, Info, L"CHttpCommand::Start");
    if (IsStarted()) return false;
    auto* transfer = new CCurlHttp();
    SetTransfer(transfer);
    transfer->SetListener(Scheduler());
    transfer->SetSink(maxBodyBytes_ ? new CappedBufferStream(maxBodyBytes_) : new OBufferStream());
    if (Method() == CCurlHttp::kMethodPost && !requestBody_.empty()) {
        transfer->SetSource(new IBufferStream(requestBody_.data(), static_cast<uint32_t>(requestBody_.size())));
    }
    return CHttpBase::Start();
}

void CHttpCommand::OnHttpStatus(int32_t status) { RecordResult(HttpResult{kHttpErrorHttp, status}); }

void CHttpCommand::Done(int32_t curlResult) {
    if (!IsStarted()) return;
    CommandResponse response;
    std::string& body = response.body;
    if (CCurlHttp* transfer = Transfer()) {
        std::wstring value;
        if (transfer->GetHeader(L"Content-Type", &value)) response.contentType = WideToUtf8(value);
        if (transfer->GetHeader(L"Date", &value)) response.serverTime = ParseHttpDate(value);
        CScopedLock lock(transfer->StreamLock());
        if (auto* sink = static_cast<OBufferStream*>(transfer->Sink())) {
            if (sink->Data()) body.assign(sink->Data(), sink->Size());
            if (sink->lastError != 0 && sink->LastErrorType() == kHttpErrorUser) body.clear();  // over the limit
        }
    }
    RecordResult(HttpResult{kHttpErrorCurl, curlResult});
    Stop();  // the sink's failure joins the record here
    const HttpResult result = TakeResult();

    // Only a failure of the network may pass by itself; an HTTP error answer,
    // a body over its cap or one that could not grow is not retried.
    if (AttemptCount() <= MaxRetries() && result.type == kHttpErrorCurl && Classify(result) == FailureKind::kNetwork) {
        KV_LOG(kToTrace | kToFile, Info, L"CHttpCommand::Done() 重试.... code:%d errtype:%d  url:%s ", result.code,
               result.type, GetUrl().c_str());
        RequestRetryDelay();
        if (SubmitCommand(this)) return;
        // The engine is gone: report the failure instead of waiting forever.
        SetRetryPending(false);
    }
    if (result.type != kHttpErrorOk) {
        KV_LOG(kToTrace | kToFile, Info, L"CHttpCommand::Done()  code:%d errtype:%d  url:%s ", result.code, result.type,
               GetUrl().c_str());
    }
    SetAttemptCount(0);
    response.result = result;
    if (completion_) completion_(response);
}
