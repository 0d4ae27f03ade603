// The worker's request lists, driven step by step on the test thread (the
// workshop's thread is not started) with a recording listener.
#include "support/HttpTestSupport.h"

#include "Http/CurlWorkshop.h"
#include "Runtime/IBufferStream.h"

namespace {

class RecordingListener : public CurlListener {
public:
    int done = 0, status = 0;
    uint64_t sent = 0;
    CURLcode lastResult = CURLE_OK;
    void OnTransferDone(const CRefPtr<CCurlBase>&, CURLcode result) override {
        ++done;
        lastResult = result;
    }
    void OnBytesReceived(const CRefPtr<CCurlBase>&, uint32_t) override {}
    void OnBytesSent(const CRefPtr<CCurlBase>&, uint32_t count) override { sent += count; }
    void OnHttpStatus(const CRefPtr<CCurlBase>&, int32_t) override { ++status; }
};

class CurlWorkshopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        server.Route("/ok", TestHttpResponse::Ok("fine"));
        workshop.Init();
    }
    CRefPtr<CCurlHttp> NewTransfer(const std::string& path) {
        CRefPtr<CCurlHttp> t(new CCurlHttp());
        t->SetListener(&listener);
        t->SetSink(new OBufferStream());
        EXPECT_TRUE(t->Configure(server.WideUrl(path), CCurlHttp::kMethodGet, HttpTimeouts(), 0));
        return t;
    }
    // Passes of the loop on this thread until `done` or the time runs out.
    bool PassUntil(const std::function<bool()>& done, DWORD timeoutMs) {
        return PollUntil(done, timeoutMs, [this] {
            workshop.WaitForWork();
            workshop.PumpOnce();
            workshop.CollectFinished();
            DispatchPendingMessages();
        });
    }
    void TearDown() override {
        workshop.Uninit();
        RunQueuedMainThreadTasks();  // nothing of this test may reach the next one's listener
    }

    TestHttpServer server;
    RecordingListener listener;
    CCurlWorkshop workshop;
};

}  // namespace

TEST_F(CurlWorkshopTest, WithoutAMultiHandleNothingIsQueued) {
    CCurlWorkshop fresh;
    CRefPtr<CCurlHttp> t(new CCurlHttp());
    EXPECT_FALSE(fresh.AddTransfer(CRefPtr<CCurlBase>(t.get())));
    EXPECT_FALSE(fresh.RemoveTransfer(CRefPtr<CCurlBase>(t.get())));
    EXPECT_EQ(fresh.PendingAddCount(), 0u);
}

TEST_F(CurlWorkshopTest, RemovedBeforeThePassLeavesPendingAddAndKeepsItsHandle) {
    CRefPtr<CCurlHttp> t = NewTransfer("/ok");
    CRefPtr<CCurlBase> base(t.get());
    ASSERT_TRUE(workshop.AddTransfer(base));
    ASSERT_TRUE(workshop.RemoveTransfer(base));
    ASSERT_TRUE(workshop.RemoveTransfer(base));
    workshop.PumpOnce();
    EXPECT_EQ(workshop.PendingAddCount(), 0u);
    EXPECT_EQ(workshop.RunningCount(), 0u);
    EXPECT_NE(t->EasyHandle(), nullptr);  // never added: the handle stays with the transfer
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(CurlWorkshopTest, ReAddingCancelsAQueuedRemovalAndTheTransferRuns) {
    CRefPtr<CCurlHttp> t = NewTransfer("/ok");
    CRefPtr<CCurlBase> base(t.get());
    ASSERT_TRUE(workshop.RemoveTransfer(base));
    ASSERT_TRUE(workshop.AddTransfer(base));
    EXPECT_EQ(workshop.PendingRemoveCount(), 0u);
    ASSERT_TRUE(PassUntil([&] { return listener.done == 1; }, 5000));
    EXPECT_EQ(listener.lastResult, CURLE_OK);
    EXPECT_EQ(listener.status, 1);
    EXPECT_EQ(t->EasyHandle(), nullptr);  // detached after it finished
    EXPECT_EQ(t->HttpStatus(), 200);
    EXPECT_EQ(workshop.RunningCount(), 0u);
}

// A loopback upload takes less than one report interval: all but the first
// piece is reported only when the transfer ends.
TEST_F(CurlWorkshopTest, SentReportsAddUpToTheBody) {
    const std::string body(512 * 1024, 'p');
    CRefPtr<CCurlHttp> t = NewTransfer("/ok");
    t->SetSource(new IBufferStream(body.data(), static_cast<uint32_t>(body.size())));
    t->SetReportProgress(true);
    ASSERT_TRUE(t->Configure(server.WideUrl("/ok"), CCurlHttp::kMethodPost, HttpTimeouts(), 0));
    ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(t.get())));
    ASSERT_TRUE(PassUntil([&] { return listener.done == 1; }, 10000));
    EXPECT_EQ(listener.lastResult, CURLE_OK);
    EXPECT_EQ(server.Requests().at(0).body.size(), body.size());
    EXPECT_EQ(listener.sent, body.size());
}

TEST_F(CurlWorkshopTest, ACancelledTransferLeavesOnTheNextPass) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    server.Route("/slow", slow);
    CRefPtr<CCurlHttp> t = NewTransfer("/slow");
    ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(t.get())));
    ASSERT_TRUE(PassUntil([&] { return server.RequestCount() == 1; }, 5000));
    EXPECT_EQ(workshop.RunningCount(), 1u);
    t->SetAlive(false);  // nobody calls RemoveTransfer
    workshop.PumpOnce();
    EXPECT_EQ(workshop.RunningCount(), 0u);
    EXPECT_EQ(t->EasyHandle(), nullptr);
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_EQ(listener.done, 0);
}

TEST_F(CurlWorkshopTest, UninitDropsRunningTransfersSilently) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    server.Route("/slow", slow);
    const long live = CCurlBase::LiveCount();
    {
        CRefPtr<CCurlHttp> a = NewTransfer("/slow");
        CRefPtr<CCurlHttp> b = NewTransfer("/slow");
        ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(a.get())));
        ASSERT_TRUE(PassUntil([&] { return workshop.RunningCount() == 1; }, 5000));
        ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(b.get())));
        workshop.Uninit();
        EXPECT_EQ(a->EasyHandle(), nullptr);
        EXPECT_EQ(workshop.RunningCount(), 0u);
        EXPECT_EQ(workshop.PendingAddCount(), 0u);
        EXPECT_FALSE(workshop.AddTransfer(CRefPtr<CCurlBase>(b.get())));
        ASSERT_TRUE(RunQueuedMainThreadTasks());
        EXPECT_EQ(listener.done, 0);
        EXPECT_EQ(a->RefCountForTesting(), 1);  // the lists let go
    }
    EXPECT_EQ(CCurlBase::LiveCount(), live - 0);
}

// A notification still queued when its listener is destroyed is dropped.
TEST_F(CurlWorkshopTest, NotificationsForADestroyedListenerAreDropped) {
    int calls = 0;
    {
        struct Counting : RecordingListener {
            int* calls;
            explicit Counting(int* c) : calls(c) {}
            void OnHttpStatus(const CRefPtr<CCurlBase>&, int32_t) override { ++*calls; }
        } gone(&calls);
        CRefPtr<CCurlHttp> t(new CCurlHttp());
        t->SetListener(&gone);
        t->PostHttpStatus(200);
    }
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_EQ(calls, 0);
}

// The real worker sleeps for as long as nothing wakes it (a minute here): a
// transfer added while it sleeps, a cancelled one and the stop must each end
// the sleep, or the waits below run out.
TEST_F(CurlWorkshopTest, AddCancelAndStopWakeTheSleepingWorker) {
    TestHttpResponse stalled = TestHttpResponse::Ok("late");
    stalled.delayAfterHeadersMs = 60000;
    server.Route("/stalled", stalled);
    workshop.SetMaxWaitForTesting(60000);
    ASSERT_TRUE(workshop.StartThread());
    ::Sleep(200);  // asleep with nothing to do
    ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(NewTransfer("/ok").get())));
    EXPECT_TRUE(PumpMessagesUntil([&] { return listener.done == 1; }, 10000));

    CRefPtr<CCurlHttp> slow = NewTransfer("/stalled");
    ASSERT_TRUE(workshop.AddTransfer(CRefPtr<CCurlBase>(slow.get())));
    EXPECT_TRUE(PumpMessagesUntil([&] { return listener.status == 2; }, 10000));
    slow->SetAlive(false);
    workshop.Wake();
    EXPECT_TRUE(PumpMessagesUntil([&] { return workshop.RunningCount() == 0; }, 10000));
    EXPECT_TRUE(workshop.StopThread(10000));
}
