// Every pair the program makes up, and every libcurl code, falls into the
// kind that decides what the user reads and whether anything is retried.
#include <gtest/gtest.h>

#include <windows.h>

#include <curl/curl.h>

#include "Http/FailureKind.h"
#include "Http/HtmlAnswer.h"
#include "Http/HttpResultCodes.h"

TEST(FailureKind, EveryMadeUpPairAndNotableAnswerHasItsKind) {
    const struct {
        HttpResult result;
        FailureKind kind;
    } cases[] = {
        {{}, FailureKind::kNone},
        {kSinkOpenFailed, FailureKind::kDisk},
        {kSinkShortWrite, FailureKind::kDisk},
        {kPackageFolderMissing, FailureKind::kDisk},
        {kNoRoomForPackage, FailureKind::kDisk},
        {{kHttpErrorSys, ERROR_HANDLE_DISK_FULL}, FailureKind::kDisk},
        {kSinkNotOpen, FailureKind::kDisk},
        {kPackageNotPlaced, FailureKind::kDisk},
        {kFileLocked, FailureKind::kLocked},
        {{kHttpErrorSys, ERROR_LOCK_VIOLATION}, FailureKind::kLocked},
        {kDownloadBusy, FailureKind::kNetwork},
        {kLengthMismatch, FailureKind::kSource},
        {kBodyTooLarge, FailureKind::kSource},
        {kDigestMismatch, FailureKind::kSource},
        {kDescriptorWithoutUrl, FailureKind::kSource},
        {kSignInPage, FailureKind::kSignIn},
        {kClockWrong, FailureKind::kClock},
        {kBadSignature, FailureKind::kRefused},
        {kNoHttpStatus, FailureKind::kNetwork},
        {{kHttpErrorHttp, 404}, FailureKind::kSource},
        {{kHttpErrorHttp, 408}, FailureKind::kNetwork},
        {{kHttpErrorHttp, 429}, FailureKind::kNetwork},
        {{kHttpErrorHttp, 500}, FailureKind::kNetwork},
        {{kHttpErrorHttp, 511}, FailureKind::kSignIn},
        {kNoPackageAddress, FailureKind::kSource},
        {kCutShort, FailureKind::kNetwork},
        {kRangeSourceStalled, FailureKind::kNetwork},
        {kNoAddressResolved, FailureKind::kNetwork},
        {{kHttpErrorCurl, CURLE_COULDNT_CONNECT}, FailureKind::kNetwork},
        {{kHttpErrorCurl, CURLE_RANGE_ERROR}, FailureKind::kSource},
        {{kHttpErrorCurl, CURLE_WRITE_ERROR}, FailureKind::kDisk},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Classify(c.result), c.kind) << "(" << c.result.type << "," << c.result.code << ")";
    }
    // No libcurl code is success, and none claims a cause libcurl cannot know
    // (a clock, a signature, a lock, a sign-in page).
    for (int code = CURLE_OK + 1; code < CURL_LAST; ++code) {
        const FailureKind kind = Classify({kHttpErrorCurl, code});
        EXPECT_TRUE(kind == FailureKind::kNetwork || kind == FailureKind::kSource || kind == FailureKind::kDisk)
            << "curl " << code << " is " << static_cast<int>(kind);
    }
}

TEST(FailureKind, SignInPagesAreKnownByTypeOrMarkupNotByTheirAbsence) {
    const struct {
        const char* type;
        const char* body;
        bool html;
    } cases[] = {
        {"text/html", "", true},
        {" Text/HTML; charset=gbk", "[Install]", true},
        {"application/xhtml+xml", "", true},
        {"", "<!DOCTYPE html>", true},
        {"text/plain", "\xEF\xBB\xBF\r\n  <html>", true},
        {"application/octet-stream", "MZ\x90", false},
        {"text/plain", "[Install]\r\nUrl=<x>", false},
        {"", "", false},
        {"text/htm", "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LooksLikeHtmlPage(c.type, c.body), c.html) << "[" << c.type << "] [" << c.body << "]";
    }
}
