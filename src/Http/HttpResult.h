#pragma once
// The outcome pair of every HTTP task: (error type, code); (0, 0) is success.
// Types: 0 "ok", 1 "sys", 2 "crt", 3 "user", 4 "http", 5 "curl". Any thread.
#include <cstdint>

#include "Runtime/ProtoValue.h"

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

// The result-map key of an error type ("sys", "user", ...); null for 0 and
// unknown types.
const wchar_t* HttpErrorTypeName(int32_t type);

// First match wins: "sys" non-zero, "user" non-zero, "http" below 100 or from
// 400 on, "curl" non-zero; otherwise (0, 0).
HttpResult ClassifyResult(const ProtoValue& resultMap);
