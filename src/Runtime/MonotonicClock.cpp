#include "Runtime/MonotonicClock.h"

#include <windows.h>
#include <mmsystem.h>

#include <cmath>

namespace {

constexpr uint64_t kFileTimeTo1970 = 116444736000000000ULL;  // 100 ns units, 1601..1970
constexpr double kMaxDriftMs = 31.25;
constexpr double kBackwardAcceptMs = 2000.0;
constexpr int64_t kCounterTickDisagreeMs = 500;

uint64_t PlatformFileTime() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
bool PlatformFrequency(int64_t* out) {
    LARGE_INTEGER f;
    if (!::QueryPerformanceFrequency(&f) || f.QuadPart == 0) return false;
    *out = f.QuadPart;
    return true;
}
int64_t PlatformCounter() {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return c.QuadPart;
}
uint32_t PlatformTick() { return ::GetTickCount(); }
void PlatformBeginPeriod() { ::timeBeginPeriod(1); }
void PlatformEndPeriod() { ::timeEndPeriod(1); }

}  // namespace

CHighResClock::CHighResClock(const ClockSources& sources) : src_(sources) {}

const ClockSources& CHighResClock::PlatformSources() {
    static const ClockSources sources{PlatformFileTime, PlatformFrequency, PlatformCounter,
                                      PlatformTick,     PlatformBeginPeriod, PlatformEndPeriod};
    return sources;
}

double CHighResClock::GetSystemTimeMs() const {
    const int64_t since1970 = static_cast<int64_t>(src_.systemFileTime() - kFileTimeTo1970);
    return static_cast<double>(since1970) / 10000.0;
}

// The performance counter in milliseconds. A disagreement of more than
// 500 ms with GetTickCount over the same interval means the counter leapt
// (a known fault of some chipsets), so the next reading re-bases.
double CHighResClock::GetCounterMs() {
    const int64_t counter = src_.counter();
    const uint32_t tick = src_.tickCount();
    if (counterSampled_) {
        const int64_t counterElapsed = (counter - lastCounter_) * 1000 / counterFrequency_;
        const int64_t tickElapsed = static_cast<int64_t>(static_cast<uint32_t>(tick - lastTick_));
        if (std::llabs(counterElapsed - tickElapsed) > kCounterTickDisagreeMs) synced_ = false;
    } else {
        counterSampled_ = true;
    }
    lastCounter_ = counter;
    lastTick_ = tick;
    return static_cast<double>(counter) * 1000.0 / static_cast<double>(counterFrequency_);
}

double CHighResClock::GetHighResTime() {
    double systemMs = GetSystemTimeMs();
    if (!frequencyQueried_) {
        frequencyQueried_ = true;
        hasCounter_ = src_.counterFrequency(&counterFrequency_);
    }
    if (!hasCounter_) return systemMs / 1000.0;

    const double counterMs = GetCounterMs();
    if (!synced_) {
        // Read the wall clock once at 1 ms timer resolution for a precise base.
        src_.beginPeriod();
        systemMs = GetSystemTimeMs();
        baseSystemMs_ = systemMs;
        src_.endPeriod();
        baseCounterMs_ = counterMs;
        synced_ = true;
    }
    const double estimateMs = baseSystemMs_ + (counterMs - baseCounterMs_);
    if (std::fabs((counterMs - baseCounterMs_) - (systemMs - baseSystemMs_)) > kMaxDriftMs) synced_ = false;

    // Small backward steps are held flat; large ones (a clock set back on
    // purpose) are accepted.
    if (estimateMs >= lastReturnedMs_ || lastReturnedMs_ - estimateMs >= kBackwardAcceptMs) {
        lastReturnedMs_ = estimateMs;
        return estimateMs / 1000.0;
    }
    return lastReturnedMs_ / 1000.0;
}

double CHighResClock::GetMonotonicTime() {
    const double t = GetHighResTime();
    if (t >= largestSeconds_) largestSeconds_ = t;
    return largestSeconds_;
}

namespace {
CHighResClock& ProcessClock() {
    static CHighResClock clock(CHighResClock::PlatformSources());
    return clock;
}
}  // namespace

double GetSystemTimeMs() { return ProcessClock().GetSystemTimeMs(); }
double GetHighResTime() { return ProcessClock().GetHighResTime(); }
double GetMonotonicTime() { return ProcessClock().GetMonotonicTime(); }
