// Stop() at every moment of a command's life, and engine shutdown with
// transfers running: never a completion after Stop, never a crash, and every
// transfer object freed (the fixture checks the live count after each test).
#include "support/HttpTestSupport.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "Http/CurlWorkshop.h"

namespace {

CCurlWorkshop* CommandWorker() { return GetCurlWorkshop(HttpEngine::Command); }

}  // namespace

TEST_F(HttpEngineTest, StopBeforeTheWorkerPickedTheTransferUp) {
    server.Route("/ok", TestHttpResponse::Ok("x"));
    RecordedCommand c(server.WideUrl("/ok"));
    {
        // Holding the worker's lock keeps it from applying the queued add.
        CScopedLock hold(CommandWorker()->LockForTesting());
        ASSERT_TRUE(SubmitCommand(&c.command));
        EXPECT_EQ(CommandWorker()->PendingAddCount(), 1u);
        c.command.Stop();
        EXPECT_EQ(CommandWorker()->PendingRemoveCount(), 1u);
    }
    ASSERT_TRUE(PumpMessagesUntil([] { return CommandWorker()->PendingRemoveCount() == 0; }, 5000));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(c.done.calls, 0);
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(CommandWorker()->RunningCount(), 0u);
    EXPECT_EQ(CommandWorker()->PendingAddCount(), 0u);
    EXPECT_EQ(CommandMgr()->TaskCount(), 0u);
}

TEST_F(HttpEngineTest, StopWhileWaitingForTheAnswer) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    server.Route("/slow", slow);
    RecordedCommand c(server.WideUrl("/slow"));
    ASSERT_TRUE(SubmitCommand(&c.command));
    ASSERT_TRUE(PumpMessagesUntil([&] { return server.RequestCount() == 1; }, 5000));
    c.command.Stop();
    ASSERT_TRUE(PumpMessagesUntil([] { return CommandWorker()->RunningCount() == 0; }, 5000));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(c.done.calls, 0);
    EXPECT_EQ(CommandMgr()->RunningCount(), 0);
}

TEST_F(HttpEngineTest, StopInTheMiddleOfTheBody) {
    TestHttpResponse drip = TestHttpResponse::Ok(std::string(200 * 1024, 'b'));
    drip.pieceSize = 1024;
    drip.delayBetweenPiecesMs = 10;
    server.Route("/drip", drip);
    RecordedCommand c(server.WideUrl("/drip"));
    ASSERT_TRUE(SubmitCommand(&c.command));
    ASSERT_TRUE(PumpMessagesUntil([&] { return server.BodyBytesSent() > 8 * 1024; }, 5000));
    c.command.Stop();
    ASSERT_TRUE(PumpMessagesUntil([] { return CommandWorker()->RunningCount() == 0; }, 5000));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(c.done.calls, 0);
    EXPECT_LT(server.BodyBytesSent(), 200u * 1024);
}

TEST_F(HttpEngineTest, StopAfterTheTransferFinishedButBeforeItsNotificationRan) {
    server.Route("/ok", TestHttpResponse::Ok("done"));
    RecordedCommand c(server.WideUrl("/ok"));
    ASSERT_TRUE(SubmitCommand(&c.command));
    // The worker finishes and posts while this thread does not pump.
    ASSERT_TRUE(SpinUntil(
        [&] {
            return server.CompletedResponses() == 1 && CommandWorker()->PendingAddCount() == 0 &&
                   CommandWorker()->RunningCount() == 0;
        },
        5000));
    c.command.Stop();
    ASSERT_TRUE(Settle());  // the queued "done" runs now and finds no task
    EXPECT_EQ(c.done.calls, 0);
    EXPECT_EQ(CommandMgr()->TaskCount(), 0u);
}

TEST_F(HttpEngineTest, StopAtEveryMomentNeverCompletesAfterwards) {
    TestHttpResponse r = TestHttpResponse::Ok(std::string(20 * 1024, 's'));
    r.delayBeforeHeadersMs = 5;
    r.pieceSize = 4096;
    r.delayBetweenPiecesMs = 3;
    server.Route("/short", r);
    int completedBeforeStop = 0;
    for (DWORD wait = 0; wait <= 60; wait += 3) {
        RecordedCommand c(server.WideUrl("/short"));
        ASSERT_TRUE(SubmitCommand(&c.command));
        PumpMessagesFor(wait);
        const int before = c.done.calls;
        completedBeforeStop += before;
        c.command.Stop();
        PumpMessagesFor(wait % 2 ? 40 : 0);
        EXPECT_EQ(c.done.calls, before) << "completion after Stop, wait " << wait;
        EXPECT_LE(c.done.calls, 1);
    }
    ASSERT_TRUE(Settle());
    EXPECT_EQ(CommandMgr()->TaskCount(), 0u);
    EXPECT_EQ(CommandMgr()->RunningCount(), 0);
    // How far the sweep got into the commands' lives (for the log only: the
    // machine's speed decides it).
    std::printf("  %d of 21 commands had completed before their Stop\n", completedBeforeStop);
}

TEST_F(HttpEngineTest, ShutdownWithTransfersRunningEndsCleanly) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    TestHttpResponse drip = TestHttpResponse::Ok(std::string(500 * 1024, 'd'));
    drip.pieceSize = 1024;
    drip.delayBetweenPiecesMs = 10;
    server.Route("/slow", slow);
    server.Route("/drip", drip);
    {
        std::vector<std::unique_ptr<RecordedCommand>> commands;
        for (int i = 0; i < 4; ++i) commands.push_back(std::make_unique<RecordedCommand>(server.WideUrl("/slow")));
        commands.push_back(std::make_unique<RecordedCommand>(server.WideUrl("/drip")));
        ProbeTask download;
        download.SetUrl(server.WideUrl("/drip"));
        download.reportProgress = true;
        for (auto& c : commands) ASSERT_TRUE(SubmitCommand(&c->command));
        ASSERT_TRUE(download.Submit());
        ASSERT_TRUE(PumpMessagesUntil([&] { return server.RequestCount() == 6 && server.BodyBytesSent() > 4096; }, 5000));
        StopHttpEngines();
        EXPECT_FALSE(HttpEnginesRunning());
        ASSERT_TRUE(RunQueuedMainThreadTasks());  // notifications queued before the shutdown find no listener
        for (auto& c : commands) EXPECT_EQ(c->done.calls, 0);
        EXPECT_EQ(download.doneCalls, 0);
        // The tasks outlive the engines and are destroyed afterwards.
        RecordedCommand late(server.WideUrl("/slow"));
        EXPECT_FALSE(SubmitCommand(&late.command));
    }
}

// While the worker tears a cancelled transfer down (libcurl waits there for a
// name lookup in progress: seconds on a bad network, played here by a hook
// that blocks until the test releases it), the main thread's Start and Stop
// go through at once.
// Regression: the teardown ran under the lock that Start and Stop take, so
// the window froze until the lookup returned.
TEST_F(HttpEngineTest, MainThreadNeverWaitsForATransfersTeardown) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    server.Route("/slow", slow);
    server.Route("/ok", TestHttpResponse::Ok("x"));
    RecordedCommand first(server.WideUrl("/slow"));
    ASSERT_TRUE(SubmitCommand(&first.command));
    ASSERT_TRUE(PumpMessagesUntil([&] { return server.RequestCount("/slow") == 1; }, 5000));

    kv::UniqueKernelHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    kv::UniqueKernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    kv::UniqueKernelHandle left(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> releasedByTest{false};
    HANDLE enteredEvent = entered.get();
    HANDLE releaseEvent = release.get();
    HANDLE leftEvent = left.get();
    CommandWorker()->SetTeardownHookForTesting([&releasedByTest, enteredEvent, releaseEvent, leftEvent] {
        ::SetEvent(enteredEvent);
        releasedByTest = ::WaitForSingleObject(releaseEvent, 10000) == WAIT_OBJECT_0;
        ::SetEvent(leftEvent);
    });
    first.command.Stop();
    ASSERT_EQ(::WaitForSingleObject(enteredEvent, 5000), WAIT_OBJECT_0);

    // The worker is inside the teardown: a new command starts and stops.
    RecordedCommand second(server.WideUrl("/ok"));
    ASSERT_TRUE(SubmitCommand(&second.command));
    EXPECT_TRUE(second.command.IsStarted());
    second.command.Stop();
    ::SetEvent(releaseEvent);
    // The worker may not have run again yet when the transfer lists are empty.
    ASSERT_EQ(::WaitForSingleObject(leftEvent, 15000), WAIT_OBJECT_0);
    ASSERT_TRUE(PumpMessagesUntil([] { return CommandWorker()->RunningCount() == 0; }, 15000));
    CommandWorker()->SetTeardownHookForTesting(nullptr);
    EXPECT_TRUE(releasedByTest) << "the main thread waited for the teardown";
    EXPECT_EQ(first.done.calls, 0);
    EXPECT_EQ(second.done.calls, 0);
}
