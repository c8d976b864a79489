#include "test/sinegen.h"

#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <vector>

namespace {

class SineGeneratorTest : public ::testing::Test {
 protected:
  void TearDown() override { SINEGEN_Free(&sine); }
  SINEGEN sine{};
};

TEST_F(SineGeneratorTest, TableHoldsOnePeriodPerSecondAtATenthOfFullScale) {
  ASSERT_EQ(0, SINEGEN_Init(&sine, 48000, 1.0f, 0.1f));
  EXPECT_EQ(48000, sine.nLength);
  EXPECT_EQ(440.0f, sine.fFrequency);
  EXPECT_EQ(0.0f, sine.fPhase);
  const int32_t* table = sine.pTable;
  EXPECT_EQ(838860, *std::max_element(table, table + 48000));
  EXPECT_EQ(-838860, *std::min_element(table, table + 48000));
  EXPECT_EQ(838860, table[12000]);
  EXPECT_EQ(0, table[0]);
  EXPECT_EQ(0, table[24000]);
  // Exactly one period: positive in the first half, negative in the second.
  EXPECT_GT(table[1], 0);
  EXPECT_GT(table[23999], 0);
  EXPECT_LT(table[24001], 0);
  EXPECT_LT(table[47999], 0);
}

TEST_F(SineGeneratorTest, RendersTheFirstChannelAndCopiesItToTheOthers) {
  ASSERT_EQ(0, SINEGEN_Init(&sine, 48000, 1.0f, 0.1f));
  sine.fFrequency = 1000.0f;
  std::vector<int32_t> out(3 * 64, -1);
  ASSERT_EQ(0, SINEGEN_Render(&sine, out.data(), 64, 3));
  for (int i = 0; i < 64; i++) {
    EXPECT_EQ(sine.pTable[(i * 1000) % 48000], out[i]);
    EXPECT_EQ(out[i], out[64 + i]);
    EXPECT_EQ(out[i], out[128 + i]);
  }
  EXPECT_FLOAT_EQ(64000.0f - 48000.0f, sine.fPhase);
}

TEST_F(SineGeneratorTest, FrequencyChangeBetweenBuffersKeepsThePhase) {
  ASSERT_EQ(0, SINEGEN_Init(&sine, 48000, 1.0f, 0.1f));
  std::vector<int32_t> first(480), second(480);
  sine.fFrequency = 440.0f;
  SINEGEN_Render(&sine, first.data(), 480, 1);
  float phase = sine.fPhase;
  EXPECT_FLOAT_EQ(fmodf(480.0f * 440.0f, 48000.0f), phase);
  sine.fFrequency = 1000.0f;
  SINEGEN_Render(&sine, second.data(), 480, 1);
  // The new pitch starts where the old one stopped, then steps by 1000.
  EXPECT_EQ(sine.pTable[(int32_t)phase], second[0]);
  EXPECT_EQ(sine.pTable[(int32_t)(phase + 1000.0f)], second[1]);
  // The sample value moves only as far as one step of the new pitch allows.
  double maxStep = 838860.0 * 2.0 * 3.14159265358979 * 1000.0 / 48000.0;
  EXPECT_LE(fabs((double)second[0] - first[479]), maxStep);
}

TEST_F(SineGeneratorTest, MeasuredFrequencyOfTheRenderedTone) {
  ASSERT_EQ(0, SINEGEN_Init(&sine, 44100, 1.0f, 0.1f));
  sine.fFrequency = 100.0f;
  std::vector<int32_t> out(44100);
  for (int b = 0; b < 44100 / 441; b++) SINEGEN_Render(&sine, out.data() + b * 441, 441, 1);
  int rising = 0;
  for (size_t i = 1; i < out.size(); i++)
    if (out[i - 1] < 0 && out[i] >= 0) rising++;
  EXPECT_NEAR(100, rising, 1);
}

TEST_F(SineGeneratorTest, RefusedArgumentsAndMissingTable) {
  EXPECT_EQ(-1, SINEGEN_Init(nullptr, 48000, 1.0f, 0.1f));
  EXPECT_EQ(-1, SINEGEN_Render(nullptr, nullptr, 1, 1));
  EXPECT_EQ(-1, SINEGEN_Free(nullptr));
  int32_t out[4] = {7, 7, 7, 7};
  EXPECT_EQ(-2, SINEGEN_Render(&sine, out, 4, 1));
  EXPECT_EQ(7, out[0]);  // nothing written without a table
  EXPECT_EQ(-2, SINEGEN_Init(&sine, 0, 1.0f, 0.1f));

  // Refused table frequencies keep the (silent) table allocated.
  EXPECT_EQ(-10, SINEGEN_Init(&sine, 100, 0.001f, 0.1f));
  ASSERT_NE(nullptr, sine.pTable);
  SINEGEN_Free(&sine);
  EXPECT_EQ(-11, SINEGEN_Init(&sine, 100, 51.0f, 0.1f));
  ASSERT_NE(nullptr, sine.pTable);
  EXPECT_EQ(0, SINEGEN_Render(&sine, out, 4, 1));
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(0, SINEGEN_Free(&sine));
  EXPECT_EQ(nullptr, sine.pTable);
}

TEST_F(SineGeneratorTest, FrequenciesBeyondTheTableNeverReadOutsideIt) {
  ASSERT_EQ(0, SINEGEN_Init(&sine, 1000, 1.0f, 0.1f));
  std::vector<int32_t> out(256);
  for (float f : {999.9f, 1000.0f, 2500.5f, -3.0f, 1e30f, NAN}) {
    sine.fFrequency = f;
    EXPECT_EQ(0, SINEGEN_Render(&sine, out.data(), 256, 1));
    EXPECT_GE(sine.fPhase, 0.0f);
    EXPECT_LT(sine.fPhase, 1000.0f);
  }
}

}  // namespace
