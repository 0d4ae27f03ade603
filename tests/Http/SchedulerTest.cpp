// The scheduler: the cap of ten running tasks, duplicate submissions,
// the precedence of an attempt's record and the engine tick's retry step.
#include "support/HttpTestSupport.h"

#include <memory>

#include "Http/HttpResult.h"

TEST_F(HttpEngineTest, TenTasksRunAndTheEleventhStartsWhenOneStops) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;  // interrupted by the server's Stop()
    server.Route("/slow", slow);
    LogCapture log;
    std::vector<std::unique_ptr<RecordedCommand>> commands;
    for (int i = 0; i < 12; ++i) {
        commands.push_back(std::make_unique<RecordedCommand>(server.WideUrl("/slow")));
        ASSERT_TRUE(SubmitCommand(&commands.back()->command));
    }
    EXPECT_EQ(CommandMgr()->TaskCount(), 12u);
    EXPECT_EQ(CommandMgr()->RunningCount(), 10);
    // Submissions 11 and 12 found ten running.
    EXPECT_EQ(log.Count(L"CHttpMgr::Schedule() 任务数超标 running:10 max:10 total:11"), 1u);
    EXPECT_EQ(log.Count(L"CHttpMgr::Schedule() 任务数超标 running:10 max:10 total:12"), 1u);
    ASSERT_TRUE(PumpMessagesUntil([&] { return server.RequestCount("/slow") >= 10; }, 10000));
    PumpTicks(3);
    EXPECT_EQ(server.RequestCount("/slow"), 10u);
    EXPECT_TRUE(commands[10]->command.Transfer() == nullptr);  // never started
    EXPECT_FALSE(commands[11]->command.IsStarted());

    commands[3]->command.Stop();
    EXPECT_EQ(CommandMgr()->TaskCount(), 11u);
    EXPECT_EQ(CommandMgr()->RunningCount(), 10);
    EXPECT_TRUE(commands[10]->command.IsStarted());  // the first waiting task, in submission order
    EXPECT_FALSE(commands[11]->command.IsStarted());
    ASSERT_TRUE(PumpMessagesUntil([&] { return server.RequestCount("/slow") >= 11; }, 10000));
    PumpTicks(3);
    EXPECT_EQ(server.RequestCount("/slow"), 11u);
    for (const auto& c : commands) EXPECT_EQ(c->done.calls, 0);
    commands.clear();  // stops the rest
    EXPECT_EQ(CommandMgr()->TaskCount(), 0u);
    EXPECT_EQ(CommandMgr()->RunningCount(), 0);
}

TEST_F(HttpEngineTest, TheSameTaskSubmittedTwiceIsListedOnce) {
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 300;
    server.Route("/slow", slow);
    LogCapture log;
    RecordedCommand c(server.WideUrl("/slow"));
    ASSERT_TRUE(SubmitCommand(&c.command));
    const int32_t id = c.command.Id();
    EXPECT_GT(id, 0);
    const uint64_t second = CommandMgr()->AddTask(&c.command);
    EXPECT_EQ(static_cast<int32_t>(second >> 32), id);  // the first identifier comes back
    EXPECT_EQ(CommandMgr()->TaskCount(), 1u);
    ASSERT_TRUE(SubmitCommand(&c.command));
    EXPECT_EQ(CommandMgr()->TaskCount(), 1u);
    EXPECT_EQ(CommandMgr()->RunningCount(), 1);
    EXPECT_EQ(log.Count(L"http请求重复添加 url:" + server.WideUrl("/slow")), 2u);
    ASSERT_TRUE(c.WaitDone());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(c.done.calls, 1);
    EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(HttpEngineTest, IdentifiersAreSharedByBothEngines) {
    RecordedCommand a(server.WideUrl("/x"));
    ProbeTask b;
    b.SetUrl(server.WideUrl("/y"));
    ASSERT_TRUE(SubmitCommand(&a.command));
    ASSERT_TRUE(b.Submit());
    EXPECT_EQ(b.Id(), a.command.Id() + 1);
    ASSERT_TRUE(a.WaitDone());
    ASSERT_TRUE(b.WaitDone());
}

TEST_F(HttpEngineTest, RetryTickReleasesOnlyDelaysOlderThan500Ms) {
    UseProductEngineTick();
    ProbeTask task;
    task.SetUrl(server.WideUrl("/r"));
    task.RequestRetryDelay();
    ASSERT_TRUE(task.Submit());  // listed, not started while the delay runs
    CHttpMgr* mgr = GetHttpMgr(HttpEngine::Download);
    EXPECT_FALSE(task.IsStarted());
    mgr->Schedule();  // another event schedules: the delay still holds
    EXPECT_FALSE(task.IsStarted());
    mgr->RetryTick();
    EXPECT_FALSE(task.IsStarted());
    // Without pumping, so that only these calls run the retry step.
    ASSERT_TRUE(SpinUntil([&] { return ::GetTickCount() - task.RetryTick() > CHttpMgr::kRetryDelayMs; }, 2000));
    mgr->RetryTick();
    EXPECT_TRUE(task.IsStarted());
    EXPECT_EQ(mgr->RunningCount(), 1);
    ASSERT_TRUE(task.WaitDone());
}

TEST_F(HttpEngineTest, ProgressStepRunsOnEveryOtherTimerTickForStartedTasks) {
    UseProductEngineTick();
    struct TickingTask : ProbeTask {
        int ticks = 0;
        void OnTick() override { ++ticks; }
    };
    TestHttpResponse slow = TestHttpResponse::Ok("late");
    slow.delayBeforeHeadersMs = 60000;
    server.Route("/slow", slow);
    TickingTask started, waiting;
    started.SetUrl(server.WideUrl("/slow"));
    waiting.SetUrl(server.WideUrl("/slow"));
    waiting.RequestRetryDelay();  // listed, not started
    ASSERT_TRUE(started.Submit());
    ASSERT_TRUE(waiting.Submit());
    ASSERT_TRUE(started.IsStarted());
    for (int i = 0; i < 6; ++i) EngineTimerTick();  // no pumping: only these ticks run
    EXPECT_EQ(started.ticks, 3);
    EXPECT_EQ(waiting.ticks, 0);  // the retry delay is 500 ms: it is still waiting
}

TEST(HttpResultClassification, FirstMatchingEntryWins) {
    struct Case {
        const char* what;
        std::vector<HttpResult> recorded;
        int32_t type, code;
    };
    const Case cases[] = {
        {"empty", {}, 0, 0},
        {"ok status, ok curl", {{4, 200}, {5, 0}}, 0, 0},
        {"http error outranks the curl error it causes", {{4, 404}, {5, 23}}, 4, 404},
        {"status below 100", {{4, 99}}, 4, 99},
        {"no status read", {{4, 700}, {5, 23}}, 4, 700},
        {"redirect status is not an error", {{4, 302}, {5, 47}}, 5, 47},
        {"sys outranks all", {{5, 7}, {4, 500}, {3, 2007}, {1, 5}}, 1, 5},
        {"user outranks http", {{4, 500}, {3, 2007}}, 3, 2007},
        {"zero codes do not count", {{1, 0}, {3, 0}, {5, 7}}, 5, 7},
    };
    for (const auto& c : cases) {
        AttemptResult attempt;
        for (const HttpResult& r : c.recorded) attempt.Record(r);
        const HttpResult r = attempt.Result();
        EXPECT_EQ(r.type, c.type) << c.what;
        EXPECT_EQ(r.code, c.code) << c.what;
    }
}
