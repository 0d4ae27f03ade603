#include "Http/HttpEngines.h"

#include <curl/curl.h>

#include "Http/CurlWorkshop.h"
#include "Http/HttpMgr.h"
#include "Runtime/MainThreadTask.h"

namespace {

struct Engine {
    CCurlWorkshop* worker = nullptr;
    CHttpMgr* manager = nullptr;
};

Engine g_engines[2];
bool g_enginesRunning = false;
TaskId g_tickTask = 0;  // the next tick, 0 while the tick rests
uint32_t g_timerTicks = 0;
UINT g_tickMs = kEngineTickMs;

Engine& EngineOf(HttpEngine engine) { return g_engines[engine == HttpEngine::Command ? 0 : 1]; }

// A download task listed has its progress step (or a retry delay) ahead; a
// command only its retry delay.
bool TickHasWork() {
    const CHttpMgr* download = EngineOf(HttpEngine::Download).manager;
    const CHttpMgr* command = EngineOf(HttpEngine::Command).manager;
    return (download && download->TaskCount() > 0) || (command && command->HasRetryPending());
}

void RunEngineTick() {
    g_tickTask = 0;
    EngineTimerTick();
    WakeEngineTick();
}

void StopEngineTick() {
    CancelTask(g_tickTask);
    g_tickTask = 0;
}

}  // namespace

void CreateEngines(HttpEngine which) {
    Engine& engine = EngineOf(which);
    if (!engine.worker) {
        engine.worker = new CCurlWorkshop();
        engine.worker->Init();
        engine.worker->StartThread();
    }
    if (!engine.manager) {
        engine.manager = new CHttpMgr(engine.worker, CHttpMgr::kDefaultMaxRunning);
        engine.manager->SetRetryDelayMs(g_tickMs);
    }
}

void DestroyEngines(HttpEngine which) {
    Engine& engine = EngineOf(which);
    if (engine.worker) {
        engine.worker->StopThread(INFINITE);
        engine.worker->Uninit();
        delete engine.worker;
        engine.worker = nullptr;
    }
    if (engine.manager) {
        engine.manager->ClearTasks();
        delete engine.manager;
        engine.manager = nullptr;
    }
}

void StartHttpEngines(bool withCommandEngine) {
    if (g_enginesRunning) return;
    // Once per process, before any worker thread exists (libcurl's global
    // set-up is not thread-safe). It is never undone: tasks, and with them
    // easy handles, may outlive the engines until the process ends.
    static const CURLcode globalInit = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)globalInit;
    g_timerTicks = 0;
    if (withCommandEngine) CreateEngines(HttpEngine::Command);
    CreateEngines(HttpEngine::Download);
    g_enginesRunning = true;
}

void StopHttpEngines() {
    if (!g_enginesRunning) return;
    DestroyEngines(HttpEngine::Command);
    DestroyEngines(HttpEngine::Download);
    StopEngineTick();
    g_enginesRunning = false;
}

bool HttpEnginesRunning() { return g_enginesRunning; }

CHttpMgr* GetHttpMgr(HttpEngine engine) { return EngineOf(engine).manager; }
CCurlWorkshop* GetCurlWorkshop(HttpEngine engine) { return EngineOf(engine).worker; }

void SetEngineTickMs(UINT periodMs) {
    g_tickMs = periodMs ? periodMs : kEngineTickMs;
    for (Engine& engine : g_engines) {
        if (engine.manager) engine.manager->SetRetryDelayMs(g_tickMs);
    }
    // A pending tick comes at the new period.
    if (g_tickTask) {
        StopEngineTick();
        WakeEngineTick();
    }
}

UINT EngineTickMs() { return g_tickMs; }

void WakeEngineTick() {
    if (g_tickTask == 0 && g_enginesRunning && TickHasWork()) g_tickTask = PostDelayedTask(g_tickMs, RunEngineTick);
}

void EngineTimerTick() {
    CHttpMgr* download = GetHttpMgr(HttpEngine::Download);
    CHttpMgr* command = GetHttpMgr(HttpEngine::Command);
    if (g_timerTicks % 2 == 0 && download) download->ProgressTick();
    if (download) download->RetryTick();
    if (command) command->RetryTick();
    ++g_timerTicks;
}
