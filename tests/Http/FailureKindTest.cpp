// Every pair the program makes up, and every libcurl code, falls into the
// kind that decides what the user reads and whether anything is retried.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include <curl/curl.h>

#include "Http/FailureKind.h"
#include "Http/HtmlAnswer.h"
#include "Http/HttpResultCodes.h"

TEST(FailureKind, EveryMadeUpPairAndNotableAnswerHasItsKind) {
    // One row a kind: every pair the program makes up, and the answers that
    // draw its borders (408 and 429 are waits, 511 is a sign-in page).
    const struct {
        FailureKind kind;
        std::vector<HttpResult> results;
    } kinds[] = {
        {FailureKind::kNone, {{}}},
        {FailureKind::kDisk, {kSinkOpenFailed, kSinkShortWrite, kPackageFolderMissing, kNoRoomForPackage,
                              {kHttpErrorSys, ERROR_HANDLE_DISK_FULL}, kSinkNotOpen, kPackageNotPlaced,
                              {kHttpErrorCurl, CURLE_WRITE_ERROR}}},
        {FailureKind::kLocked, {kFileLocked, {kHttpErrorSys, ERROR_LOCK_VIOLATION}}},
        {FailureKind::kSource, {kLengthMismatch, kBodyTooLarge, kDigestMismatch, kDescriptorWithoutUrl,
                                {kHttpErrorHttp, 404}, kNoPackageAddress, {kHttpErrorCurl, CURLE_RANGE_ERROR}}},
        {FailureKind::kSignIn, {kSignInPage, {kHttpErrorHttp, 511}}},
        {FailureKind::kClock, {kClockWrong}},
        {FailureKind::kRefused, {kBadSignature}},
        {FailureKind::kNetwork, {kDownloadBusy, kNoHttpStatus, {kHttpErrorHttp, 408}, {kHttpErrorHttp, 429},
                                 {kHttpErrorHttp, 500}, kCutShort, kRangeSourceStalled, kNoAddressResolved,
                                 {kHttpErrorCurl, CURLE_COULDNT_CONNECT}}},
    };
    for (const auto& row : kinds) {
        for (const HttpResult& r : row.results) {
            EXPECT_EQ(Classify(r), row.kind) << "(" << r.type << "," << r.code << ")";
        }
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
    // (Content-Type, first bytes)
    const std::pair<const char*, const char*> pages[] = {
        {"text/html", ""}, {" Text/HTML; charset=gbk", "[Install]"}, {"application/xhtml+xml", ""},
        {"", "<!DOCTYPE html>"}, {"text/plain", "\xEF\xBB\xBF\r\n  <html>"}};
    const std::pair<const char*, const char*> files[] = {
        {"application/octet-stream", "MZ\x90"}, {"text/plain", "[Install]\r\nUrl=<x>"}, {"", ""}, {"text/htm", "x"}};
    for (const auto& page : pages) EXPECT_TRUE(LooksLikeHtmlPage(page.first, page.second)) << page.first << page.second;
    for (const auto& file : files) EXPECT_FALSE(LooksLikeHtmlPage(file.first, file.second)) << file.first << file.second;
}
