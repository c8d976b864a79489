#include "asio/asioswitch.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A prepared device over caller-owned driver buffers.
class PreparedDevice : public ::testing::Test {
 protected:
  void Prepare(const std::vector<ASIOSampleType>& inputs, const std::vector<ASIOSampleType>& outputs,
               int32_t nBufferSize) {
    device_.reset(new ASIOMAN_DEVICE());
    ASIOMAN_DEVICE* d = device_.get();
    d->nInputs = (int32_t)inputs.size();
    d->nOutputs = (int32_t)outputs.size();
    d->nBufferSize = nBufferSize;
    std::vector<ASIOSampleType> types = inputs;
    types.insert(types.end(), outputs.begin(), outputs.end());
    driver_.assign(types.size() * 2, std::vector<uint8_t>(nBufferSize * 8, 0xEE));
    for (size_t i = 0; i < types.size(); i++) {
      d->bufferInfos[i].isInput = i < inputs.size();
      d->channelInfos[i].type = types[i];
      d->bufferInfos[i].buffers[0] = driver_[2 * i].data();
      d->bufferInfos[i].buffers[1] = driver_[2 * i + 1].data();
    }
    inputBlock_.assign(inputs.size() * nBufferSize, 0);
    outputBlock_.assign(outputs.size() * nBufferSize, 0);
    d->pInputBlock = inputBlock_.data();
    d->pOutputBlock = outputBlock_.data();
    ASIOMAN_PrepareConversions(d);
  }

  uint8_t* Driver(size_t channel, int half) { return driver_[2 * channel + half].data(); }

  std::unique_ptr<ASIOMAN_DEVICE> device_;
  std::vector<std::vector<uint8_t>> driver_;
  std::vector<int32_t> inputBlock_, outputBlock_;
};

}  // namespace

TEST_F(PreparedDevice, ConvertsEachChannelOfTheGivenHalfIntoItsOwnBlock) {
  Prepare({ASIOSTInt32LSB, ASIOSTInt16LSB}, {ASIOSTInt24LSB}, 4);
  int32_t in0[4] = {0x100, 0x200, 0x300, 0x400};
  memcpy(Driver(0, 1), in0, sizeof(in0));
  int16_t in1[4] = {1, 2, 3, -1};
  memcpy(Driver(1, 1), in1, sizeof(in1));
  outputBlock_ = {0x010203, 0x040506, -1, 0};

  EXPECT_EQ(0, ASIOMAN_ConvertChannels(device_.get(), 1));

  EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 256, 512, 768, -256}), inputBlock_);
  std::vector<uint8_t> out(Driver(2, 1), Driver(2, 1) + 13);
  EXPECT_EQ((std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xEE}), out);
  EXPECT_EQ(0xEE, Driver(2, 0)[0]) << "the other half stays untouched";
}

TEST_F(PreparedDevice, LastInputWithoutConversionGivesTheErrorWhileOutputsAreStillWritten) {
  Prepare({ASIOSTFloat64LSB, ASIOSTInt32LSB, ASIOSTInt32LSB16, ASIOSTDSDInt8LSB1}, {ASIOSTInt32MSB}, 4);
  EXPECT_EQ(3, device_->nConversionError);
  EXPECT_EQ(3, ASIOMAN_ConvertChannels(device_.get(), 0));
  EXPECT_EQ(std::vector<uint8_t>(16, 0), std::vector<uint8_t>(Driver(4, 0), Driver(4, 0) + 16));
  EXPECT_EQ(0xEE, Driver(4, 0)[16]);
  EXPECT_EQ(0, inputBlock_[0]) << "an input without conversion keeps its zeros";
  EXPECT_EQ(0, inputBlock_[12]) << "a DSD input keeps its zeros";
}

TEST_F(PreparedDevice, DsdChannelsStreamWithoutErrorAndAreNeverWritten) {
  Prepare({ASIOSTDSDInt8MSB1}, {ASIOSTDSDInt8NER8}, 8);
  outputBlock_.assign(8, 12345);
  EXPECT_EQ(0, ASIOMAN_ConvertChannels(device_.get(), 0));
  EXPECT_EQ(std::vector<uint8_t>(64, 0xEE), driver_[2]);
}

TEST_F(PreparedDevice, ChannelsOfOneTypeConvertInOneRunEachAsAlone) {
  const size_t n = 44;  // a pass of 32, a vector of 8 and 4 more
  Prepare({ASIOSTFloat32LSB, ASIOSTFloat32LSB, ASIOSTInt16LSB, ASIOSTFloat32LSB}, {ASIOSTInt32LSB, ASIOSTInt32LSB},
          (int32_t)n);
  EXPECT_EQ(3, device_->nInputRuns);
  EXPECT_EQ(1, device_->nOutputRuns);
  for (size_t c = 0; c < 6; c++)
    for (size_t k = 0; k < n * 4; k++) Driver(c, 1)[k] = (uint8_t)(k * 7 + c * 13 + 1) & 0xBF;  // floats below 2
  for (size_t k = 0; k < outputBlock_.size(); k++) outputBlock_[k] = (int32_t)(k * 2654435761u) >> 8;

  EXPECT_EQ(0, ASIOMAN_ConvertChannels(device_.get(), 1));

  for (size_t c = 0; c < 4; c++) {
    std::vector<int32_t> alone(n);
    ASIOMAN_GetInputConversion(device_->channelInfos[c].type)(Driver(c, 1), alone.data(), n);
    EXPECT_EQ(alone, std::vector<int32_t>(inputBlock_.begin() + c * n, inputBlock_.begin() + (c + 1) * n)) << c;
  }
  for (size_t c = 0; c < 2; c++) {
    std::vector<uint8_t> alone(n * 4);
    ASIOMAN_GetOutputConversion(ASIOSTInt32LSB)(alone.data(), outputBlock_.data() + c * n, n);
    EXPECT_EQ(alone, std::vector<uint8_t>(Driver(4 + c, 1), Driver(4 + c, 1) + n * 4)) << c;
  }
}

TEST(SwitchStatistics, RelaxesTheExtremesAndPullsThemToTheLastSwitch) {
  ASIOMAN_TIMING t = {};
  t.qpcRelaxStep = 10;
  t.qpcProcessMin = 1000;
  t.qpcProcessMax = 0;
  t.fMegaCyclesMin = 10000.0f;
  t.qpcThreshold50 = 50;
  t.qpcThreshold80 = 80;
  t.qpcThreshold100 = 100;

  ASIOMAN_UpdateStatistics(&t, 60, 2000000);
  EXPECT_EQ(60, t.qpcProcess);
  EXPECT_EQ(60, t.qpcProcessMin);
  EXPECT_EQ(60, t.qpcProcessMax);
  EXPECT_FLOAT_EQ(2.0f, t.fMegaCycles);
  EXPECT_FLOAT_EQ(2.0f, t.fMegaCyclesMin);
  EXPECT_FLOAT_EQ(2.0f, t.fMegaCyclesMax);

  ASIOMAN_UpdateStatistics(&t, 60, 2000000);
  EXPECT_EQ(60, t.qpcProcessMin);

  ASIOMAN_UpdateStatistics(&t, 65, 2000000);
  EXPECT_EQ(65, t.qpcProcessMax);
  EXPECT_EQ(65, t.qpcProcessMin) << "the minimum rises by at most the step";
  ASIOMAN_UpdateStatistics(&t, 100, 3000000);
  EXPECT_EQ(75, t.qpcProcessMin);
  EXPECT_EQ(100, t.qpcProcessMax);
  EXPECT_FLOAT_EQ(2.001f, t.fMegaCyclesMin);
  EXPECT_FLOAT_EQ(3.0f, t.fMegaCyclesMax);
  ASIOMAN_UpdateStatistics(&t, 0, 0);
  EXPECT_EQ(90, t.qpcProcessMax);
  EXPECT_FLOAT_EQ(2.999f, t.fMegaCyclesMax);

  EXPECT_EQ(4, t.nOver50);
  EXPECT_EQ(1, t.nOver80);
  EXPECT_EQ(0, t.nOver100) << "exactly the period is not an overrun";
  ASIOMAN_UpdateStatistics(&t, 101, 0);
  EXPECT_EQ(1, t.nOver100);
}

TEST(SwitchStatistics, RelaxStepIsFrequencyOverTwentyRSquaredAndNeverZero) {
  EXPECT_EQ(10000000 / 200000, ASIOMAN_RelaxStep(10000000, 48000, 480));
  EXPECT_EQ(10000000 / (20 * 43 * 43), ASIOMAN_RelaxStep(10000000, 44100, 1024));
  EXPECT_EQ(10000000 / 20, ASIOMAN_RelaxStep(10000000, 44100, 88200)) << "a buffer over a second has r = 1";
  EXPECT_EQ(10000000 / 20, ASIOMAN_RelaxStep(10000000, 48000, 0));
  EXPECT_EQ(10000000 / 20, ASIOMAN_RelaxStep(10000000, 48000, -4));
  EXPECT_EQ(1, ASIOMAN_RelaxStep(1000, 192000, 4));
  EXPECT_EQ(1, ASIOMAN_RelaxStep(10000000, 0xFFFFFFFFu, 1));
}

TEST(DriverText, ControlBytesBecomeQuestionMarksUpToTheTerminatorOrTheSize) {
  char name[12] = {'I', 'n', '\r', '\n', '1', 0x1B, '[', '3', 0x7F, 0x01, 'x', 'y'};  // no terminator
  ASIOMAN_MakePrintable(name, sizeof(name));
  EXPECT_EQ("In??1?[3??xy", std::string(name, sizeof(name)));
  char error[8] = "ok\0\t";
  ASIOMAN_MakePrintable(error, sizeof(error));
  EXPECT_EQ('\t', error[3]) << "past the terminator is not the text";
}
