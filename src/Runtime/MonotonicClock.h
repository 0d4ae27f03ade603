#pragma once
// The dispatcher clock: wall-clock time driven by the performance counter,
// re-based when it drifts, held flat over small backward steps, and a
// monotonic reading on top. Not thread-safe: the main thread reads it.
#include <cstdint>

struct ClockSources {
    uint64_t (*systemFileTime)();        // 100 ns units since 1601 (GetSystemTimeAsFileTime)
    bool (*counterFrequency)(int64_t*);  // QueryPerformanceFrequency
    int64_t (*counter)();                // QueryPerformanceCounter
    uint32_t (*tickCount)();             // GetTickCount
    void (*beginPeriod)();               // timeBeginPeriod(1)
    void (*endPeriod)();                 // timeEndPeriod(1)
};

class CHighResClock {
public:
    explicit CHighResClock(const ClockSources& sources);

    double GetSystemTimeMs() const;
    double GetHighResTime();   // seconds since 1970
    double GetMonotonicTime(); // never decreases

    static const ClockSources& PlatformSources();

private:
    double GetCounterMs();

    ClockSources src_;
    bool frequencyQueried_ = false;
    bool hasCounter_ = false;
    int64_t counterFrequency_ = 0;
    bool counterSampled_ = false;
    int64_t lastCounter_ = 0;
    uint32_t lastTick_ = 0;
    bool synced_ = false;
    double baseSystemMs_ = 0;
    double baseCounterMs_ = 0;
    double lastReturnedMs_ = 0;
    double largestSeconds_ = 0;
};

// The process-wide clock on the platform's sources.
double GetSystemTimeMs();
double GetHighResTime();
double GetMonotonicTime();
