#include "Http/HttpMgr.h"

#include <windows.h>

#include <algorithm>

#include "Http/HttpBase.h"
#include "Http/HttpEngines.h"
#include "Runtime/Log.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\HttpMgr";

// Shared by both engines: the first submission gets identifier 1.
int32_t g_taskCounter = 0;

}  // namespace

bool AttachToManager(CHttpMgr* scheduler, CHttpBase* task) {
    if (!scheduler || !task) return false;
    task->BindToEngine(scheduler, scheduler->Worker());
    scheduler->AddTask(task);
    return true;
}

CHttpMgr::CHttpMgr(CCurlWorkshop* worker, int32_t maxRunning) : maxRunning_(maxRunning), worker_(worker) {}

CHttpMgr::~CHttpMgr() { ClearTasks(); }

CHttpBase* CHttpMgr::FindTask(const CCurlBase* transfer) const {
    for (CHttpBase* task : tasks_) {
        if (task->OwnsTransfer(transfer)) return task;
    }
    return nullptr;
}

void CHttpMgr::OnTransferDone(const CRefPtr<CCurlBase>& transfer, CURLcode result) {
    if (CHttpBase* task = FindTask(transfer.get())) task->Done(static_cast<int32_t>(result));
}

void CHttpMgr::OnBytesReceived(const CRefPtr<CCurlBase>& transfer, uint32_t count) {
    if (CHttpBase* task = FindTask(transfer.get())) task->OnBytesReceived(count);
}

void CHttpMgr::OnBytesSent(const CRefPtr<CCurlBase>&, uint32_t) {}

void CHttpMgr::OnHttpStatus(const CRefPtr<CCurlBase>& transfer, int32_t status) {
    if (CHttpBase* task = FindTask(transfer.get())) task->OnHttpStatus(status);
}

uint64_t CHttpMgr::AddTask(CHttpBase* task) {
    auto pairOf = [](const CHttpBase* t) {
        return (static_cast<uint64_t>(static_cast<uint32_t>(t->Id())) << 32) | t->SubmitTick();
    };
    if (std::find(tasks_.begin(), tasks_.end(), task) != tasks_.end()) {
        KV_LOG(kToConsole | kToFile, Info, L"http请求重复添加 url:%s", task->GetUrl().c_str());
        WakeEngineTick();  // it may wait out a retry delay now
        return pairOf(task);
    }
    task->SetSubmission(++g_taskCounter, ::GetTickCount());
    tasks_.push_back(task);
    if (!task->IsRetryPending()) Schedule();
    WakeEngineTick();
    return pairOf(task);
}

bool CHttpMgr::RemoveTask(CHttpBase* task) {
    tasks_.erase(std::remove(tasks_.begin(), tasks_.end(), task), tasks_.end());
    const bool wasRunning = task->IsRunning();
    task->SetRunning(false);
    if (wasRunning) {
        --running_;
        Schedule();
    }
    return true;
}

void CHttpMgr::Schedule() {
    const int32_t total = static_cast<int32_t>(tasks_.size());
    if (running_ > maxRunning_ || running_ > total || running_ < 0) {
        KV_LOG(kToConsole | kToFile, Info, L"CHttpMgr::Schedule() 正在运行的任务数计算出错，重新计算中 running:%d max:%d total:%d",
               running_, maxRunning_, total);
        running_ = static_cast<int32_t>(std::count_if(tasks_.begin(), tasks_.end(), [](const CHttpBase* t) { return t->IsRunning(); }));
    }
    KV_LOG(kToConsole | kToFile, Info, L"CHttpMgr::Schedule() 调度任务 running:%d max:%d total:%d", running_, maxRunning_,
           total);
    if (running_ >= maxRunning_) {
        KV_LOG(kToConsole | kToFile, Info, L"CHttpMgr::Schedule() 任务数超标 running:%d max:%d total:%d", running_,
               maxRunning_, total);
        return;
    }
    // Start() may complete or stop a task at once (and so change the list):
    // walk a copy and skip tasks that left meanwhile.
    const std::vector<CHttpBase*> snapshot = tasks_;
    for (CHttpBase* task : snapshot) {
        if (std::find(tasks_.begin(), tasks_.end(), task) == tasks_.end()) continue;
        // A task waiting out its retry delay is left for RetryTick, so that
        // the delay holds and no task runs uncounted.
        if (!task->IsRunning() && !task->IsStarted() && !task->IsRetryPending()) {
            if (task->Start()) {
                task->SetRunning(true);
                ++running_;
            }
        }
        if (running_ >= maxRunning_) break;
    }
}

bool CHttpMgr::HasRetryPending() const {
    return std::any_of(tasks_.begin(), tasks_.end(), [](const CHttpBase* t) { return t->IsRetryPending(); });
}

void CHttpMgr::RetryTick() {
    bool cleared = false;
    for (CHttpBase* task : tasks_) {
        if (!task->IsRetryPending()) continue;
        const DWORD now = ::GetTickCount();
        // Unsigned difference: correct across the 49.7-day wrap of the tick.
        if (now - task->RetryTick() > retryDelayMs_) {
            task->SetRetryPending(false);
            cleared = true;
        }
    }
    if (cleared) Schedule();
}

void CHttpMgr::ProgressTick() {
    const std::vector<CHttpBase*> snapshot = tasks_;
    for (CHttpBase* task : snapshot) {
        if (std::find(tasks_.begin(), tasks_.end(), task) == tasks_.end()) continue;
        if (task->IsStarted()) task->OnTick();
    }
}

void CHttpMgr::ClearTasks() {
    for (CHttpBase* task : tasks_) {
        task->BindToEngine(nullptr, nullptr);
        task->SetRunning(false);
    }
    tasks_.clear();
    running_ = 0;
}
