#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Runtime/IBufferStream.h"
#include "Runtime/OBufferStream.h"

TEST(IBufferStream, ReadsAreAllOrNothingAndZeroAtTheEnd) {
    const char data[] = "0123456789ABCD";  // 14 bytes
    IBufferStream in(data, 14);
    EXPECT_EQ(in.GetSize(), 14u);
    char buffer[16] = {};
    EXPECT_EQ(in.Read(buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(in.Read(buffer, 10), -1);  // only 4 remain: nothing copied, position kept
    EXPECT_EQ(in.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "ABCD");
    EXPECT_EQ(in.Read(buffer, 4), 0);
}

TEST(IBufferStream, CopiesItsInputAndCloseEmptiesIt) {
    char data[4] = {'a', 'b', 'c', 'd'};
    IBufferStream in(data, 4);
    data[0] = 'z';
    char buffer[4];
    ASSERT_EQ(in.Read(buffer, 4), 4);
    EXPECT_EQ(buffer[0], 'a');
    in.Close();
    EXPECT_EQ(in.GetSize(), 0u);
    EXPECT_EQ(in.Read(buffer, 1), 0);
    IBufferStream empty(nullptr, 0);
    EXPECT_EQ(empty.Read(buffer, 0), 0);
}

TEST(OBufferStream, StartsWithTwoMiBAndDoublesKeepingEveryByte) {
    OBufferStream out;
    EXPECT_EQ(out.Capacity(), 0x200000u);
    std::string first(1536 * 1024, '\0');
    for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>(i * 7);
    ASSERT_EQ(out.Write(first.data(), static_cast<uint32_t>(first.size())), static_cast<int32_t>(first.size()));
    EXPECT_EQ(out.Capacity(), 0x200000u);
    const std::string second(600 * 1024, 'x');
    ASSERT_EQ(out.Write(second.data(), static_cast<uint32_t>(second.size())), static_cast<int32_t>(second.size()));
    EXPECT_EQ(out.Capacity(), 0x400000u);  // 1.5 MiB + 600 KiB > 2 MiB: doubled once
    ASSERT_EQ(out.Size(), first.size() + second.size());
    EXPECT_EQ(std::string(out.Data(), first.size()), first);
    EXPECT_EQ(std::string(out.Data() + first.size(), second.size()), second);
    EXPECT_EQ(out.lastError, 0u);
}

TEST(OBufferStream, KeepsTenBytesSpare) {
    OBufferStream out;
    const std::string fill(0x200000 - 10, 'a');
    out.Write(fill.data(), static_cast<uint32_t>(fill.size()));
    EXPECT_EQ(out.Capacity(), 0x200000u);
    out.Write("b", 1);  // size + 1 + 10 no longer fits
    EXPECT_EQ(out.Capacity(), 0x400000u);
}

TEST(OBufferStream, CloseAndResetFreeTheBlockAndGrowthRestartsAt512KiB) {
    OBufferStream out;
    out.Write("abc", 3);
    out.Reset();
    EXPECT_EQ(out.Size(), 0u);
    EXPECT_EQ(out.Capacity(), 0u);
    out.Write("xy", 2);
    EXPECT_EQ(out.Capacity(), 0x80000u);
    EXPECT_EQ(std::string(out.Data(), out.Size()), "xy");
    out.Close();
    EXPECT_EQ(out.Capacity(), 0u);
    const std::string big(0x80000, 'q');  // 512 KiB + 10 spare: 1 MiB
    out.Write(big.data(), static_cast<uint32_t>(big.size()));
    EXPECT_EQ(out.Capacity(), 0x100000u);
}

// Regression: the growth arithmetic must not wrap, and the block has a cap.
TEST(OBufferStream, RefusesToGrowPastItsCap) {
    OBufferStream out(0x300000);  // 3 MiB cap
    const std::string chunk(0x100000, 'c');
    EXPECT_EQ(out.Write(chunk.data(), 0x100000), 0x100000);
    EXPECT_EQ(out.Write(chunk.data(), 0x100000), 0x100000);  // grows to the cap, not 4 MiB
    EXPECT_EQ(out.Capacity(), 0x300000u);
    EXPECT_EQ(out.Write(chunk.data(), 0x100000), -1);  // 3 MiB + 10 spare does not fit
    EXPECT_EQ(out.LastErrorCode(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(out.LastErrorType(), 1);
    EXPECT_EQ(out.Size(), 0x200000u);  // what was written stays
    EXPECT_EQ(out.Write(chunk.data(), 0xFFFFFFF0u), -1);
}
