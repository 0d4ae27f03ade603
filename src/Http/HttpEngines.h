#pragma once
// The two HTTP engines of the process (command and download), each one
// CCurlWorkshop thread plus one CHttpMgr, and the 500 ms engine tick that
// drives retry delays and the download progress step. The tick runs only
// while a download task is listed or a command waits out its retry delay.
// Main thread only.
#include <windows.h>

#include <cstdint>

class CCurlWorkshop;
class CHttpMgr;

enum class HttpEngine { Command = 0, Download = 1 };

// Start-up: libcurl's global set-up, then the command and the download
// engine. Does nothing when the engines already run. A program that only
// downloads files may leave the command engine out (one worker thread and
// multi handle less).
void StartHttpEngines(bool withCommandEngine = true);
// Shutdown: destroys the command engine, then the download engine (worker
// joined without a time limit, every transfer dropped, tasks forgotten),
// then stops the tick. Does nothing when the engines do not run.
void StopHttpEngines();
bool HttpEnginesRunning();

// Engine life, once per engine; used by Start/StopHttpEngines.
void CreateEngines(HttpEngine engine);
void DestroyEngines(HttpEngine engine);

// Null while the engine does not exist.
CHttpMgr* GetHttpMgr(HttpEngine engine);
CCurlWorkshop* GetCurlWorkshop(HttpEngine engine);

// One engine tick (exposed for tests): on even ticks the download engine's
// progress step, then the retry steps of the download and the command engine.
void EngineTimerTick();
// Starts the tick when it has work and is not running (a task was listed).
void WakeEngineTick();

// The engine tick's period, 500 ms: a retry waits out more than one period,
// and the progress step runs every second tick. Tests whose waits only slow
// them down shorten it while the engines run; 0 restores the product's.
constexpr UINT kEngineTickMs = 500;
void SetEngineTickMs(UINT periodMs);
UINT EngineTickMs();
