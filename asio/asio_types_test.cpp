#include "asio/asio_types.h"
#include "asio/asioman_types.h"

#include <stddef.h>

#include "gtest/gtest.h"

namespace {

// The driver reads these records with the published offsets; a compiler that
// padded them differently would hand the driver garbage.
TEST(AsioTypesLayout, FieldOffsetsMatchThePublishedPacking) {
  EXPECT_EQ(offsetof(ASIOBufferInfo, buffers), 8u);
  EXPECT_EQ(offsetof(ASIOChannelInfo, type), 16u);
  EXPECT_EQ(offsetof(ASIOChannelInfo, name), 20u);
  EXPECT_EQ(offsetof(AsioTimeInfo, systemTime), 8u);
  EXPECT_EQ(offsetof(AsioTimeInfo, samplePosition), 16u);
  EXPECT_EQ(offsetof(AsioTimeInfo, flags), 32u);
  EXPECT_EQ(offsetof(ASIOTimeCode, flags), 16u);
  EXPECT_EQ(offsetof(ASIOTime, timeInfo), 16u);
  EXPECT_EQ(offsetof(ASIOTime, timeCode), 64u);
}

TEST(AsioTypesLayout, JoinComposesHighAndLowHalves) {
  EXPECT_EQ(ASIO_Join64(0, 0), 0);
  EXPECT_EQ(ASIO_Join64(1, 2), (int64_t(1) << 32) + 2);
  EXPECT_EQ(ASIO_Join64(0, 0xFFFFFFFFu), int64_t(0xFFFFFFFF));
  EXPECT_EQ(ASIO_Join64(0xFFFFFFFFu, 0xFFFFFFFFu), -1);
}

TEST(AsioManTypes, SharedFieldsKeepTheirWidth) {
  EXPECT_EQ(sizeof(ASIOMAN_DEVICE::bInCallback), 4u);
  EXPECT_EQ(sizeof(ASIOMAN_TIMING::qpcProcess), 8u);
  EXPECT_EQ(sizeof(ASIOMAN_TIMING::fMegaCycles), 4u);
}

}  // namespace
