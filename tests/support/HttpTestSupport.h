#pragma once
// Shared pieces of the HTTP engine tests: a fixture that runs both engines and
// an in-process server and checks that no transfer outlives a test, a
// recorder of command completions, and ProbeTask, a bare task that records
// what the scheduler routes to it. Main thread only.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Http/CurlBase.h"
#include "Http/CurlHttp.h"
#include "Http/HttpBase.h"
#include "Http/HttpCommand.h"
#include "Http/HttpEngines.h"
#include "Http/HttpMgr.h"
#include "Runtime/OBufferStream.h"
#include "Runtime/ProtoValue.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/MessagePump.h"
#include "support/TestHttpServer.h"

struct Completion {
    int calls = 0;
    std::string body;
    int32_t type = -1;
    int32_t code = -1;
    DWORD tick = 0;

    static void Record(Completion* self, const CommandResponse& response) {
        ++self->calls;
        self->body = response.body;
        self->type = response.result.type;
        self->code = response.result.code;
        self->tick = ::GetTickCount();
    }
};

// A command wired to a Completion.
struct RecordedCommand {
    CHttpCommand command;
    Completion done;

    explicit RecordedCommand(const std::wstring& url) {
        command.SetUrl(url);
        command.SetCompletion([this](const CommandResponse& response) { Completion::Record(&done, response); });
    }
    bool WaitDone(DWORD timeoutMs = 15000) {
        return PumpMessagesUntil([this] { return done.calls > 0; }, timeoutMs);
    }
};

// The smallest task: one memory sink, optional resume and progress, and a
// record of every status, header map and byte count routed to it.
class ProbeTask : public CHttpBase {
public:
    std::vector<int32_t> statuses;
    std::vector<ProtoValue> headersAtStatus;
    std::string sinkStart;  // written to the sink before the transfer (a "partial file")
    bool resumeRequested = false;
    uint64_t wholeSize = 0;  // the length a whole answer to the resumed request must announce
    bool reportProgress = false;
    int progressCalls = 0;
    uint64_t progressBytes = 0;
    int doneCalls = 0;
    int32_t doneResult = -1;
    std::string body;

    bool Start() override {
        if (IsStarted()) return false;
        auto* transfer = new CCurlHttp();
        SetTransfer(transfer);
        transfer->SetListener(Scheduler());
        auto* sink = new OBufferStream();
        if (!sinkStart.empty()) sink->Write(sinkStart.data(), static_cast<uint32_t>(sinkStart.size()));
        transfer->SetSink(sink);
        transfer->SetResumeRequested(resumeRequested, wholeSize);
        transfer->SetReportProgress(reportProgress);
        return CHttpBase::Start();
    }
    void OnHttpStatus(int32_t status) override {
        statuses.push_back(status);
        headersAtStatus.push_back(Transfer()->HeaderSnapshot());
    }
    void OnBytesReceived(uint32_t count) override {
        ++progressCalls;
        progressBytes += count;
    }
    void Done(int32_t result) override {
        if (!IsStarted()) return;
        {
            CScopedLock lock(Transfer()->StreamLock());
            auto* sink = static_cast<OBufferStream*>(Transfer()->Sink());
            body.assign(sink->Data() ? sink->Data() : "", sink->Size());
        }
        doneResult = result;
        ++doneCalls;
        Stop();
    }
    bool Submit() { return AttachToManager(GetHttpMgr(HttpEngine::Download), this); }
    bool WaitDone(DWORD timeoutMs = 15000) {
        return PumpMessagesUntil([this] { return doneCalls > 0; }, timeoutMs);
    }
};

// Both engines and the in-process server. The engine tick is shortened
// (retries wait out tens of milliseconds, not a second); a test of the
// product's timing asks for the real one. Whether anything more would still
// happen is waited out with Settle(), not with a fixed pause.
class HttpEngineTest : public ::testing::Test {
protected:
    static constexpr UINT kQuickTickMs = 20;

    void SetUp() override {
        liveAtStart_ = CCurlBase::LiveCount();
        StartHttpEngines();
        SetEngineTickMs(kQuickTickMs);
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override {
        SetEngineTickMs(0);
        StopHttpEngines();
        server.Stop();
        // Queued notifications drop their references.
        EXPECT_TRUE(PumpMessagesUntil([this] { return CCurlBase::LiveCount() == liveAtStart_; }, 5000))
            << "a transfer outlived its test";
    }
    void UseProductEngineTick() { SetEngineTickMs(0); }
    // Pumps messages for `ticks` engine periods: every
    // scheduling pass and retry step due by then has run.
    void PumpTicks(uint32_t ticks) { PumpMessagesFor(ticks * EngineTickMs()); }
    // Pumps messages until `ticks` engine ticks have passed with no transfer
    // object of the test alive: a retry the engines were to start has
    // started and ended, and what was posted before those ticks has run (a
    // timer fires only when no posted message is waiting).
    bool Settle(uint32_t ticks = 3, DWORD timeoutMs = 15000) {
        ULONGLONG quietSince = ::GetTickCount64();
        return PumpMessagesUntil(
            [&] {
                if (CCurlBase::LiveCount() != liveAtStart_) quietSince = ::GetTickCount64();
                return ::GetTickCount64() >= quietSince + ticks * EngineTickMs();
            },
            timeoutMs);
    }
    CHttpMgr* CommandMgr() { return GetHttpMgr(HttpEngine::Command); }

    TestHttpServer server;

private:
    long liveAtStart_ = 0;
};

// A port on 127.0.0.1 where nothing listens (bound, read and closed again).
uint16_t UnusedLoopbackPort();
