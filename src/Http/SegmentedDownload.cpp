#include "Http/SegmentedDownload.h"

#include <windows.h>

#include <stdlib.h>

#include <algorithm>
#include <numeric>

#include "Http/FailureKind.h"
#include "Http/HttpResultCodes.h"
#include "Http/RangeControlFile.h"
#include "Runtime/Log.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\SegmentedDownload";

// Adds `r` to `ranges`, joined to a range it touches.
void AddRange(std::vector<ByteRange>* ranges, const ByteRange& r) {
    for (ByteRange& x : *ranges) {
        if (x.to == r.from) {
            x.to = r.to;
            return;
        }
        if (r.to == x.from) {
            x.from = r.from;
            return;
        }
    }
    ranges->push_back(r);
}

}  // namespace

RangeWriteFile* CSegmentedDownload::Listener::NewRangeSink(RangeWriteFile::SharedFile file,
                                                           std::shared_ptr<RangeCursor> cursor) {
    return new RangeWriteFile(std::move(file), std::move(cursor));
}

RangeWriteFile* CSegmentedDownload::NewSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor) {
    RangeWriteFile* sink = listener_->NewRangeSink(std::move(file), std::move(cursor));
    if (sink && pieces_) sink->CheckPieces(pieces_);
    return sink;
}

CSegmentedDownload::CSegmentedDownload(Listener* listener) : listener_(listener), slots_(kMaxConnections) {
    for (size_t i = 0; i < slots_.size(); ++i) slots_[i].connection.reset(new CRangeConnection(this, static_cast<int>(i)));
}

CSegmentedDownload::~CSegmentedDownload() { Stop(); }

bool CSegmentedDownload::Begin(const std::wstring& path, uint64_t total, const std::vector<ByteRange>& missing,
                               const std::vector<Source>& sources, size_t connections, const HttpTimeouts& timeouts) {
    Stop();
    if (sources.empty() || connections == 0) return false;
    connections_ = std::min(connections, kMaxConnections);
    plan_.SetGrain(pieces_ ? pieces_->PieceSize() : 0);
    // With digests a range starts and ends on piece boundaries: a piece is
    // written by one connection from its first byte, so it can be hashed
    // as it is written and its source blamed alone.
    plan_.Reset(total, pieces_ ? pieces_->WholePieces(missing) : missing, connections_);
    if (plan_.Complete()) return false;
    path_ = path;
    controlPath_ = CRangeControlFile::PathFor(path);
    hasSaved_ = false;
    beginFailure_ = kSinkOpenFailed;
    // The control file comes first: from the moment the file has bytes out
    // of order (or merely its full length) a killed run must find it.
    SaveState();
    // Read back and compared with the plan: when the new state could not be
    // moved into place, what sits at the name is an older file or someone
    // else's, and its ranges may call bytes written that nobody wrote.
    CRangeControlFile::State saved;
    if (CRangeControlFile::Load(controlPath_, &saved) != CRangeControlFile::Parse::Valid || saved.total != plan_.Total() ||
        saved.prefix != plan_.Prefix() || saved.missing != plan_.Missing()) {
        KV_LOG(kToTrace | kToFile, Error, L"CSegmentedDownload::Begin() 无法写入控制文件 %s", controlPath_.c_str());
        return false;
    }
    uint32_t error = 0;
    file_ = RangeWriteFile::OpenShared(path, total, &error);
    if (!file_) {
        // The control file stays: it describes the file as it is (a plain
        // prefix, or the ranges of an earlier run that are not to be lost).
        const bool locked = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        beginFailure_ = locked ? kFileLocked : HttpResult{kHttpErrorSys, static_cast<int32_t>(error)};
        return false;
    }
    beginFailure_ = HttpResult();
    sources_.clear();
    for (const Source& s : sources) {
        SourceState state;
        state.source = s;
        sources_.push_back(state);
    }
    active_ = true;
    answered_ = false;
    refused_ = false;
    lastFailure_ = HttpResult();
    KV_LOG(kToTrace | kToFile, Info, L"CSegmentedDownload::Begin() 分段下载 %s total:%lld missing:%lld ranges:%d sources:%d",
           path.c_str(), static_cast<long long>(total), static_cast<long long>(plan_.MissingBytes()),
           static_cast<int>(plan_.Ranges().size()), static_cast<int>(sources_.size()));
    for (Slot& slot : slots_) slot.connection->SetTimeouts(timeouts);
    for (size_t i = 0; i < connections_ && active_; ++i) Launch(static_cast<int>(i), false);
    return true;
}

void CSegmentedDownload::Stop() {
    if (!active_) return;
    active_ = false;
    // Once cancelled a connection writes nothing more, so its position is final.
    for (size_t i = 0; i < slots_.size(); ++i) Cancel(static_cast<int>(i));
    SaveState();
    file_.reset();
    LogSources();
}

void CSegmentedDownload::Cancel(int slot) {
    CRangeConnection* connection = slots_[slot].connection.get();
    const bool started = connection->IsStarted();
    connection->Stop();
    if (started && connection->Cursor()) {
        plan_.Advance(slot, connection->Cursor()->kept.load());
        Account(slot);
    }
    plan_.Release(slot);
    connection->Unassign();
}

void CSegmentedDownload::RefreshPositions() {
    for (size_t i = 0; i < slots_.size(); ++i) {
        CRangeConnection* connection = slots_[i].connection.get();
        // Gathered bytes first: a split or a hand-over then starts after
        // everything received, and the control file records it.
        connection->FlushReceived();
        const auto& cursor = connection->Cursor();
        if (!cursor) continue;
        plan_.Advance(static_cast<int>(i), cursor->kept.load());
        Account(static_cast<int>(i));
    }
}

void CSegmentedDownload::Account(int slot) {
    const CRangeConnection* connection = slots_[slot].connection.get();
    const auto& cursor = connection->Cursor();
    if (!cursor || connection->SourceIndex() >= sources_.size()) return;
    const uint64_t position = cursor->position.load();
    uint64_t& accounted = slots_[slot].accounted;
    if (position <= accounted) return;
    SourceState& source = sources_[connection->SourceIndex()];
    const bool first = source.written.empty();
    AddRange(&source.written, ByteRange{accounted, position});
    accounted = position;
    if (first) listener_->OnSegmentedSourceUsed(source.source.url);
}

void CSegmentedDownload::LogSources() const {
    for (const SourceState& s : sources_) {
        if (s.written.empty()) continue;
        std::vector<ByteRange> ranges = s.written;
        std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.from < b.from; });
        std::wstring text;
        uint64_t bytes = 0;
        wchar_t from[24], to[24];  // msvcrt's conversion: std::to_wstring would link a printf of its own
        for (const ByteRange& r : ranges) {
            text = text + L" [" + ::_ui64tow(r.from, from, 10) + L", " + ::_ui64tow(r.to, to, 10) + L")";
            bytes += r.to - r.from;
        }
        KV_LOG(kToTrace | kToFile, Info, L"CSegmentedDownload source %s wrote%s (%llu bytes)", s.source.url.c_str(),
               text.c_str(), static_cast<unsigned long long>(bytes));
    }
}

bool CSegmentedDownload::StateToSave(CRangeControlFile::State* state) {
    RefreshPositions();
    state->total = plan_.Total();
    state->prefix = plan_.Prefix();
    state->missing = plan_.Missing();
    state->piecesVerified = pieces_ != nullptr;
    return !hasSaved_ || state->total != saved_.total || state->prefix != saved_.prefix ||
           state->missing != saved_.missing || state->piecesVerified != saved_.piecesVerified;
}

void CSegmentedDownload::SaveState() {
    EndBackgroundSave();
    CRangeControlFile::State state;
    if (!StateToSave(&state)) return;
    // The bytes the new state calls written reach the disk before it does:
    // after a power cut, a control file ahead of the data would call zeros
    // written. When they cannot be flushed, the older state (which claims
    // less) stays.
    if (file_ && !::FlushFileBuffers(file_->handle.get())) {
        KV_LOG(kToFile, Error, L"CSegmentedDownload flushing the file failed %s err:%d", path_.c_str(),
               static_cast<int>(::GetLastError()));
        return;
    }
    if (!CRangeControlFile::Save(controlPath_, state)) {
        KV_LOG(kToFile, Error, L"CSegmentedDownload 控制文件写入失败 %s err:%d", controlPath_.c_str(),
               static_cast<int>(::GetLastError()));
        return;
    }
    saved_ = state;
    hasSaved_ = true;
}

void CSegmentedDownload::SaveInBackground() {
    // A disk still busy with the last save: this state waits for the next tick.
    if (saver_ && saver_->IsRunning()) return;
    EndBackgroundSave();
    CRangeControlFile::State state;
    if (!file_ || !StateToSave(&state)) return;
    // Flushing a second's worth of data can take a good part of that second
    // on a slow disk: a worker does it, and the window keeps moving.
    saver_.reset(new CControlSaveThread(file_, controlPath_, state));
    if (!saver_->StartThread()) SaveState();
}

void CSegmentedDownload::EndBackgroundSave() {
    if (!saver_) return;
    saver_->Cancel();
    // A thread that does not end in time is left its object (leaked) to end
    // with; it writes nothing more and lets go of the file once flushed.
    if (!saver_->JoinThread(kSaveWaitMs)) {
        saver_.release();
        return;
    }
    if (saver_->Saved()) {
        saved_ = saver_->Snapshot();
        hasSaved_ = true;
    }
    saver_.reset();
}

std::vector<double> CSegmentedDownload::Speeds() const {
    std::vector<double> speeds(slots_.size(), CRangePlan::kUnknownSpeed);
    for (size_t i = 0; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        if (!slot.connection->IsStarted() || slot.window.empty()) continue;
        const uint64_t sum = std::accumulate(slot.window.begin(), slot.window.end(), uint64_t{0});
        if (sum > 0) {
            speeds[i] = static_cast<double>(sum) / static_cast<double>(slot.window.size());
        } else if (slot.window.size() >= kSpeedWindow) {
            speeds[i] = 0;  // nothing for the whole window: stalled
        }
    }
    return speeds;
}

size_t CSegmentedDownload::StartedOn(size_t source, int except) const {
    size_t count = 0;
    for (size_t i = 0; i < slots_.size(); ++i) {
        const CRangeConnection* c = slots_[i].connection.get();
        if (static_cast<int>(i) != except && c->IsStarted() && c->SourceIndex() == source) ++count;
    }
    return count;
}

int CSegmentedDownload::PickSource() const {
    // The source with the fewest failures in a row, then the fewest
    // connections, then the first: connections spread round the sources and
    // drift away from failing ones.
    int best = -1;
    for (size_t i = 0; i < sources_.size(); ++i) {
        const SourceState& s = sources_[i];
        const size_t load = StartedOn(i, -1);
        if (s.dropped || load >= s.cap) continue;
        if (best < 0) {
            best = static_cast<int>(i);
            continue;
        }
        // A source that wrote a bad piece comes last: the piece is fetched again elsewhere.
        const SourceState& b = sources_[best];
        const size_t bestLoad = StartedOn(static_cast<size_t>(best), -1);
        if (s.badPieces != b.badPieces) {
            if (s.badPieces < b.badPieces) best = static_cast<int>(i);
            continue;
        }
        if (s.strikes < b.strikes || (s.strikes == b.strikes && load < bestLoad)) best = static_cast<int>(i);
    }
    return best;
}

bool CSegmentedDownload::OnConnectionStarting(CRangeConnection* connection) {
    if (!active_) return false;
    const int slot = connection->Slot();
    if (static_cast<size_t>(slot) >= connections_) return false;
    const int source = PickSource();
    if (source < 0) return false;
    RefreshPositions();
    CRangePlan::Work work;
    if (!plan_.Assign(slot, Speeds(), &work)) return false;
    if (work.victim != CRangePlan::kNoOwner) TakeOver(work.victim, work.from);
    auto cursor = std::make_shared<RangeCursor>();
    cursor->position.store(work.from);
    cursor->kept.store(work.from);
    cursor->end.store(work.end);
    connection->Assign(sources_[source].source, static_cast<size_t>(source), file_, cursor, plan_.Total());
    Slot& s = slots_[slot];
    s.window.clear();
    s.bytesThisTick = 0;
    s.accounted = work.from;
    return true;
}

void CSegmentedDownload::TakeOver(int victim, uint64_t from) {
    CRangeConnection* connection = slots_[victim].connection.get();
    const auto& cursor = connection->Cursor();
    if (!cursor) return;
    // The victim's transfer stops where the new owner begins; lowered under
    // the file's lock, so that a write of the victim's in progress ends first.
    if (file_) {
        CScopedLock lock(file_->lock);
        cursor->end.store(from);
    } else {
        cursor->end.store(from);
    }
    if (cursor->position.load() < from) return;  // split: it goes on to its new end
    // Taken whole (it had stalled): end it now and count the stall against
    // its source; the slot comes back after the retry delay.
    const size_t source = connection->SourceIndex();
    KV_LOG(kToTrace | kToFile, Info, L"CSegmentedDownload 接管停滞的分段 slot:%d pos:%lld url:%s", victim,
           static_cast<long long>(from), connection->GetUrl().c_str());
    connection->Stop();
    Account(victim);
    connection->Unassign();
    if (source < sources_.size() && ++sources_[source].strikes >= kMaxStrikes) {
        sources_[source].dropped = true;
        lastFailure_ = kRangeSourceStalled;
    }
    Launch(victim, true);
}

void CSegmentedDownload::OnConnectionStatus(CRangeConnection* connection, int32_t, CRangeTransfer::Verdict verdict) {
    if (!active_ || verdict != CRangeTransfer::Verdict::Partial) return;
    const size_t source = connection->SourceIndex();
    if (source < sources_.size()) sources_[source].strikes = 0;
    if (answered_) return;
    answered_ = true;
    listener_->OnSegmentedAnswer();
}

void CSegmentedDownload::OnConnectionBytes(CRangeConnection* connection, uint32_t count) {
    if (!active_) return;
    slots_[connection->Slot()].bytesThisTick += count;
    listener_->OnSegmentedBytes(count);
}

void CSegmentedDownload::OnConnectionDone(CRangeConnection* connection, const HttpResult& result,
                                          CRangeTransfer::Verdict verdict) {
    if (!active_) return;
    const int slot = connection->Slot();
    const size_t source = connection->SourceIndex();
    const uint64_t badPiece = connection->Cursor() ? connection->Cursor()->badPiece.load() : 0;
    if (connection->Cursor()) plan_.Advance(slot, connection->Cursor()->kept.load());
    Account(slot);
    const CRangePlan::Range* range = plan_.RangeOf(slot);
    const bool rangeDone = !range || range->Left() == 0;
    plan_.Release(slot);
    connection->Unassign();

    // The sink met a full or read-only disk, or a file another program
    // holds: every connection and every source would meet it too. The
    // download ends now with that pair (no source is blamed); the bytes
    // written and the control file stay for a later run. libcurl's own write
    // error is no such failure: it is a refused answer, judged by its verdict.
    const FailureKind kind = Classify(result);
    if (result.type != kHttpErrorCurl && (kind == FailureKind::kDisk || kind == FailureKind::kLocked)) {
        KV_LOG(kToTrace | kToFile, Error, L"CSegmentedDownload 写入失败，结束下载 slot:%d type:%d code:%d", slot, result.type,
               result.code);
        lastFailure_ = result;
        Finish(End::Failed);
        return;
    }

    bool delay = false;
    if (badPiece != 0 && source < sources_.size()) {
        BadPiece(source, static_cast<size_t>(badPiece - 1), slot);
    } else if (!rangeDone && source < sources_.size()) {
        SourceState& s = sources_[source];
        // The reason for the last failure, as the single stream would report it.
        HttpResult failure = result;
        if (failure.type == kHttpErrorOk) failure = kCutShort;
        if (verdict == CRangeTransfer::Verdict::Whole || verdict == CRangeTransfer::Verdict::Mismatch) {
            // A sign-in page says nothing about ranges: its source is dropped
            // without making the download one stream, which would cut the
            // file to its prefix and lose every range beyond it. Any other
            // answer is not the range asked for; its refused body ended the
            // transfer with a write error, which is no disk's fault.
            const bool signIn = Classify(failure) == FailureKind::kSignIn;
            Drop(source, !signIn, signIn ? failure : kLengthMismatch, slot);
        } else if (verdict == CRangeTransfer::Verdict::Error) {
            // Turned away while other connections to it are being served: the
            // server limits connections; it keeps those it serves.
            const size_t others = StartedOn(source, slot);
            if (others > 0) {
                s.cap = others;
                KV_LOG(kToTrace | kToFile, Info, L"CSegmentedDownload 源限制连接数 %d url:%s code:%d",
                       static_cast<int>(others), s.source.url.c_str(), failure.code);
            } else {
                Drop(source, false, failure, slot);
            }
        } else {
            lastFailure_ = failure;
            delay = true;
            // Cut or refused: one failure of its source; three in a row (no
            // answer with a range between them) drop it.
            if (++s.strikes >= kMaxStrikes) Drop(source, false, failure, slot);
        }
    }
    SaveInBackground();
    if (plan_.Complete()) {
        Finish(End::Complete);
        return;
    }
    if (CheckEnd()) return;
    Launch(slot, delay);
    LaunchIdle();
}

void CSegmentedDownload::Drop(size_t source, bool refused, const HttpResult& result, int except) {
    SourceState& s = sources_[source];
    if (!s.dropped) {
        KV_LOG(kToTrace | kToFile, Error, L"CSegmentedDownload 放弃源 url:%s type:%d code:%d", s.source.url.c_str(),
               result.type, result.code);
    }
    s.dropped = true;
    refused_ = refused_ || refused;
    lastFailure_ = result;
    // Its other connections end now; their ranges go to the other sources.
    for (size_t i = 0; i < slots_.size(); ++i) {
        CRangeConnection* c = slots_[i].connection.get();
        if (static_cast<int>(i) == except || !c->IsStarted() || c->SourceIndex() != source) continue;
        Cancel(static_cast<int>(i));
        Launch(static_cast<int>(i), false);
    }
}

void CSegmentedDownload::BadPiece(size_t source, size_t piece, int slot) {
    SourceState& s = sources_[source];
    ++s.badPieces;
    lastFailure_ = kPieceMismatch;
    KV_LOG(kToTrace | kToFile, Error, L"CSegmentedDownload 分块校验失败 piece:%d url:%s bad pieces:%d", static_cast<int>(piece),
           s.source.url.c_str(), s.badPieces);
    if (s.badPieces >= kMaxBadPieces) Drop(source, false, kPieceMismatch, slot);
}

void CSegmentedDownload::Launch(int slot, bool afterRetryDelay) {
    if (!active_ || static_cast<size_t>(slot) >= connections_) return;
    CRangeConnection* connection = slots_[slot].connection.get();
    if (connection->IsBusy()) return;
    if (afterRetryDelay) connection->RequestRetryDelay();
    // The work is chosen when the scheduler starts it (OnConnectionStarting).
    if (!SubmitRangeConnection(connection)) connection->SetRetryPending(false);
}

bool CSegmentedDownload::WorthLaunching() const {
    const std::vector<double> speeds = Speeds();
    for (const CRangePlan::Range& r : plan_.Ranges()) {
        if (r.Left() == 0) continue;
        if (r.owner == CRangePlan::kNoOwner || r.Left() >= 2 * plan_.MinPart()) return true;
        if (speeds[static_cast<size_t>(r.owner)] == 0) return true;  // stalled: take it over
    }
    return false;
}

void CSegmentedDownload::LaunchIdle() {
    if (!active_ || !WorthLaunching()) return;
    for (size_t i = 0; i < connections_ && active_; ++i) {
        if (!slots_[i].connection->IsBusy()) Launch(static_cast<int>(i), false);
    }
}

void CSegmentedDownload::OnTick() {
    if (!active_) return;
    for (Slot& slot : slots_) {
        if (slot.connection->IsStarted()) {
            slot.window.push_back(slot.bytesThisTick);
            if (slot.window.size() > kSpeedWindow) slot.window.pop_front();
        } else {
            slot.window.clear();
        }
        slot.bytesThisTick = 0;
    }
    SaveInBackground();
    if (CheckEnd()) return;
    LaunchIdle();
}

bool CSegmentedDownload::CheckEnd() {
    for (const SourceState& s : sources_) {
        if (!s.dropped) return false;
    }
    for (size_t i = 0; i < connections_; ++i) {
        if (slots_[i].connection->IsBusy()) return false;
    }
    Finish(refused_ ? End::SingleStream : End::Failed);
    return true;
}

void CSegmentedDownload::Finish(End end) {
    active_ = false;
    for (size_t i = 0; i < slots_.size(); ++i) Cancel(static_cast<int>(i));
    const uint64_t prefix = plan_.Prefix();
    if (end == End::Complete) {
        EndBackgroundSave();
        file_.reset();
        CRangeControlFile::Remove(controlPath_);
    } else {
        // Every byte written stays recorded; the owner decides what to keep.
        SaveState();
        file_.reset();
    }
    LogSources();
    KV_LOG(kToTrace | kToFile, Info, L"CSegmentedDownload::Finish() end:%d prefix:%lld type:%d code:%d",
           static_cast<int>(end), static_cast<long long>(prefix), lastFailure_.type, lastFailure_.code);
    listener_->OnSegmentedEnd(end, lastFailure_);  // last: the listener may begin again
}
