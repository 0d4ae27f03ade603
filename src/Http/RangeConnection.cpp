#include "Http/RangeConnection.h"

#include "Http/HttpEngines.h"
#include "Http/HttpMgr.h"
#include "Runtime/TextUtils.h"

namespace {
constexpr long kReceiveBufferBytes = 512L * 1024;  // as the single-stream download
}

bool SubmitRangeConnection(CRangeConnection* connection) {
    return AttachToManager(GetHttpMgr(HttpEngine::Download), connection);
}

CRangeConnection::~CRangeConnection() { Stop(); }

void CRangeConnection::Assign(const Source& source, size_t sourceIndex, RangeWriteFile::SharedFile file,
                              std::shared_ptr<RangeCursor> cursor, uint64_t total) {
    source_ = source;
    sourceIndex_ = sourceIndex;
    file_ = std::move(file);
    cursor_ = std::move(cursor);
    total_ = total;
}

void CRangeConnection::Unassign() {
    file_.reset();
    cursor_.reset();
}

bool CRangeConnection::Start() {
    // Choosing work may end another connection, and its scheduler then
    // offers the waiting tasks, this one included, a start: not twice.
    if (IsStarted() || choosingWork_) return false;
    // The work is chosen now, when the connection can begin, from the
    // positions and speeds of this moment.
    choosingWork_ = true;
    const bool work = owner_->OnConnectionStarting(this);
    choosingWork_ = false;
    if (!work) {
        Unassign();
        Stop();  // nothing to do: out of the scheduler (which allows this during its walk)
        return false;
    }
    requestedFrom_ = cursor_->position.load();
    auto* transfer = new CRangeTransfer(requestedFrom_, total_);
    SetTransfer(transfer);
    transfer->SetListener(Scheduler());
    transfer->SetReportProgress(true);
    transfer->SetRefusePages(true);  // a sign-in page is no answer about ranges
    transfer->SetSink(owner_->NewSink(file_, cursor_));
    SetResumeOffset(requestedFrom_);
    return CHttpBase::Start();
}

void CRangeConnection::FlushReceived() {
    CCurlHttp* transfer = Transfer();
    if (!transfer) return;
    CScopedLock lock(transfer->StreamLock());
    // The sink is always this connection's RangeWriteFile (set in Start); a
    // closed one has nothing gathered.
    if (auto* sink = static_cast<RangeWriteFile*>(transfer->Sink())) sink->Flush();
}

bool CRangeConnection::SetupTransfer() {
    if (!CHttpBase::SetupTransfer()) return false;
    auto* transfer = static_cast<CRangeTransfer*>(Transfer());
    curl_easy_setopt(transfer->EasyHandle(), CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    // A closed range: the answer ends where this range ends, and the
    // connection can carry the next request.
    if (!transfer->RequestRange(cursor_->end.load() - 1)) return false;
    if (source_.pinnedAddress.empty()) return true;
    return transfer->PinHostAddress(WideToUtf8(source_.pinnedHost), WideToUtf8(source_.pinnedAddress));
}

bool CRangeConnection::Stop() {
    SetRetryPending(false);
    return CHttpBase::Stop();
}

void CRangeConnection::OnHttpStatus(int32_t status) {
    if ((status >= 300 && status <= 399) || (status >= 100 && status <= 199)) return;
    RecordResult(HttpResult{kHttpErrorHttp, status});
    auto* transfer = static_cast<CRangeTransfer*>(Transfer());
    if (!transfer) return;
    CRangeTransfer::Verdict verdict = transfer->GetVerdict();
    // An error answer is reported at every header line, before its end.
    if (status < 100 || status > 399) verdict = CRangeTransfer::Verdict::Error;
    owner_->OnConnectionStatus(this, status, verdict);
}

void CRangeConnection::OnBytesReceived(uint32_t count) { owner_->OnConnectionBytes(this, count); }

void CRangeConnection::Done(int32_t curlResult) {
    if (!IsStarted()) return;
    auto* transfer = static_cast<CRangeTransfer*>(Transfer());
    const CRangeTransfer::Verdict verdict = transfer ? transfer->GetVerdict() : CRangeTransfer::Verdict::Pending;
    RecordResult(HttpResult{kHttpErrorCurl, curlResult});
    Stop();  // the sink writes what it gathered; its failure joins the record here
    const HttpResult result = TakeResult();
    owner_->OnConnectionDone(this, result, verdict);  // last: the owner may start this task again
}
