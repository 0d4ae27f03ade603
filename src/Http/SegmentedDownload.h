#pragma once
// CSegmentedDownload: fetches the missing ranges of one file over up to four
// connections (CRangeConnection tasks of the download engine) spread over
// the sources that answer with the package's range. A connection without
// work takes an unowned range or the far part of the slowest one (all of a
// stalled one); a source that refuses ranges or names another size is
// dropped at once, one that fails three attempts in a row after it. The
// state is kept in the control file beside the file (CRangeControlFile) from
// before the first out-of-order byte until the end; the file's data is
// flushed before each state that records it (while it runs, both on a
// worker: CControlSaveThread). Its owner hears one answer, the bytes, each
// source's first written byte and one end; the log gets the byte ranges
// each source wrote. With piece digests, ranges are cut on
// piece boundaries, a range counts as written only up to its last matching
// piece, a piece that does not match is fetched again from another source
// and a source with kMaxBadPieces such pieces is dropped. Main thread only.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Http/ControlSaveThread.h"
#include "Http/HttpResult.h"
#include "Http/HttpTimeouts.h"
#include "Http/PieceDigests.h"
#include "Http/RangeConnection.h"
#include "Http/RangeControlFile.h"
#include "Http/RangePlan.h"
#include "Http/RangeWriteFile.h"
#include "Runtime/RetryPolicy.h"

class CSegmentedDownload : private CRangeConnection::Owner {
public:
    static constexpr size_t kMaxConnections = 4;
    // Failed attempts in a row after which a source is dropped.
    static constexpr int kMaxStrikes = kv::retry::kRangeSourceStrikes;
    // Pieces that did not match their digest after which a source is dropped.
    static constexpr int kMaxBadPieces = 2;
    // Seconds of byte counts behind a connection's speed; a connection that
    // received nothing for that long has stalled.
    static constexpr size_t kSpeedWindow = 3;
    // Bound on waiting for a background save (a flush of the file) to end.
    static constexpr DWORD kSaveWaitMs = 5000;

    enum class End {
        Complete,      // every byte written; the control file is gone
        SingleStream,  // every source is dropped and one refused ranges; the state is kept (the
                       // owner cuts the file to its complete prefix for a single stream)
        Failed,        // every source failed, or one range's write met the disk or a locked
                       // file; the state is kept for a later resume
    };
    class Listener {
    public:
        // The first answer of this run that carries its range.
        virtual void OnSegmentedAnswer() = 0;
        virtual void OnSegmentedBytes(uint32_t count) = 0;
        // A source's first bytes are in the file (once per source and Begin).
        virtual void OnSegmentedSourceUsed(const std::wstring& /*url*/) {}
        // Once per Begin (not after Stop); `result` is the last failure for
        // Failed (the sink's pair when a write failed). The listener may Begin again or destroy this object.
        virtual void OnSegmentedEnd(End end, const HttpResult& result) = 0;
        // The sink of one connection's attempt; a RangeWriteFile unless the
        // listener makes another.
        virtual RangeWriteFile* NewRangeSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor);

    protected:
        ~Listener() = default;
    };
    using Source = CRangeConnection::Source;

    explicit CSegmentedDownload(Listener* listener);
    ~CSegmentedDownload();
    CSegmentedDownload(const CSegmentedDownload&) = delete;
    CSegmentedDownload& operator=(const CSegmentedDownload&) = delete;

    // Fetches `missing` of the `total`-byte file at `path` over up to
    // `connections` connections spread over `sources`. The control file is
    // written first, then the file gets its full length. False, with
    // nothing started, when either fails (BeginFailure() says why); the
    // control file then stays, describing the file as it is.
    bool Begin(const std::wstring& path, uint64_t total, const std::vector<ByteRange>& missing,
               const std::vector<Source>& sources, size_t connections, const HttpTimeouts& timeouts);
    // The piece digests of the next Begin (null: none).
    void SetPieces(std::shared_ptr<const CPieceDigests> pieces) { pieces_ = std::move(pieces); }
    // Cancels every connection and records where each range stands; no end
    // is reported.
    void Stop();
    // Once a second: speeds, hand-over of stalled ranges, the control file.
    void OnTick();

    bool Active() const { return active_; }
    // Why the last Begin failed: kSinkOpenFailed for the control file, the
    // system's pair (kFileLocked when another program holds it) for the file.
    const HttpResult& BeginFailure() const { return beginFailure_; }
    uint64_t Total() const { return plan_.Total(); }
    // Bytes of the file written so far (as of the last tick or event).
    uint64_t Written() const { return plan_.Total() - plan_.MissingBytes(); }
    // Whether the source of that index is still used.
    bool SourceDropped(size_t index) const { return index < sources_.size() && sources_[index].dropped; }

private:
    struct SourceState {
        Source source;
        bool dropped = false;
        int strikes = 0;
        int badPieces = 0;
        size_t cap = kMaxConnections;  // lowered when the server turns extra connections away
        std::vector<ByteRange> written;  // what its connections wrote in this run
    };
    struct Slot {
        std::unique_ptr<CRangeConnection> connection;
        std::deque<uint32_t> window;  // bytes per second, newest last
        uint32_t bytesThisTick = 0;
        uint64_t accounted = 0;  // the connection's bytes below this are in its source's `written`
    };

    void OnConnectionStatus(CRangeConnection* connection, int32_t status, CRangeTransfer::Verdict verdict) override;
    void OnConnectionBytes(CRangeConnection* connection, uint32_t count) override;
    void OnConnectionDone(CRangeConnection* connection, const HttpResult& result,
                          CRangeTransfer::Verdict verdict) override;
    bool OnConnectionStarting(CRangeConnection* connection) override;
    RangeWriteFile* NewSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor) override;

    void Launch(int slot, bool afterRetryDelay);
    void LaunchIdle();
    bool WorthLaunching() const;
    int PickSource() const;
    size_t StartedOn(size_t source, int except) const;
    std::vector<double> Speeds() const;
    void TakeOver(int victim, uint64_t from);
    void Drop(size_t source, bool refused, const HttpResult& result, int except);
    // A piece written by `source` did not match: a bad piece of its source.
    void BadPiece(size_t source, size_t piece, int slot);
    void Cancel(int slot);
    void RefreshPositions();
    // Credits the bytes the slot's connection wrote since the last call to its source.
    void Account(int slot);
    void LogSources() const;
    // The current state, and whether it differs from the one last saved.
    bool StateToSave(CRangeControlFile::State* state);
    // Flushes the file and saves the state now (main thread: ends a
    // background save first).
    void SaveState();
    // The same on a worker (CControlSaveThread), unless one still runs.
    void SaveInBackground();
    // Cancels a background save and waits (kSaveWaitMs) for it to end;
    // takes its state when it was saved.
    void EndBackgroundSave();
    bool CheckEnd();
    void Finish(End end);

    Listener* listener_;
    bool active_ = false;
    bool answered_ = false;
    bool refused_ = false;  // a source refused ranges or named another size
    HttpResult lastFailure_;
    HttpResult beginFailure_;
    // The state last saved, not saved again while unchanged.
    CRangeControlFile::State saved_;
    bool hasSaved_ = false;
    std::unique_ptr<CControlSaveThread> saver_;
    std::wstring path_;
    std::wstring controlPath_;
    RangeWriteFile::SharedFile file_;
    CRangePlan plan_;
    std::shared_ptr<const CPieceDigests> pieces_;
    std::vector<SourceState> sources_;
    std::vector<Slot> slots_;
    size_t connections_ = 0;
};
