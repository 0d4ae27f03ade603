#include "Http/HttpResult.h"

#include <curl/curl.h>

#include "Http/HttpResultCodes.h"

static_assert(kNoPackageAddress.code == CURLE_URL_MALFORMAT, "the code an empty URL gives");
static_assert(kNoAddressResolved.code == CURLE_COULDNT_RESOLVE_HOST, "libcurl's code for a name not found");
static_assert(kRangeCutShort.code == CURLE_PARTIAL_FILE, "libcurl's code for a transfer ended short");
static_assert(kRangeSourceStalled.code == CURLE_OPERATION_TIMEDOUT, "libcurl's code for a transfer timed out");

const wchar_t* HttpErrorTypeName(int32_t type) {
    switch (type) {
        case kHttpErrorSys: return L"sys";
        case kHttpErrorCrt: return L"crt";
        case kHttpErrorUser: return L"user";
        case kHttpErrorHttp: return L"http";
        case kHttpErrorCurl: return L"curl";
        default: return nullptr;
    }
}

HttpResult ClassifyResult(const ProtoValue& map) {
    // Get() never inserts nor throws; a "code" of another kind than Integer is
    // not something this program writes, so it reads as no error.
    auto codeOf = [&map](const wchar_t* type) -> int64_t {
        const ProtoValue& code = map.Get(type).Get(L"code");
        return code.Kind() == ProtoValueKind::Integer ? code.integer() : 0;
    };
    const int64_t sys = codeOf(L"sys");
    if (sys != 0) return {kHttpErrorSys, static_cast<int32_t>(sys)};
    const int64_t user = codeOf(L"user");
    if (user != 0) return {kHttpErrorUser, static_cast<int32_t>(user)};
    if (map.Get(L"http").Has(L"code")) {
        const int64_t http = codeOf(L"http");
        if (http < 100 || http >= 400) return {kHttpErrorHttp, static_cast<int32_t>(http)};
    }
    const int64_t curl = codeOf(L"curl");
    if (curl != 0) return {kHttpErrorCurl, static_cast<int32_t>(curl)};
    return {};
}
