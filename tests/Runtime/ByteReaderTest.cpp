// The bounds-checked reader that the DNS decoder (big-endian) and the zip
// directory (little-endian) share: the same bytes in both orders, and a read
// that does not fit fails without moving.
#include <gtest/gtest.h>

#include "Runtime/ByteReader.h"

TEST(ByteReader, ReadsFieldsInEitherOrderAndNeverPastTheEnd) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
    kv::BigEndianReader big(bytes, sizeof bytes);
    kv::LittleEndianReader little(bytes, sizeof bytes);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    ASSERT_TRUE(big.ReadU16(u16));
    EXPECT_EQ(u16, 0x1234);
    ASSERT_TRUE(little.ReadU16(u16));
    EXPECT_EQ(u16, 0x3412);
    ASSERT_TRUE(big.ReadU32(u32));
    EXPECT_EQ(u32, 0x56789ABCu);
    ASSERT_TRUE(little.ReadU32(u32));
    EXPECT_EQ(u32, 0xBC9A7856u);
    // One byte left: wider reads, skips and views fail and leave the position.
    EXPECT_FALSE(big.ReadU16(u16));
    EXPECT_FALSE(little.ReadU32(u32));
    const uint8_t* view = nullptr;
    EXPECT_FALSE(big.Take(2, view));
    EXPECT_FALSE(big.Skip(2));
    EXPECT_EQ(big.Position(), 6u);
    ASSERT_TRUE(big.ReadU8(u8));
    EXPECT_EQ(u8, 0xDE);
    EXPECT_FALSE(big.ReadU8(u8));
    EXPECT_EQ(big.Remaining(), 0u);

    EXPECT_FALSE(little.Seek(sizeof bytes + 1));
    ASSERT_TRUE(little.Seek(1));
    ASSERT_TRUE(little.Take(3, view));
    EXPECT_EQ(view, bytes + 1);
    EXPECT_EQ(little.Position(), 4u);
    // A start beyond the end is clamped to it.
    EXPECT_EQ(kv::BigEndianReader(bytes, 3, 10).Remaining(), 0u);

    // 64-bit fields keep their high half.
    const uint8_t wide[] = {0x81, 2, 3, 4, 5, 6, 7, 0x88, 9};
    uint64_t u64 = 0;
    ASSERT_TRUE(kv::BigEndianReader(wide, sizeof wide).ReadU64(u64));
    EXPECT_EQ(u64, 0x8102030405060788ull);
    ASSERT_TRUE(kv::LittleEndianReader(wide, sizeof wide).ReadU64(u64));
    EXPECT_EQ(u64, 0x8807060504030281ull);
    EXPECT_FALSE(kv::LittleEndianReader(wide, 7).ReadU64(u64));
}
