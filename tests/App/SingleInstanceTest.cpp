// One installer at a time: the name is taken by the first and free again
// once it has gone, however it ended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "App/SingleInstance.h"
#include "Runtime/AdminOnlySecurity.h"

TEST(SingleInstance, TheNameIsTakenUntilItsHolderHasGone) {
    const std::wstring name = L"Global\\KvSingleInstanceTest." + std::to_wstring(::GetCurrentProcessId());
    {
        CSingleInstance first, second;
        EXPECT_EQ(first.Acquire(name.c_str()), CSingleInstance::State::kFirst);
        EXPECT_EQ(second.Acquire(name.c_str()), CSingleInstance::State::kAnotherRunning);
        // The refused one holds nothing: when the first goes, the name is free.
    }
    CSingleInstance again;
    EXPECT_EQ(again.Acquire(name.c_str()), CSingleInstance::State::kFirst);
}

// A name made first with the default descriptor (any user can) blocks no
// installer: it is passed over for the next of the series, which is held
// with owner Administrators and admits Administrators and SYSTEM alone; a
// later installer still finds that one and stays out. With every name of
// the series squatted the run goes on unguarded.
TEST(SingleInstance, ANameSquattedByAnotherUserIsPassedOver) {
    const std::wstring name = L"Global\\KvSquatTest." + std::to_wstring(::GetCurrentProcessId());
    const auto series = [&](int i) { return i == 0 ? name : name + L"." + std::to_wstring(i); };
    kv::UniqueKernelHandle squatter(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(squatter);
    {
        CSingleInstance first, second;
        EXPECT_EQ(first.Acquire(name.c_str()), CSingleInstance::State::kFirst);
        kv::UniqueKernelHandle held(::OpenMutexW(READ_CONTROL, FALSE, series(1).c_str()));
        ASSERT_TRUE(held) << "the next name of the series is not held";
        EXPECT_TRUE(IsAdminOnly(held.get(), SE_KERNEL_OBJECT));
        EXPECT_FALSE(OwnedByAdministrators(squatter.get(), SE_KERNEL_OBJECT));
        // The squatter gone, a later installer takes the first name and still sees the other.
        squatter.reset();
        EXPECT_EQ(second.Acquire(name.c_str()), CSingleInstance::State::kAnotherRunning);
    }
    std::vector<kv::UniqueKernelHandle> all;
    for (int i = 0; i < CSingleInstance::kSeriesLength; ++i) all.emplace_back(::CreateMutexW(nullptr, FALSE, series(i).c_str()));
    CSingleInstance third;
    EXPECT_EQ(third.Acquire(name.c_str()), CSingleInstance::State::kUnguarded);
}
