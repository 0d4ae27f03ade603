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
#include "Runtime/LogSinks.h"
#include "Runtime/OBufferStream.h"
#include "Runtime/ProtoValue.h"
#include "support/MessagePump.h"
#include "support/TestHttpServer.h"

struct Completion {
    int calls = 0;
    std::string body;
    int32_t type = -1;
    int32_t code = -1;
    DWORD tick = 0;

    static void Record(void* owner, const std::string& body, int32_t type, int32_t code) {
        auto* self = static_cast<Completion*>(owner);
        ++self->calls;
        self->body = body;
        self->type = type;
        self->code = code;
        self->tick = ::GetTickCount();
    }
};

// A command wired to a Completion.
struct RecordedCommand {
    CHttpCommand command;
    Completion done;

    explicit RecordedCommand(const std::wstring& url) {
        command.SetUrl(url);
        command.SetCompletion(&Completion::Record, &done);
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
        transfer->SetResumeRequested(resumeRequested);
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

class HttpEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveAtStart_ = CCurlBase::LiveCount();
        StartHttpEngines();
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override {
        StopHttpEngines();
        server.Stop();
        PumpMessagesFor(30);  // queued notifications drop their references
        EXPECT_EQ(CCurlBase::LiveCount(), liveAtStart_) << "a transfer outlived its test";
    }
    CHttpMgr* CommandMgr() { return GetHttpMgr(HttpEngine::Command); }

    TestHttpServer server;

private:
    long liveAtStart_ = 0;
};

// Sends the file log to a temporary file for the life of the object.
class FileLogCapture {
public:
    FileLogCapture();
    ~FileLogCapture();
    // Everything logged so far, as text.
    std::wstring Text() const;
    size_t Count(const std::wstring& needle) const;

private:
    TempDir dir_;
    std::wstring path_;
    FILE* file_ = nullptr;
};

// A port on 127.0.0.1 where nothing listens (bound, read and closed again).
uint16_t UnusedLoopbackPort();
