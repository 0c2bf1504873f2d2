#include <gtest/gtest.h>

#include "output/byte_sink.h"

TEST(Byte_Sink_Test, GrowsAndKeepsEveryByte) {
  Byte_Sink sink;
  for (uint32_t i = 0; i < 300000; ++i) sink.U32(i);
  ASSERT_FALSE(sink.failed);
  ASSERT_EQ(sink.size, 1200000u);
  for (uint32_t i = 0; i < 300000; i += 9973) {
    const uint8_t* p = sink.data + 4 * i;
    EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24, i);
  }
}

TEST(Byte_Sink_Test, LittleEndianPatchAlignAndExtend) {
  Byte_Sink sink;
  sink.U8(0xAA);
  sink.Align(4);
  EXPECT_EQ(sink.size, 4u);
  sink.U16(0x1234);
  sink.U64(0x0102030405060708ull);
  sink.Patch_U32(0, 0xDDCCBBAA);
  sink.Patch_U16(20, 0xBEEF);  // beyond the end: zeros up to it
  const uint8_t want[] = {0xAA, 0xBB, 0xCC, 0xDD, 0x34, 0x12, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0xEF, 0xBE};
  ASSERT_EQ(sink.size, sizeof want);
  for (uint32_t i = 0; i < sizeof want; ++i) EXPECT_EQ(sink.data[i], want[i]) << i;
}

TEST(Byte_Sink_Test, RefusesWritesBeyondItsLimit) {
  Byte_Sink sink;
  sink.Patch_U32(0xFFFFFFFEu, 1);
  EXPECT_TRUE(sink.failed);
  sink.U8(1);
  EXPECT_EQ(sink.size, 0u);
}
