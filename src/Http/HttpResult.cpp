#include "Http/HttpResult.h"

#include <curl/curl.h>

#include "Http/HttpResultCodes.h"

static_assert(kNoPackageAddress.code == CURLE_URL_MALFORMAT, "the code an empty URL gives");
static_assert(kNoAddressResolved.code == CURLE_COULDNT_RESOLVE_HOST, "libcurl's code for a name not found");
static_assert(kCutShort.code == CURLE_PARTIAL_FILE, "libcurl's code for a transfer ended short");
static_assert(kRangeSourceStalled.code == CURLE_OPERATION_TIMEDOUT, "libcurl's code for a transfer timed out");

void AttemptResult::Record(const HttpResult& result) {
    switch (result.type) {
        case kHttpErrorSys: sys_ = result.code; break;
        case kHttpErrorUser: user_ = result.code; break;
        case kHttpErrorHttp:
            status_ = result.code;
            hasStatus_ = true;
            break;
        case kHttpErrorCurl: curl_ = result.code; break;
        default: break;
    }
}

HttpResult AttemptResult::Result() const {
    if (sys_ != 0) return {kHttpErrorSys, sys_};
    if (user_ != 0) return {kHttpErrorUser, user_};
    if (hasStatus_ && (status_ < 100 || status_ >= 400)) return {kHttpErrorHttp, status_};
    if (curl_ != 0) return {kHttpErrorCurl, curl_};
    return {};
}
