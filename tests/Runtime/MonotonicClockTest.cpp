#include <gtest/gtest.h>

#include "Runtime/MonotonicClock.h"

namespace {

// A fake machine: wall clock, performance counter (1 MHz) and tick count,
// advanced together by Advance(); the wall clock can be set on its own.
struct FakeMachine {
    uint64_t fileTime = 133000000000000000ULL;  // some day in 2022
    int64_t counter = 5000000;
    uint32_t tick = 0xFFFFF000u;  // close to the 49.7-day wrap
    bool hasCounter = true;
    int rebases = 0;

    void Advance(double ms) {
        fileTime += static_cast<uint64_t>(ms * 10000);
        counter += static_cast<int64_t>(ms * 1000);
        tick += static_cast<uint32_t>(ms);
    }
    void SetWallBack(double ms) { fileTime -= static_cast<uint64_t>(ms * 10000); }
};
FakeMachine g_m;

ClockSources FakeSources() {
    return ClockSources{
        [] { return g_m.fileTime; },
        [](int64_t* f) {
            *f = 1000000;
            return g_m.hasCounter;
        },
        [] { return g_m.counter; },
        [] { return g_m.tick; },
        [] { ++g_m.rebases; },
        [] {},
    };
}

double WallSeconds() { return (static_cast<double>(g_m.fileTime) - 116444736000000000.0) / 1e7; }

}  // namespace

TEST(MonotonicClock, SystemTimeIsMillisecondsSince1970) {
    g_m = FakeMachine{};
    g_m.fileTime = 116444736000000000ULL + 10000ULL * 1500;  // 1970 + 1.5 s
    CHighResClock clock(FakeSources());
    EXPECT_DOUBLE_EQ(clock.GetSystemTimeMs(), 1500.0);
    CHighResClock real(CHighResClock::PlatformSources());
    EXPECT_GT(real.GetSystemTimeMs(), 1.6e12);  // after 2020
}

TEST(MonotonicClock, FollowsCounterAndSurvivesTickWrap) {
    g_m = FakeMachine{};
    CHighResClock clock(FakeSources());
    const double t0 = clock.GetHighResTime();
    EXPECT_NEAR(t0, WallSeconds(), 1e-3);
    EXPECT_EQ(g_m.rebases, 1);
    for (int i = 0; i < 20; ++i) g_m.Advance(1000);  // crosses the tick wrap
    EXPECT_NEAR(clock.GetHighResTime() - t0, 20.0, 1e-6);
    EXPECT_EQ(g_m.rebases, 1) << "no re-base while counter, tick and wall clock agree";
}

TEST(MonotonicClock, SmallSetBackIsHeldFlatUntilTimeCatchesUp) {
    g_m = FakeMachine{};
    CHighResClock clock(FakeSources());
    clock.GetHighResTime();
    g_m.Advance(100);
    g_m.SetWallBack(1000);
    g_m.Advance(10);
    // This reading still follows the counter and notices the drift; the next
    // one re-bases about 990 ms back and is held at this value.
    const double before = clock.GetHighResTime();
    g_m.Advance(10);
    EXPECT_DOUBLE_EQ(clock.GetHighResTime(), before) << "held flat";
    g_m.Advance(500);
    EXPECT_DOUBLE_EQ(clock.GetHighResTime(), before);
    g_m.Advance(600);
    EXPECT_GT(clock.GetHighResTime(), before) << "real time caught up";
}

TEST(MonotonicClock, LargeSetBackRebasesWhileMonotonicStaysAtItsLargest) {
    g_m = FakeMachine{};
    CHighResClock clock(FakeSources());
    clock.GetMonotonicTime();
    g_m.SetWallBack(3600 * 1000.0);
    g_m.Advance(10);
    const double largest = clock.GetMonotonicTime();  // drift detected on this reading
    g_m.Advance(10);
    EXPECT_NEAR(clock.GetHighResTime(), WallSeconds(), 1e-3) << "follows the new wall clock";
    EXPECT_DOUBLE_EQ(clock.GetMonotonicTime(), largest);
    g_m.Advance(3601 * 1000.0);
    EXPECT_GT(clock.GetMonotonicTime(), largest);
}

TEST(MonotonicClock, CounterLeapAgainstTickCountForcesRebase) {
    g_m = FakeMachine{};
    CHighResClock clock(FakeSources());
    clock.GetHighResTime();
    g_m.Advance(100);
    g_m.counter += 5 * 1000000;  // the counter leaps 5 s on its own
    EXPECT_EQ(g_m.rebases, 1);
    // The tick count disagrees by far more than 500 ms: re-based at once,
    // so the leap never shows in the reading.
    EXPECT_NEAR(clock.GetHighResTime(), WallSeconds(), 1e-3);
    EXPECT_EQ(g_m.rebases, 2);
}

TEST(MonotonicClock, WithoutCounterWallClockButMonotonicNeverDecreases) {
    g_m = FakeMachine{};
    g_m.hasCounter = false;
    CHighResClock clock(FakeSources());
    EXPECT_DOUBLE_EQ(clock.GetHighResTime(), WallSeconds());
    const double m = clock.GetMonotonicTime();
    g_m.SetWallBack(5000);
    EXPECT_DOUBLE_EQ(clock.GetHighResTime(), WallSeconds());
    EXPECT_DOUBLE_EQ(clock.GetMonotonicTime(), m);
    EXPECT_EQ(g_m.rebases, 0);
}

TEST(MonotonicClock, PlatformClockNeverGoesBackwards) {
    double last = GetMonotonicTime();
    for (int i = 0; i < 10000; ++i) {
        const double t = GetMonotonicTime();
        ASSERT_GE(t, last);
        last = t;
    }
}
