#pragma once
// CHttpCommand: one GET, or POST with a body, whose whole response body is
// collected in memory and handed to the completion callback exactly once per
// submitted run, with the final (error type, code). libcurl's network errors
// are retried (3 attempts, 500-1000 ms apart); HTTP errors and libcurl errors
// of another kind (Http/FailureKind.h) are not. Main thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "Http/HttpBase.h"
#include "Http/HttpResult.h"

// What a command's run ended with: the body, the result ((0, 0) is success)
// and the answer's fields that tell what kind of answer it was.
struct CommandResponse {
    std::string body;
    HttpResult result;
    std::string contentType;  // the last answer's Content-Type, "" when none
    int64_t serverTime = -1;  // the last answer's Date, seconds since 1970 UTC; -1 when none or unreadable
};

class CHttpCommand : public CHttpBase {
public:
    using Completion = std::function<void(const CommandResponse& response)>;

    CHttpCommand() = default;
    ~CHttpCommand() override;

    // A response body longer than this ends the run at once with
    // kBodyTooLarge and an empty body, not retried; 0: no cap of its own.
    void SetMaxBodyBytes(uint32_t maxBytes) { maxBodyBytes_ = maxBytes; }

    void SetCompletion(Completion completion) { completion_ = std::move(completion); }
    // The request body of a POST (SetMethod(CCurlHttp::kMethodPost)).
    void SetRequestBody(const std::string& body) { requestBody_ = body; }
    const std::string& RequestBody() const { return requestBody_; }

    bool Start() override;
    void Done(int32_t curlResult) override;
    void OnHttpStatus(int32_t status) override;

private:
    std::string requestBody_;
    uint32_t maxBodyBytes_ = 0;
    Completion completion_;
};

// Hands the command to the command engine's scheduler; false when that
// engine does not exist. Main thread only.
bool SubmitCommand(CHttpCommand* command);
