#pragma once
// The outcome pair of every HTTP task: (error type, code); (0, 0) is success.
// Types: 0 "ok", 1 "sys", 2 "crt", 3 "user", 4 "http", 5 "curl". Any thread.
#include <cstdint>

enum HttpErrorType : int32_t {
    kHttpErrorOk = 0,
    kHttpErrorSys = 1,
    kHttpErrorCrt = 2,
    kHttpErrorUser = 3,
    kHttpErrorHttp = 4,
    kHttpErrorCurl = 5,
};

struct HttpResult {
    int32_t type = kHttpErrorOk;
    int32_t code = 0;
};

// What one attempt of a task met, one slot per error type that can name it:
// the system's code (a file of the sink), the program's own refusal, the
// answer's status and libcurl's result. A later entry of a type replaces the
// earlier one; types without a slot (0, "crt") are not kept.
class AttemptResult {
public:
    void Record(const HttpResult& result);
    void RecordStatus(int32_t status) { Record(HttpResult{kHttpErrorHttp, status}); }
    void Clear() { *this = AttemptResult(); }
    bool HasStatus() const { return hasStatus_; }

    // The first that tells of a failure: "sys" non-zero, "user" non-zero,
    // "http" below 100 or from 400 on, "curl" non-zero; otherwise (0, 0).
    // The sink's or the program's reason outranks the libcurl error it
    // caused (a refused body ends the transfer with a write error).
    HttpResult Result() const;

private:
    int32_t sys_ = 0;
    int32_t user_ = 0;
    int32_t status_ = 0;
    bool hasStatus_ = false;
    int32_t curl_ = 0;
};
