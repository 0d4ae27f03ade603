// One installer at a time: the name is taken by the first and free again
// once it has gone, however it ended.
#include <gtest/gtest.h>

#include <string>

#include "App/SingleInstance.h"

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
