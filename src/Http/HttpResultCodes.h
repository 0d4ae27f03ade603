#pragma once
// Every (error type, code) pair that the program makes up itself, by name,
// with its meaning and where it arises; beside them the pairs it passes on
// unchanged. The user sees a failure as "(type,code)", so a number here never
// changes. Types: Http/HttpResult.h. Value constants, any thread.
//
// Passed on unchanged:
//   (0, 0)            success
//   (1, system code)  a write of the download's file failed (GetLastError of
//                     the write, DownloadWriteFile, RangeWriteFile), such as
//                     ERROR_DISK_FULL or ERROR_HANDLE_DISK_FULL; a command's body could
//                     not grow (ERROR_NOT_ENOUGH_MEMORY, OBufferStream)
//   (4, status)       an HTTP status below 100 or from 400 on (AttemptResult)
//   (5, CURLcode)     libcurl's result of the last attempt
#include <windows.h>

#include "Http/HttpResult.h"
#include "Runtime/FileEx.h"

// (1, 2020) the download's file cannot be opened for another reason than
// another program holding it (DownloadWriteFile::Open, reported by
// CHttpDownloadFile before any request).
constexpr HttpResult kSinkOpenFailed{kHttpErrorSys, 2020};
// (1, -12) the download's file took fewer bytes than written (CFileEx's
// short write, through DownloadWriteFile::Write).
constexpr HttpResult kSinkShortWrite{kHttpErrorSys, CFileEx::kShortWrite};
// (1, ERROR_PATH_NOT_FOUND) the package folder is gone and cannot be made
// again when the package download is to start (CUpdateModule).
constexpr HttpResult kPackageFolderMissing{kHttpErrorSys, ERROR_PATH_NOT_FOUND};
// (1, ERROR_BUSY) the package download is still running when a new one is
// to start (CUpdateModule).
constexpr HttpResult kDownloadBusy{kHttpErrorSys, ERROR_BUSY};
// (1, ERROR_DISK_FULL) the package folder's drive lacks room for what is
// still missing of the package (CUpdateModule, before the download); a write
// that meets a full disk reports the same pair from its sink.
constexpr HttpResult kNoRoomForPackage{kHttpErrorSys, ERROR_DISK_FULL};
// (1, ERROR_SHARING_VIOLATION) another program holds a file the step needs
// (the partial file, the package): from the sink's open, the rename into
// place or the install thread's open.
constexpr HttpResult kFileLocked{kHttpErrorSys, ERROR_SHARING_VIOLATION};

// (3, 2001) a write to the download's file before it was opened
// (DownloadWriteFile::Write; RangeWriteFile, whose file is not open).
constexpr HttpResult kSinkNotOpen{kHttpErrorUser, 2001};
// (3, 2007) the announced length plus the resume offset differs from the
// expected size (CHttpDownloadFile::OnHttpStatus); a whole (200) answer to a
// resumed request that does not announce the expected size (CCurlHttp, before
// the partial file is touched); a range answered with another range or the
// whole file (CSegmentedDownload); the single stream's file longer than the
// expected size at the end (CHttpDownloadFile).
constexpr HttpResult kLengthMismatch{kHttpErrorUser, 2007};
// (3, 2008) a descriptor refused by a signing installer: its signature does
// not verify, or the signed text lacks a Sha256 of 64 hex digits or its
// Expires is missing, malformed or past (CUpdateModule; a missing ".sig"
// stays the (4, 404) it is).
constexpr HttpResult kBadSignature{kHttpErrorUser, 2008};
// (3, 2009) an answer larger than its cap: more header fields than
// CCurlHttp::kMaxHeaderFields (any transfer), or a command's body longer than
// its cap (CHttpCommand, for the descriptor and its signature).
constexpr HttpResult kBodyTooLarge{kHttpErrorUser, 2009};
// (3, 2010) an HTML page answered where a descriptor or the package belongs:
// a hotel's or airport's sign-in page taking over every address
// (CUpdateModule for the descriptor, the download for the package).
constexpr HttpResult kSignInPage{kHttpErrorUser, 2010};
// (3, 2011) a signed descriptor refused as expired while the server's Date
// differs from this computer's clock by more than a day: the clock is wrong,
// not the descriptor (CUpdateModule).
constexpr HttpResult kClockWrong{kHttpErrorUser, 2011};
// (3, 2012) the package does not match the descriptor's digests (the install
// thread's check).
constexpr HttpResult kDigestMismatch{kHttpErrorUser, 2012};
// (3, 2013) the descriptor has no package address (CUpdateModule): the
// server answered, but not with a descriptor.
constexpr HttpResult kDescriptorWithoutUrl{kHttpErrorUser, 2013};
// (3, 2014) a piece of the package does not match its digest in the
// descriptor (RangeWriteFile, PieceCheckedWriteFile); its source is blamed,
// and when every source has been dropped for it the download ends with it.
constexpr HttpResult kPieceMismatch{kHttpErrorUser, 2014};
// (3, 2015) the descriptor's PieceSize or Pieces cannot be used: not a power
// of two within bounds, not one digest per piece of Size, not hexadecimal
// (CUpdateModule): the server answered, but not with a usable descriptor.
constexpr HttpResult kBadPieceList{kHttpErrorUser, 2015};
// (3, -1) the downloaded package cannot be put in place as kvinstaller.exe
// (CUpdateModule).
constexpr HttpResult kPackageNotPlaced{kHttpErrorUser, -1};

// (4, 700) no HTTP status could be read (CCurlHttp's status until one is known).
constexpr HttpResult kNoHttpStatus{kHttpErrorHttp, 700};

// (5, CURLE_URL_MALFORMAT) the package has no address at all (CUpdateModule;
// the transfer reports the same for an empty URL).
constexpr HttpResult kNoPackageAddress{kHttpErrorCurl, 3};
// (5, CURLE_PARTIAL_FILE) a transfer ended without an error short of its
// end: a range of a download in ranges (its source's failure,
// CSegmentedDownload), or the single stream's file short of the expected size
// (a body without a length that stopped early, CHttpDownloadFile).
constexpr HttpResult kCutShort{kHttpErrorCurl, 18};
// (5, CURLE_OPERATION_TIMEDOUT) the ranges of one source stalled too often
// and the source is given up (CSegmentedDownload).
constexpr HttpResult kRangeSourceStalled{kHttpErrorCurl, 28};
// (5, CURLE_COULDNT_RESOLVE_HOST) the address fallback ended without a
// failure of its own to report (CHttpDownloadFile).
constexpr HttpResult kNoAddressResolved{kHttpErrorCurl, 6};
