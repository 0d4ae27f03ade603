#include "Http/HttpBase.h"

#include <windows.h>

#include "Http/CurlWorkshop.h"
#include "Http/HttpMgr.h"

CHttpBase::~CHttpBase() { CHttpBase::Stop(); }

bool CHttpBase::OwnsTransfer(const CCurlBase* transfer) const {
    return transfer && static_cast<const CCurlBase*>(transfer_.get()) == transfer;
}

bool CHttpBase::SetupTransfer() {
    if (!transfer_) return false;
    return transfer_->Configure(GetUrl(), method_, timeouts_, resumeOffset_);
}

bool CHttpBase::Start() {
    if (started_) return false;
    ++attemptCount_;
    started_ = true;
    // A run cancelled by Stop() leaves its entries behind (a status that
    // arrived before the cancel, its sink's failure); they must not classify
    // this attempt.
    attempt_.Clear();
    if (transfer_ && !SetupTransfer()) {
        // No easy handle: the worker would drop the transfer silently and the
        // task would never end. Report the failure through the usual path.
        transfer_->PostTransferDone(CURLE_FAILED_INIT);
        return true;
    }
    if (transfer_ && worker_) worker_->AddTransfer(CRefPtr<CCurlBase>(transfer_.get()));
    return true;
}

bool CHttpBase::Stop() {
    if (started_) {
        started_ = false;
        if (transfer_ && worker_) worker_->RemoveTransfer(CRefPtr<CCurlBase>(transfer_.get()));
    }
    ReleaseTransfer();
    if (scheduler_ && scheduler_->RemoveTask(this)) {
        scheduler_ = nullptr;
        worker_ = nullptr;
    }
    return true;
}

void CHttpBase::RequestRetryDelay() {
    retryPending_ = true;
    retryTick_ = ::GetTickCount();
}

void CHttpBase::SetTransfer(CCurlHttp* transfer) {
    ReleaseTransfer();
    transfer_ = transfer;
}

void CHttpBase::ReleaseTransfer() {
    if (!transfer_) return;
    transfer_->SetAlive(false);
    if (worker_) worker_->Wake();  // the worker drops it on its next pass
    transfer_->CloseStreams();
    attempt_.Record(transfer_->Refusal());
    attempt_.Record(transfer_->SinkFailure());
    transfer_.reset();
}

HttpResult CHttpBase::TakeResult() {
    const HttpResult result = attempt_.Result();
    attempt_.Clear();
    return result;
}
