#pragma once
// CHttpDownloadFile: downloads one URL into one local file on the download
// engine. Resumes a partial file with a byte range, checks the announced
// length against the expected size, retries an address 3 times on a network
// failure, moves on to the mirrors, then resolves the main host with its own
// resolver and tries the main URL at each address found (the host name stays
// in the request and TLS). A failure of the disk or a file held by another
// program ends the run at once; a web page answered instead of the file
// (a sign-in page) is refused before a byte reaches the file, and only the
// mirrors follow it. A whole answer to a resumed request replaces the
// partial file only when it announces the expected size, and a transfer
// that leaves the file at another length fails. Every run started by
// Download() ends in exactly one completion (unless the owner cancels with
// Stop()); progress comes once a second. A package of 8 MiB or more whose
// server answers ranges is fetched over several connections and sources at
// once (CSegmentedDownload); the owner still sees one download. With piece
// digests every piece is checked as it lands (by either path), a resumed
// file's pieces before they are trusted, and a bad piece is fetched again
// from another source. Main thread only (the resolver reports through the
// dispatcher).
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Http/AddressFallback.h"
#include "Http/HttpBase.h"
#include "Http/HttpResult.h"
#include "Http/PieceCheckThread.h"
#include "Http/PieceDigests.h"
#include "Http/SegmentedDownload.h"
#include "Runtime/MainThreadTask.h"

class DownloadWriteFile;

class CHttpDownloadFile : public CHttpBase, private CSegmentedDownload::Listener {
public:
    // Where a run stands; changed only by SetPhase, which logs each change.
    enum class Phase {
        kIdle,            // no run, or it was stopped
        kSingleStream,    // one transfer writes the file from its end
        kProbingRanges,   // that transfer's answer carried a range: its speed decides on ranges
        kRanges,          // parallel ranges (CSegmentedDownload)
        kWaitingToRetry,  // queued in the engine: the first attempt, or the next after a delay
        kResolving,       // the own resolver looks up the main host (or its failure is posted)
        kEnding,          // the completion has been delivered
        kCheckingPieces,  // a worker checks the partial file's pieces; the attempt then starts again
    };

    // (0, 0) is success.
    using Completion = std::function<void(const HttpResult& result)>;
    // (total bytes, downloaded bytes, bytes per second).
    using Progress = std::function<void(int64_t total, int64_t downloaded, uint32_t speed)>;

    static constexpr size_t kSpeedSamples = 10;
    static constexpr DWORD kResolverCancelMs = 1000;   // bound on stopping the resolver at teardown
    // Smallest package fetched in parallel ranges.
    static constexpr int64_t kMinSegmentedSize = 8 * 1024 * 1024;
    // After the first answer that carries the package's range, the stream
    // runs alone this long; a stream at least this fast stays alone.
    static constexpr DWORD kProbeMs = 250;
    static constexpr uint64_t kFastStreamBytesPerSec = 64ull * 1024 * 1024;

    CHttpDownloadFile();
    // Cancels the run and stops the resolver thread before anything goes.
    ~CHttpDownloadFile() override;

    // The owner's callbacks, used by every later run.
    void SetCallbacks(Completion completion, Progress progress) {
        completion_ = std::move(completion);
        progress_ = std::move(progress);
    }
    // mirrors: alternate URLs separated by ';'. expectedSize 0 = unknown. An empty url with
    // mirrors fails like a malformed address and the mirrors follow. False
    // when there is no address at all, a run is still going (the owner must
    // Stop() first) or the engine is missing.
    bool Download(const std::wstring& mirrors, const std::wstring& url, const std::wstring& localPath,
                  int64_t expectedSize);

    // The current URL (front of the URL list), "" when there is none.
    const std::wstring& GetUrl() const override;
    // The common options plus a large receive buffer for file bodies, and
    // the current URL's pinned address.
    bool SetupTransfer() override;
    bool Start() override;
    // Cancels: the transfer is dropped, the task leaves its scheduler, a
    // running resolver is stopped and no completion follows. Call it also
    // after consuming a completion, before the next Download().
    bool Stop() override;
    void Done(int32_t curlResult) override;
    void OnHttpStatus(int32_t status) override;
    void OnTick() override;
    void OnBytesReceived(uint32_t count) override;

    // The resolver's result callback (posted to the main thread). `token` is
    // the one the run was started with; a token whose task has gone or
    // moved on is logged and ignored.
    static void OnSpareDNSResult(int code, uintptr_t token, const std::string& hostName, const std::string& ipList);
    void OnDNSResult(int code, const std::wstring& hostName, const std::wstring& ipList);

    // The addresses a run tries, in order: `url`, then each mirror of the
    // ';'-separated list that is not a copy of it and has at least 3 characters.
    static std::vector<std::wstring> AddressList(const std::wstring& mirrors, const std::wstring& url);

    // The piece digests of the package (of the expected size) for the next
    // runs (null: none). Another list forgets which pieces were checked.
    void SetPieceDigests(std::shared_ptr<const CPieceDigests> pieces);

    // Connections at once for a package fetched in ranges (1 to 4; 1 keeps
    // every download a single stream).
    void SetMaxConnections(size_t connections) { maxConnections_ = connections; }
    bool IsSegmented() const { return segmented_.Active(); }
    // A single stream at least this fast (bytes a second over kProbeMs) is
    // not split (kFastStreamBytesPerSec unless set).
    void SetFastStreamRate(uint64_t bytesPerSec) { fastStreamRate_ = bytesPerSec; }

    // Injection point for the resolver list and wait (tests, demos).
    CDNSThread& Resolver() { return fallback_.Resolver(); }
    const std::vector<std::wstring>& UrlList() const { return urlList_; }
    bool OwnDnsFallbackUsed() const { return fallback_.Used(); }
    // The URLs (as given to Download) that delivered at least one byte into
    // the file during the current or last run, in the order of their first
    // byte; "" first when bytes of an earlier run (of unknown sources) are in
    // it. A whole answer that starts the file again forgets the sources
    // before it (their bytes are gone).
    std::vector<std::wstring> SourcesUsed() const { return sourcesUsed_; }
    const std::deque<uint32_t>& SpeedSamples() const { return speedSamples_; }
    bool ResolverRunning() const { return dnsToken_ != 0; }

protected:
    // The file sink of each single-stream attempt, not yet open (the
    // connections of parallel ranges get theirs from NewRangeSink).
    // Injection point for a sink that fails (tests).
    virtual DownloadWriteFile* NewFileSink();

private:
    void SetPhase(Phase next);
    // Stop() without leaving the phase: the transfer, the resolver and any
    // posted failure are dropped, the task leaves its scheduler.
    void EndAttempt();
    // Waits for the engine to start the next attempt; false when it is gone.
    bool QueueAttempt();
    bool CanSegment() const;
    // Reads the control file of an earlier segmented run: fills `missing`
    // when its ranges can be resumed; otherwise cuts the partial file to the
    // prefix known to be complete and removes the control file. The pair of
    // a cut that failed (the file is no plain prefix), else (0, 0).
    HttpResult PrepareResume(std::vector<ByteRange>* missing);
    // With piece digests: checks the pieces of the partial file that are not
    // known to be good (all but `missing` when the control file vouches for
    // them) and gives what must still be fetched in `missing`; without
    // ranges, bad pieces cut the file back to the first of them. The hashing
    // runs on a worker (phase kCheckingPieces); its answer restarts the
    // attempt, whose second pass asks the same and takes that answer.
    HttpResult CheckPieces(std::vector<ByteRange>* missing, bool trustWritten);
    // Stops a piece check (bounded) and forgets its answer.
    void CancelCheck();
    static void OnPiecesChecked(uintptr_t token);
    bool BeginSegmented(const std::vector<ByteRange>& missing);
    // The single stream's answer carried the package's range and it has run
    // for kProbeMs: in parallel ranges unless it is fast already.
    void DecideOnRanges();
    void SwitchToSegmented();
    // Logs the span the single stream's transfer wrote and notes its source.
    void NoteStreamSpan();
    void NoteSource(const std::wstring& url);
    void OnSegmentedAnswer() override;
    void OnSegmentedBytes(uint32_t count) override;
    void OnSegmentedSourceUsed(const std::wstring& url) override;
    void OnSegmentedEnd(CSegmentedDownload::End end, const HttpResult& result) override;
    void Finish(int32_t errorType, int32_t code);
    // Resolves the main host with the own resolver after `result`; false
    // (no retry pending) when no resolver run could start.
    bool StartAddressFallback(const HttpResult& result);
    void CancelResolver(DWORD waitMs);
    void PostFailure();
    static void DeliverPostedFailure(uintptr_t token, int32_t errorType, int32_t code);

    Phase phase_ = Phase::kIdle;
    std::wstring mainUrl_;
    CAddressFallback fallback_;
    std::wstring localPath_;
    int64_t expectedSize_ = 0;
    Completion completion_;
    Progress progress_;
    std::vector<std::wstring> urlList_;
    uint64_t received_ = 0;
    uint32_t bytesSinceTick_ = 0;
    int64_t contentLength_ = 0;
    // Where the single stream's transfer began writing.
    uint64_t streamFrom_ = 0;
    std::deque<uint32_t> speedSamples_;
    std::vector<std::wstring> sourcesUsed_;
    size_t maxConnections_ = CSegmentedDownload::kMaxConnections;
    DWORD probeTick_ = 0;
    TaskId probeTask_ = 0;  // decides on ranges kProbeMs after the answer
    uint64_t probeBytes_ = 0;
    uint64_t fastStreamRate_ = kFastStreamBytesPerSec;
    // Facts of the current run:
    // a source wrote bytes into the file through a range: the control file
    // and those bytes are never given up for a single stream in this run;
    bool rangesServed_ = false;
    // ranges are not tried again: the sources refused them, or the file or
    // its control file could not be set up for them;
    bool rangesRefused_ = false;
    // the control file could not be removed: it is not looked at again.
    bool controlStuck_ = false;
    CSegmentedDownload segmented_{this};
    std::shared_ptr<const CPieceDigests> pieces_;
    // Bytes [0, knownGood_) of the file were checked by this process against
    // pieces_: a retry does not hash them again.
    uint64_t knownGood_ = 0;
    // The piece check running, or ended with the answer for the next pass.
    std::unique_ptr<CPieceCheckThread> check_;

    // Live tokens (see the .cpp): a resolver run, a posted failure, a piece check.
    uintptr_t dnsToken_ = 0;
    uintptr_t postedToken_ = 0;
    uintptr_t checkToken_ = 0;
};

// Hands the download to the download engine's scheduler (first submission and
// every retry); false when that engine does not exist. Main thread only.
bool SubmitDownload(CHttpDownloadFile* task);
