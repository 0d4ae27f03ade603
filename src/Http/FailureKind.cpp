#include "Http/FailureKind.h"

#include <windows.h>

#include <curl/curl.h>

#include "Http/HttpResultCodes.h"

namespace {

FailureKind ClassifySystem(int32_t code) {
    switch (code) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return FailureKind::kLocked;
        // A download still winding down, or a body that could not grow: both
        // pass by themselves.
        case ERROR_BUSY:
        case ERROR_NOT_ENOUGH_MEMORY:
            return FailureKind::kNetwork;
        default:
            // Every other system code comes from the package folder's files:
            // full, read-only, gone or not creatable.
            return FailureKind::kDisk;
    }
}

FailureKind ClassifyUser(int32_t code) {
    if (code == kSignInPage.code) return FailureKind::kSignIn;
    if (code == kClockWrong.code) return FailureKind::kClock;
    if (code == kBadSignature.code) return FailureKind::kRefused;
    if (code == kSinkNotOpen.code || code == kPackageNotPlaced.code) return FailureKind::kDisk;
    if (code == kLengthMismatch.code || code == kBodyTooLarge.code || code == kDigestMismatch.code ||
        code == kDescriptorWithoutUrl.code || code == kPieceMismatch.code || code == kBadPieceList.code) {
        return FailureKind::kSource;
    }
    return FailureKind::kNetwork;
}

FailureKind ClassifyHttpStatus(int32_t status) {
    // A time-out or a rate limit at the server passes as a 5xx does.
    if (status == 408 || status == 429) return FailureKind::kNetwork;
    // "Network Authentication Required": the sign-in page's own status.
    if (status == 511) return FailureKind::kSignIn;
    // "Proxy Authentication Required", after every credential at hand was tried.
    if (status == 407) return FailureKind::kProxyAuth;
    if (status >= 400 && status <= 499) return FailureKind::kSource;
    return FailureKind::kNetwork;  // 5xx, and no status at all
}

FailureKind ClassifyCurl(int32_t code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP_RETURNED_ERROR:
        case CURLE_RANGE_ERROR:
        case CURLE_BAD_DOWNLOAD_RESUME:
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_FILESIZE_EXCEEDED:
            return FailureKind::kSource;
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
            return FailureKind::kDisk;
        default:
            return FailureKind::kNetwork;
    }
}

}  // namespace

FailureKind Classify(const HttpResult& result) {
    switch (result.type) {
        case kHttpErrorOk:
            return result.code == 0 ? FailureKind::kNone : FailureKind::kNetwork;
        case kHttpErrorSys:
        case kHttpErrorCrt:
            return ClassifySystem(result.code);
        case kHttpErrorUser:
            return ClassifyUser(result.code);
        case kHttpErrorHttp:
            return ClassifyHttpStatus(result.code);
        case kHttpErrorCurl:
            return ClassifyCurl(result.code);
        default:
            return FailureKind::kNetwork;
    }
}

const wchar_t* FailureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::kNone: return L"none";
        case FailureKind::kNetwork: return L"network";
        case FailureKind::kSource: return L"source";
        case FailureKind::kSignIn: return L"sign-in page";
        case FailureKind::kDisk: return L"disk";
        case FailureKind::kClock: return L"clock";
        case FailureKind::kRefused: return L"refused";
        case FailureKind::kLocked: return L"locked";
        case FailureKind::kProxyAuth: return L"proxy login";
    }
    return L"?";
}
