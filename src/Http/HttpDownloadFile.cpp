#include "Http/HttpDownloadFile.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <limits>
#include <numeric>
#include <vector>

#include "Http/CurlWorkshop.h"
#include "Http/DownloadWriteFile.h"
#include "Http/FailureKind.h"
#include "Http/HttpEngines.h"
#include "Http/HttpMgr.h"
#include "Http/HttpResultCodes.h"
#include "Http/PieceCheckedWriteFile.h"
#include "Http/RangeControlFile.h"
#include "Http/RangeTransfer.h"
#include "Runtime/Handles.h"
#include "Runtime/LiveTokens.h"
#include "Runtime/Log.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\HttpDownloadFile";
constexpr DWORD kResolverRestartMs = 500;
// A stopped piece check ends within one 256 KiB read: the bound is generous.
constexpr DWORD kCheckStopMs = 2000;
constexpr size_t kMinHostLength = 3;
constexpr long kReceiveBufferBytes = 512L * 1024;  // libcurl's largest

// Results that reach a task later through the dispatcher (resolver answers,
// posted failures) carry a token instead of the task's address; the task
// drops it when it is stopped, moves on or is destroyed. Main thread only.
// The table is never destroyed, so tasks with static storage may still drop
// their tokens at exit.
kv::LiveTokens<CHttpDownloadFile>& Tokens() {
    static auto* tokens = new kv::LiveTokens<CHttpDownloadFile>();
    return *tokens;
}

// Size of a file in bytes, -1 when it cannot be examined. 64-bit, so files
// beyond the file wrapper's 32-bit positions are measured correctly.
int64_t LocalFileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// Cuts the file at `path` to `length` bytes.
__attribute__((noinline)) bool CutFile(const std::wstring& path, uint64_t length) {
    const kv::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

// The pair of a cut or open of the partial file that failed (GetLastError).
HttpResult FileFailure() {
    const DWORD error = ::GetLastError();
    const bool locked = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    return locked ? kFileLocked : HttpResult{kHttpErrorSys, static_cast<int32_t>(error)};
}

// Where a failure of one address may be mended: the network at the same
// address (it passes by itself); a server's wrong answer or a sign-in page at
// another address (another server may serve). The disk and a file held by
// another program are the same at every address: nowhere.
bool RetryAtSameAddress(const HttpResult& result) {
    return result.type == kHttpErrorCurl && Classify(result) == FailureKind::kNetwork;
}
bool TryAnotherAddress(const HttpResult& result) {
    const FailureKind kind = Classify(result);
    if (kind == FailureKind::kSignIn) return true;
    // The program's own refusals of an answer (a whole answer that is not the
    // package, a flood of header fields) blame that source like its statuses.
    return (result.type == kHttpErrorHttp || result.type == kHttpErrorCurl || result.type == kHttpErrorUser) &&
           (kind == FailureKind::kNetwork || kind == FailureKind::kSource);
}
// The own resolver's addresses are the same servers behind the same network:
// a sign-in page that took over every address of the system's resolver
// would answer there too.
bool ResolveAgain(const HttpResult& result) {
    return TryAnotherAddress(result) && Classify(result) != FailureKind::kSignIn;
}

const wchar_t* PhaseName(CHttpDownloadFile::Phase phase) {
    switch (phase) {
        case CHttpDownloadFile::Phase::kIdle: return L"idle";
        case CHttpDownloadFile::Phase::kSingleStream: return L"single stream";
        case CHttpDownloadFile::Phase::kProbingRanges: return L"probing ranges";
        case CHttpDownloadFile::Phase::kRanges: return L"ranges";
        case CHttpDownloadFile::Phase::kWaitingToRetry: return L"waiting to retry";
        case CHttpDownloadFile::Phase::kResolving: return L"resolving";
        case CHttpDownloadFile::Phase::kEnding: return L"ending";
        case CHttpDownloadFile::Phase::kCheckingPieces: return L"checking pieces";
    }
    return L"?";
}

}  // namespace

bool SubmitDownload(CHttpDownloadFile* task) { return AttachToManager(GetHttpMgr(HttpEngine::Download), task); }

CHttpDownloadFile::CHttpDownloadFile() = default;

CHttpDownloadFile::~CHttpDownloadFile() { Stop(); }

const std::wstring& CHttpDownloadFile::GetUrl() const {
    static const std::wstring kEmpty;
    return urlList_.empty() ? kEmpty : urlList_.front();
}

std::vector<std::wstring> CHttpDownloadFile::AddressList(const std::wstring& mirrors, const std::wstring& url) {
    std::vector<std::wstring> pieces;
    if (!mirrors.empty()) Split(mirrors, pieces);
    // An empty main URL stays first: it fails as a malformed address, and the
    // mirrors are tried after it as after any failing address.
    std::vector<std::wstring> addresses{url};
    for (const std::wstring& mirror : pieces) {
        if (mirror != url && mirror.size() >= kMinHostLength) addresses.push_back(mirror);
    }
    return addresses;
}

void CHttpDownloadFile::SetPieceDigests(std::shared_ptr<const CPieceDigests> pieces) {
    // A package republished under the same name and size has other pieces:
    // what matched the old list proves nothing about the new one.
    if (!pieces || !pieces_ || !pieces->SameAs(*pieces_)) knownGood_ = 0;
    pieces_ = std::move(pieces);
}

bool CHttpDownloadFile::Download(const std::wstring& mirrors, const std::wstring& url, const std::wstring& localPath,
                                 int64_t expectedSize) {
    // A run is going (transfer, retry or resolver): the owner stops it first,
    // and its addresses stay as they are.
    if (IsStarted() || IsRetryPending() || dnsToken_ != 0 || postedToken_ != 0) return false;
    // Every run starts from its own arguments only: a cancelled run leaves
    // its list (and its main URL) behind, and they must not be tried again.
    urlList_ = AddressList(mirrors, url);
    fallback_.Reset();
    if (url.empty() && urlList_.size() < 2) {
        urlList_.clear();
        return false;  // nothing to download
    }
    mainUrl_ = url;
    SetAttemptCount(0);  // every run gets its own retries
    rangesServed_ = false;
    rangesRefused_ = false;
    controlStuck_ = false;
    CancelCheck();
    sourcesUsed_.clear();
    // Bytes an earlier run left in the file came from addresses not known
    // here: "" stands for them until the file is emptied.
    if (LocalFileSize(localPath) > 0) sourcesUsed_.push_back(std::wstring());
    if (localPath != localPath_) knownGood_ = 0;
    localPath_ = localPath;
    expectedSize_ = expectedSize;
    SetPhase(Phase::kWaitingToRetry);
    if (SubmitDownload(this)) return true;
    SetPhase(Phase::kIdle);
    return false;
}

void CHttpDownloadFile::SetPhase(Phase next) {
    if (next == phase_) return;
    KV_LOG(kToTrace | kToFile, Info, L"CHttpDownloadFile phase %s -> %s url:%s", PhaseName(phase_), PhaseName(next),
           GetUrl().c_str());
    phase_ = next;
}

bool CHttpDownloadFile::QueueAttempt() {
    SetPhase(Phase::kWaitingToRetry);
    RequestRetryDelay();
    if (SubmitDownload(this)) return true;
    SetRetryPending(false);  // the engine is gone: report instead of waiting forever
    return false;
}

bool CHttpDownloadFile::SetupTransfer() {
    if (!CHttpBase::SetupTransfer()) return false;
    // Large receive buffer: a file body is read and written in few, large
    // pieces (libcurl's 16 KiB default costs a socket poll and a file write
    // every 16 KiB, which made a loopback download ~3x slower).
    curl_easy_setopt(Transfer()->EasyHandle(), CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // A package that may be fetched in parallel asks for a range even from 0:
    // only a 206 with its Content-Range shows that the server serves ranges.
    if (ResumeOffset() == 0 && Transfer()->ResumeRequested()) curl_easy_setopt(Transfer()->EasyHandle(), CURLOPT_RANGE, "0-");
    return fallback_.PinCurrent(*Transfer());
}

bool CHttpDownloadFile::Start() {
    if (IsStarted()) return false;
    // Only a queued attempt starts: a finished or stopped run (or one never
    // begun) offered again by a scheduler gets no second completion.
    if (phase_ != Phase::kWaitingToRetry) return false;
    std::vector<ByteRange> missing;
    const HttpResult unusable = PrepareResume(&missing);
    if (unusable.type != kHttpErrorOk) {
        Finish(unusable.type, unusable.code);
        return false;
    }
    // Started, with no transfer: the check's answer starts the attempt again.
    if (phase_ == Phase::kCheckingPieces) return CHttpBase::Start();
    if (!missing.empty()) {
        ReleaseTransfer();
        // Started (so that the scheduler's nested passes leave this task
        // alone) with no transfer of its own: the connections do the work.
        CHttpBase::Start();
        if (BeginSegmented(missing)) {
            SetPhase(Phase::kRanges);
            return true;
        }
        EndAttempt();
        // Ranges that a source served in this run would be cut off by a
        // single stream, and a file that another program holds is held only
        // for now: both stay, with their control file, for the next run.
        const HttpResult failure = segmented_.BeginFailure();
        if (rangesServed_ || Classify(failure) == FailureKind::kLocked) {
            Finish(failure.type, failure.code);
            return false;
        }
        // The ranges cannot be fetched now: a single stream from the prefix,
        // after the retry delay.
        rangesRefused_ = true;
        if (!QueueAttempt()) Finish(kSinkOpenFailed.type, kSinkOpenFailed.code);
        return false;
    }
    ReleaseTransfer();
    auto* transfer = new CCurlHttp();
    SetTransfer(transfer);
    transfer->SetListener(Scheduler());
    transfer->SetReportProgress(true);
    transfer->SetRefusePages(true);

    PieceCheckedWriteFile* checked = pieces_ ? new PieceCheckedWriteFile(pieces_) : nullptr;
    DownloadWriteFile* sink = checked ? checked : NewFileSink();
    if (!sink->Open(localPath_)) {
        const int32_t type = sink->LastErrorType();
        const int32_t code = sink->LastErrorCode();
        delete sink;
        ReleaseTransfer();
        Finish(type, code);
        return false;
    }
    if (checked) checked->Prime();
    transfer->SetSink(sink);
    KV_LOG(kToFile, Info, L"CHttpDownloadFile::Start() localPath:%s", localPath_.c_str());

    int64_t fileSize = LocalFileSize(localPath_);
    if (fileSize < 0) {
        KV_LOG(kToFile, Info, L"无需断点下载 %s ", localPath_.c_str());
        fileSize = 0;
    }
    const wchar_t* path = localPath_.c_str();
    if (expectedSize_ == 0) {
        transfer->SetResumeRequested(false);
        sink->Reset();
        SetResumeOffset(0);
        sourcesUsed_.clear();
    } else if (fileSize > expectedSize_) {
        KV_LOG(kToTrace | kToFile, Error, L"%s文件大小(%lld)大于预期(%lld)大小  ", path, static_cast<long long>(fileSize),
               static_cast<long long>(expectedSize_));
        transfer->SetResumeRequested(false);
        sink->Reset();
        SetResumeOffset(0);
        sourcesUsed_.clear();
    } else if (fileSize == expectedSize_) {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info), L"文件大小等于预计大小，下载已完成 %s pos:%lld", path,
               static_cast<long long>(fileSize));
        ReleaseTransfer();
        Finish(kHttpErrorOk, 0);
        return false;
    } else if (fileSize == 0) {
        KV_LOG(kToTrace | kToFile, Info, L"非断点 %s pos:%lld", path, static_cast<long long>(fileSize));
        transfer->SetResumeRequested(CanSegment(), static_cast<uint64_t>(expectedSize_));
        SetResumeOffset(0);
    } else {
        KV_LOG(kToTrace | kToFile, Info, L"开始断点下载 %s pos:%lld", path, static_cast<long long>(fileSize));
        transfer->SetResumeRequested(true, static_cast<uint64_t>(expectedSize_));
        SetResumeOffset(static_cast<uint64_t>(fileSize));
    }
    if (sink->lastError != 0) {
        // The file could not be emptied: the answer would land after its old bytes.
        const HttpResult failure{sink->LastErrorType(), sink->LastErrorCode()};
        ReleaseTransfer();
        Finish(failure.type, failure.code);
        return false;
    }
    streamFrom_ = ResumeOffset();
    SetPhase(Phase::kSingleStream);
    return CHttpBase::Start();
}

bool CHttpDownloadFile::Stop() {
    EndAttempt();
    SetPhase(Phase::kIdle);
    return true;
}

void CHttpDownloadFile::EndAttempt() {
    const bool streaming = Transfer() && (phase_ == Phase::kSingleStream || phase_ == Phase::kProbingRanges);
    segmented_.Stop();
    CancelResolver(kResolverCancelMs);
    CancelCheck();
    CancelTask(probeTask_);
    probeTask_ = 0;
    Tokens().Drop(postedToken_);
    SetRetryPending(false);
    CHttpBase::Stop();
    // The transfer has let go of the file: it holds all that was written.
    if (streaming) NoteStreamSpan();
    received_ = 0;
    bytesSinceTick_ = 0;
    contentLength_ = 0;
}

void CHttpDownloadFile::NoteStreamSpan() {
    const int64_t end = LocalFileSize(localPath_);
    if (end <= static_cast<int64_t>(streamFrom_)) return;
    KV_LOG(kToTrace | kToFile, Info, L"CHttpDownloadFile single stream from %s wrote bytes [%llu, %llu) (%llu bytes)",
           GetUrl().c_str(), static_cast<unsigned long long>(streamFrom_), static_cast<unsigned long long>(end),
           static_cast<unsigned long long>(end) - streamFrom_);
    NoteSource(GetUrl());
    streamFrom_ = static_cast<uint64_t>(end);
}

void CHttpDownloadFile::NoteSource(const std::wstring& url) {
    if (std::find(sourcesUsed_.begin(), sourcesUsed_.end(), url) == sourcesUsed_.end()) sourcesUsed_.push_back(url);
}

void CHttpDownloadFile::OnBytesReceived(uint32_t count) {
    bytesSinceTick_ += count;
    if (phase_ != Phase::kProbingRanges) return;
    probeBytes_ += count;
    if (::GetTickCount() - probeTick_ >= kProbeMs) DecideOnRanges();
}

void CHttpDownloadFile::DecideOnRanges() {
    const DWORD elapsed = std::max<DWORD>(::GetTickCount() - probeTick_, 1);
    const uint64_t rate = probeBytes_ * 1000 / elapsed;
    // A stream this fast is held back by the machine, not by the route or a
    // cap of the server: more connections would only cost work.
    if (rate >= fastStreamRate_) {
        SetPhase(Phase::kSingleStream);
        KV_LOG(kToTrace | kToFile, Info, L"单连接速度已足够(%llu B/s)，不分段下载 url:%s", static_cast<unsigned long long>(rate),
               GetUrl().c_str());
        return;
    }
    SwitchToSegmented();
}

void CHttpDownloadFile::OnHttpStatus(int32_t status) {
    if (status >= 300 && status <= 399) {
        KV_LOG(kToConsole, Info, L"重定向中... url:%s", GetUrl().c_str());
        KV_LOG(kToFile, Info, L"重定向中...  url:%s", GetUrl().c_str());
        return;
    }
    // An interim 1xx answer: the final status (and its headers) follows.
    if (status >= 100 && status <= 199) return;
    RecordResult(HttpResult{kHttpErrorHttp, status});
    CCurlHttp* transfer = Transfer();
    // An error answer has no body for the file; its length (if any header
    // map holds one) must not be checked against the expected size.
    if (!transfer || status < 100 || status > 399) return;
    if (status == 200 && transfer->ResumeRequested()) {
        KV_LOG(kToConsole | kToFile, Info, L"不支持断点续传 url:%s", GetUrl().c_str());
        // The transfer has started the file again: the bytes of earlier
        // sources are gone.
        if (ResumeOffset() != 0) sourcesUsed_.clear();
        SetResumeOffset(0);
        streamFrom_ = 0;
    }
    std::wstring value;
    if (!transfer->GetHeader(L"Content-Length", &value)) return;
    const long long length = std::wcstoll(value.c_str(), nullptr, 10);  // saturates at the largest value
    if (length <= 0) return;
    contentLength_ = length;
    const int64_t offset = static_cast<int64_t>(ResumeOffset());
    // A hostile length would overflow offset + length: such a total cannot be
    // any file's, so it counts as a mismatch whatever size is expected.
    const bool overflows = contentLength_ > std::numeric_limits<int64_t>::max() - offset;
    if (overflows || (expectedSize_ != 0 && offset + contentLength_ != expectedSize_)) {
        KV_LOG(kToTrace | kToFile, Error, L"长度不一致 预期值:%lld 实际值:%lld", static_cast<long long>(expectedSize_),
               static_cast<long long>(overflows ? contentLength_ : offset + contentLength_));
        EndAttempt();
        Finish(kLengthMismatch.type, kLengthMismatch.code);
        return;
    }
    if (progress_) progress_(offset + contentLength_, offset, 0);
    if (status == 206 && CanSegment()) {
        std::wstring range;
        uint64_t first = 0, last = 0, total = 0;
        const uint64_t size = static_cast<uint64_t>(expectedSize_);
        if (transfer->GetHeader(L"Content-Range", &range) && CRangeTransfer::ParseContentRange(range, &first, &last, &total) &&
            first == static_cast<uint64_t>(offset) && last + 1 == size && total == size &&
            size - first >= 2 * CRangePlan::kMinPiece) {
            // The stream goes on alone for a moment: its speed decides.
            SetPhase(Phase::kProbingRanges);
            probeTick_ = ::GetTickCount();
            probeBytes_ = 0;
            // A server that paces a cap sends bursts with pauses between:
            // the decision does not wait for the next burst.
            CancelTask(probeTask_);
            probeTask_ = PostDelayedTask(kProbeMs, [this] {
                probeTask_ = 0;
                if (phase_ == Phase::kProbingRanges) DecideOnRanges();
            });
        }
    }
}

void CHttpDownloadFile::OnTick() {
    // Also a stream that has brought nothing since its answer is judged.
    if (phase_ == Phase::kProbingRanges && ::GetTickCount() - probeTick_ >= kProbeMs) DecideOnRanges();
    if (segmented_.Active()) {
        segmented_.OnTick();
        // The sum over the connections, in the same samples as one stream.
        if (!segmented_.Active() || !progress_) return;
        speedSamples_.push_back(bytesSinceTick_);
        bytesSinceTick_ = 0;
        if (speedSamples_.size() > kSpeedSamples) speedSamples_.pop_front();
        const uint64_t sum = std::accumulate(speedSamples_.begin(), speedSamples_.end(), uint64_t{0});
        progress_(static_cast<int64_t>(segmented_.Total()), static_cast<int64_t>(segmented_.Written()),
                  static_cast<uint32_t>(sum / kSpeedSamples));
        return;
    }
    if (!progress_ || contentLength_ == 0) return;
    speedSamples_.push_back(bytesSinceTick_);
    received_ += bytesSinceTick_;
    bytesSinceTick_ = 0;
    if (speedSamples_.size() > kSpeedSamples) speedSamples_.pop_front();
    // The divisor stays 10 while fewer samples exist: the speed ramps up.
    const uint64_t sum = std::accumulate(speedSamples_.begin(), speedSamples_.end(), uint64_t{0});
    const uint32_t speed = static_cast<uint32_t>(sum / kSpeedSamples);
    const int64_t offset = static_cast<int64_t>(ResumeOffset());
    progress_(offset + contentLength_, offset + static_cast<int64_t>(received_), speed);
}

void CHttpDownloadFile::Done(int32_t curlResult) {
    if (!IsStarted()) return;
    RecordResult(HttpResult{kHttpErrorCurl, curlResult});
    EndAttempt();  // the sink's failure, or what the transfer refused, joins the record here
    HttpResult result = TakeResult();
    if (result.type == kPieceMismatch.type && result.code == kPieceMismatch.code && pieces_) {
        // The stream's sink refused a piece's last bytes: the file ends inside
        // that piece, whose bytes go; the next address writes it again.
        const uint64_t start = pieces_->AlignDown(static_cast<uint64_t>(std::max<int64_t>(LocalFileSize(localPath_), 0)));
        KV_LOG(kToTrace | kToFile, Error, L"CHttpDownloadFile 分块校验失败 piece:%d url:%s", static_cast<int>(pieces_->IndexOf(start)),
               GetUrl().c_str());
        if (!CutFile(localPath_, start)) result = FileFailure();
    }
    // Ended well, yet the file is not the package: a body without a length
    // that stopped early (resumed like a cut transfer), or one too long.
    const int64_t size = LocalFileSize(localPath_);
    if (result.type == kHttpErrorOk && expectedSize_ != 0 && size != expectedSize_) {
        KV_LOG(kToTrace | kToFile, Error, L"CHttpDownloadFile::Done() the file ends at %lld bytes, not %lld url:%s",
               static_cast<long long>(size), static_cast<long long>(expectedSize_), GetUrl().c_str());
        result = size < expectedSize_ ? kCutShort : kLengthMismatch;
    }

    if (AttemptCount() <= MaxRetries() && RetryAtSameAddress(result)) {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info),
               L"CHttpDownloadFile::Done() 重试.... code:%d errtype:%d  url:%s ", result.code, result.type,
               GetUrl().c_str());
        if (QueueAttempt()) return;
    } else if (TryAnotherAddress(result) && urlList_.size() >= 2) {
        SetAttemptCount(0);
        const std::wstring failedUrl = urlList_.front();
        urlList_.erase(urlList_.begin());
        fallback_.DropFront();
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info),
               L"CHttpDownloadFile::Done() type:%d code:%d  url:%s 下载失败，尝试使用备用地址:%s", result.type, result.code,
               failedUrl.c_str(), GetUrl().c_str());
        if (QueueAttempt()) return;
    } else if (ResolveAgain(result) && !mainUrl_.empty() && !fallback_.Used()) {
        if (StartAddressFallback(result)) return;
    }
    if (result.type != kHttpErrorOk) {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info), L"CHttpDownloadFile::Done()  code:%d errtype:%d  url:%s ",
               result.code, result.type, GetUrl().c_str());
    }
    Finish(result.type, result.code);
}

bool CHttpDownloadFile::StartAddressFallback(const HttpResult& result) {
    SetAttemptCount(0);
    KV_LOG(kToTrace | kToFile, Info, L"CHttpDownloadFile::Done() 开始重试DNS解析.... type:%d code:%d  url:%s ", result.type,
           result.code, mainUrl_.c_str());
    RequestRetryDelay();
    CancelResolver(kResolverRestartMs);
    dnsToken_ = Tokens().Issue(this);
    const auto deliver = [token = dnsToken_](int code, const std::string& host, const std::string& ipList) {
        OnSpareDNSResult(code, token, host, ipList);
    };
    if (fallback_.Start(mainUrl_, result, deliver)) {
        SetPhase(Phase::kResolving);
        return true;
    }
    // No resolver run (host too short, or no thread): the run ends with the
    // failure that led to the fallback.
    Tokens().Drop(dnsToken_);
    SetRetryPending(false);
    return false;
}

void CHttpDownloadFile::CancelResolver(DWORD waitMs) {
    if (dnsToken_ == 0) return;
    fallback_.Cancel(waitMs);
    Tokens().Drop(dnsToken_);
}

void CHttpDownloadFile::OnSpareDNSResult(int code, uintptr_t token, const std::string& hostName,
                                         const std::string& ipList) {
    const std::wstring host = Utf8ToWide(hostName);
    const std::wstring addresses = Utf8ToWide(ipList);
    if (code != 0 || ipList.empty()) {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info), L"OnSpareDNSResult 失败 code:%d, domain:%s", code,
               host.c_str());
    } else {
        KV_LOG(kToTrace | kToFile, Info, L"OnSpareDNSResult 解析成功 code:%d, domain:%s, ip_list:%s", code, host.c_str(),
               addresses.c_str());
    }
    CHttpDownloadFile* self = Tokens().Find(token);
    if (!self || self->dnsToken_ != token) {
        KV_LOG(kToTrace | kToFile, Error, L"DNS回调失效 找不到相关任务 id:0x%x %s", static_cast<unsigned>(token), host.c_str());
        return;
    }
    self->OnDNSResult(code, host, addresses);
}

void CHttpDownloadFile::OnDNSResult(int code, const std::wstring& hostName, const std::wstring& ipList) {
    if (!fallback_.Join()) {
        KV_LOG(kToTrace | kToFile, Error, L"DNS线程应答后未在时限内结束 %s", hostName.c_str());
    }
    Tokens().Drop(dnsToken_);
    const HttpResult logged = Attempt().Result();
    if (phase_ != Phase::kResolving || mainUrl_.empty()) {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info),
               L"CHttpDownloadFile::OnDNSResult() 状态不对，忽略 type:%d code:%d  url:%s ", logged.type, code,
               GetUrl().c_str());
        PostFailure();
        return;
    }
    // The main URL once per address found; only the connection goes there.
    urlList_.assign(fallback_.Accept(mainUrl_, hostName, ipList), mainUrl_);
    if (!urlList_.empty()) {
        SetAttemptCount(0);
        KV_LOG(kToTrace | kToFile, Info, L"CHttpDownloadFile::Done() 重试DNS解析到的ip列表.... type:%d code:%d  url:%s ",
               logged.type, code, GetUrl().c_str());
        if (QueueAttempt()) return;
    } else {
        KV_LOG(kToTrace | kToFile, LogLevels(Error, Info),
               L"CHttpDownloadFile::OnDNSResult() 解析DNS失败 type:%d code:%d  url:%s ", logged.type, code,
               GetUrl().c_str());
    }
    PostFailure();
}

void CHttpDownloadFile::PostFailure() {
    const HttpResult failure = fallback_.Failure();
    Tokens().Drop(postedToken_);
    postedToken_ = Tokens().Issue(this);
    PostToMainThread(&CHttpDownloadFile::DeliverPostedFailure, postedToken_, failure.type, failure.code);
}

void CHttpDownloadFile::DeliverPostedFailure(uintptr_t token, int32_t errorType, int32_t code) {
    CHttpDownloadFile* self = Tokens().Find(token);
    if (!self || self->postedToken_ != token) return;  // cancelled or destroyed meanwhile
    Tokens().Drop(self->postedToken_);
    self->Finish(errorType, code);
}

void CHttpDownloadFile::Finish(int32_t errorType, int32_t code) {
    SetPhase(Phase::kEnding);
    urlList_.clear();
    fallback_.ClearAddresses();
    SetRetryPending(false);
    if (completion_) completion_(HttpResult{errorType, code});
}

DownloadWriteFile* CHttpDownloadFile::NewFileSink() { return new DownloadWriteFile(); }

bool CHttpDownloadFile::CanSegment() const {
    return maxConnections_ > 1 && expectedSize_ >= kMinSegmentedSize && !rangesRefused_ && !controlStuck_;
}

HttpResult CHttpDownloadFile::PrepareResume(std::vector<ByteRange>* missing) {
    if (controlStuck_) return CheckPieces(missing, false);
    const std::wstring controlPath = CRangeControlFile::PathFor(localPath_);
    CRangeControlFile::State state;
    const CRangeControlFile::Parse parse = CRangeControlFile::Load(controlPath, &state);
    if (parse == CRangeControlFile::Parse::Absent) return CheckPieces(missing, false);
    const int64_t fileSize = std::max<int64_t>(LocalFileSize(localPath_), 0);
    const CRangeControlFile::Resume resume =
        CRangeControlFile::Decide(parse, state, static_cast<uint64_t>(std::max<int64_t>(expectedSize_, 0)),
                                  static_cast<uint64_t>(fileSize));
    if (resume.kind == CRangeControlFile::Resume::Ranges && CanSegment()) {
        *missing = resume.missing;
        if (!pieces_) return HttpResult();
        const HttpResult checked = CheckPieces(missing, resume.piecesVerified);
        // Every piece is there after all (written before a power cut took
        // the last save): the file is complete.
        if (missing->empty() && !CRangeControlFile::Remove(controlPath)) controlStuck_ = true;
        return checked;
    }
    uint64_t keep = static_cast<uint64_t>(fileSize);
    if (resume.kind == CRangeControlFile::Resume::Prefix) keep = resume.prefix;
    if (resume.kind == CRangeControlFile::Resume::Ranges) keep = resume.missing.front().from;
    KV_LOG(kToTrace | kToFile, Info, L"控制文件不可用于分段续传 parse:%d 保留前缀:%lld 文件:%lld", static_cast<int>(parse),
           static_cast<long long>(keep), static_cast<long long>(fileSize));
    // The file first: once it is a plain prefix, losing the control file is harmless.
    if (keep < static_cast<uint64_t>(fileSize) && !CutFile(localPath_, keep)) {
        // Not a plain prefix yet: a single stream would take the bytes past
        // the prefix (gaps included) for a complete start.
        return FileFailure();
    }
    if (keep == 0) sourcesUsed_.clear();  // no byte of any source is left
    // Something that cannot be removed (a folder, a locked file) sits at the
    // name: this run keeps to one stream and does not cut its file again at
    // every retry.
    if (!CRangeControlFile::Remove(controlPath)) controlStuck_ = true;
    return CheckPieces(missing, false);
}

HttpResult CHttpDownloadFile::CheckPieces(std::vector<ByteRange>* missing, bool trustWritten) {
    const int64_t length = LocalFileSize(localPath_);
    if (!pieces_ || length <= 0 || static_cast<uint64_t>(length) > pieces_->Total()) return HttpResult();  // nothing to keep
    // A plain prefix is what is missing past its end.
    const bool plain = missing->empty();
    if (plain) missing->push_back({static_cast<uint64_t>(length), pieces_->Total()});
    if (!check_ || check_->IsRunning() || !check_->Asks(*missing, trustWritten, knownGood_)) {
        // Hashing up to the whole file takes seconds: a worker does it.
        CancelCheck();
        checkToken_ = Tokens().Issue(this);
        check_.reset(new CPieceCheckThread(pieces_, localPath_, *missing, trustWritten, knownGood_,
                                           &CHttpDownloadFile::OnPiecesChecked, checkToken_));
        if (check_->StartThread()) {
            SetPhase(Phase::kCheckingPieces);
            // The bytes the file already holds show while their pieces are
            // checked (seconds for a large file), not an empty bar.
            uint64_t held = pieces_->Total();
            for (const ByteRange& m : *missing) held -= m.to - m.from;
            if (progress_) progress_(static_cast<int64_t>(pieces_->Total()), static_cast<int64_t>(held), 0);
            return HttpResult();
        }
        CancelCheck();
        return kSinkOpenFailed;  // no thread: the attempt fails and is retried
    }
    const std::unique_ptr<CPieceCheckThread> check = std::move(check_);
    // Without a handle nothing is trusted beyond what the control file says
    // (a plain prefix: the stream's own open reports what is wrong).
    if (!check->Opened()) {
        if (plain) missing->clear();
        return HttpResult();
    }
    std::vector<ByteRange> needed = check->Needed();
    missing->clear();
    const uint64_t goodPrefix = needed.empty() ? pieces_->Total() : needed.front().from;
    knownGood_ = std::max(knownGood_, goodPrefix);
    KV_LOG(kToTrace | kToFile, Info, L"CHttpDownloadFile 分块检查 前缀:%llu 缺少:%d", static_cast<unsigned long long>(goodPrefix),
           static_cast<int>(needed.size()));
    // Complete, or a plain prefix whose pieces all match: the stream goes on from its end.
    if (needed.empty() || (plain && needed.size() == 1 && needed.front().from == pieces_->AlignDown(static_cast<uint64_t>(length)))) {
        return HttpResult();
    }
    if (CanSegment()) {
        *missing = std::move(needed);
        return HttpResult();
    }
    // One stream: from the first piece that is not good.
    return CutFile(localPath_, goodPrefix) ? HttpResult() : FileFailure();
}

void CHttpDownloadFile::CancelCheck() {
    Tokens().Drop(checkToken_);
    // A thread that does not end in time is left its object (leaked) to end with.
    if (check_ && !check_->StopThread(kCheckStopMs)) check_.release();
    check_.reset();
}

void CHttpDownloadFile::OnPiecesChecked(uintptr_t token) {
    CHttpDownloadFile* self = Tokens().Find(token);
    if (!self || self->checkToken_ != token) return;  // stopped or destroyed meanwhile
    Tokens().Drop(self->checkToken_);
    // The answer outlives the attempt's end; the attempt starts again at
    // once and counts as the same one.
    std::unique_ptr<CPieceCheckThread> check = std::move(self->check_);
    if (!check->JoinThread(kCheckStopMs)) check.release();  // posted at its very end: it ends at once
    self->EndAttempt();
    self->check_ = std::move(check);
    self->SetAttemptCount(self->AttemptCount() - 1);
    self->SetPhase(Phase::kWaitingToRetry);
    if (!SubmitDownload(self)) self->Finish(kSinkOpenFailed.type, kSinkOpenFailed.code);
}

bool CHttpDownloadFile::BeginSegmented(const std::vector<ByteRange>& missing) {
    std::vector<CSegmentedDownload::Source> sources;
    for (size_t i = 0; i < urlList_.size(); ++i) {
        CSegmentedDownload::Source source;
        source.url = urlList_[i];
        if (const std::wstring* address = fallback_.Address(i)) {
            source.pinnedHost = fallback_.Host();
            source.pinnedAddress = *address;
        }
        sources.push_back(source);
    }
    segmented_.SetPieces(pieces_);
    return segmented_.Begin(localPath_, static_cast<uint64_t>(expectedSize_), missing, sources, maxConnections_, Timeouts());
}

void CHttpDownloadFile::SwitchToSegmented() {
    // This transfer ends here, so what it wrote is a plain prefix of the file.
    if (Transfer() && Worker()) Worker()->RemoveTransfer(CRefPtr<CCurlBase>(Transfer()));
    ReleaseTransfer();
    NoteStreamSpan();
    const int64_t written = std::max<int64_t>(LocalFileSize(localPath_), 0);
    if (written < expectedSize_ && BeginSegmented({ByteRange{static_cast<uint64_t>(written), static_cast<uint64_t>(expectedSize_)}})) {
        SetPhase(Phase::kRanges);
        return;
    }
    // Not possible now: the single stream again, from where it stopped.
    rangesRefused_ = true;
    EndAttempt();
    if (!QueueAttempt()) Finish(kSinkOpenFailed.type, kSinkOpenFailed.code);
}

void CHttpDownloadFile::OnSegmentedAnswer() {
    if (progress_) {
        progress_(static_cast<int64_t>(segmented_.Total()), static_cast<int64_t>(segmented_.Written()), 0);
    }
}

void CHttpDownloadFile::OnSegmentedBytes(uint32_t count) { bytesSinceTick_ += count; }

void CHttpDownloadFile::OnSegmentedSourceUsed(const std::wstring& url) {
    rangesServed_ = true;
    NoteSource(url);
}

void CHttpDownloadFile::OnSegmentedEnd(CSegmentedDownload::End end, const HttpResult& result) {
    EndAttempt();  // out of the scheduler; the connections have ended already
    if (end == CSegmentedDownload::End::Complete) {
        Finish(kHttpErrorOk, 0);
        return;
    }
    if (end == CSegmentedDownload::End::SingleStream && !rangesServed_) {
        // No source serves ranges: on as one stream from the complete prefix
        // (PrepareResume cuts the file to it), with the usual answers.
        rangesRefused_ = true;
        SetAttemptCount(0);
        if (QueueAttempt()) return;
    } else if (!mainUrl_.empty() && !fallback_.Used() && ResolveAgain(result)) {
        // Every source failed, or none serves ranges after some did (their
        // bytes stay): the address fallback, as for a single stream. The
        // control file stays, so the addresses resume every range. A range's
        // write that met the disk or a locked file ends here.
        if (StartAddressFallback(result)) return;
    }
    KV_LOG(kToTrace | kToFile, LogLevels(Error, Info), L"CHttpDownloadFile::Done()  code:%d errtype:%d  url:%s ",
           result.code, result.type, GetUrl().c_str());
    Finish(result.type, result.code);
}
