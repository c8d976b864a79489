#include "test/processing.h"

#include "test/loadgen.h"
#include "test/statistics.h"
#include "test/testrun_fixture.h"

namespace {

const char kDashes59[] = "-----------------------------------------------------------";

class ProcessingTest : public TestRunFixture {
 protected:
  int Order(uint32_t order, intptr_t param1 = 0, intptr_t param2 = 0) {
    return ProcessingCallback(context, device.get(), order, param1, param2);
  }
  void Prepare(int32_t inputs, int32_t outputs, int32_t bufferSize = 480) {
    SetDevice(48000, bufferSize, inputs, outputs);
    device->nInputLatency = 480;
    device->nOutputLatency = 960;
    device->bOutputReady = 1;
    ASSERT_EQ(1, Order(ASIOMAN_ORDER_PREPAREDDEVICE));
    in.assign((size_t)inputs * bufferSize, 0);
    out.assign((size_t)outputs * bufferSize, -1);
    for (int32_t c = 0; c < inputs; c++)
      for (int32_t i = 0; i < bufferSize; i++) in[(size_t)c * bufferSize + i] = (c + 1) * 1000 + i;
  }
  void ProcessBuffer() {
    device->timing.qpcSwitchStart = device->timing.qpcSwitchStart + 100000;
    Order(ASIOMAN_ORDER_PROCESSBUFFER, (intptr_t)(in.empty() ? nullptr : in.data()), (intptr_t)out.data());
  }
  int32_t Out(int32_t channel, int32_t i) const { return out[(size_t)channel * context->nBufferSize + i]; }
  // Which input an output channel carries, -1 for silence, -2 for neither.
  int32_t SourceOf(int32_t channel) const {
    int32_t first = Out(channel, 0);
    if (first == 0 && Out(channel, 7) == 0) return -1;
    int32_t source = first / 1000 - 1;
    return Out(channel, 7) == first + 7 ? source : -2;
  }

  std::vector<int32_t> in, out;
};

TEST_F(ProcessingTest, PreparationCopiesTheStreamAndLogsTheReportOnce) {
  Prepare(2, 2);
  EXPECT_EQ(48000, context->nSampleRate);
  EXPECT_EQ(480, context->nBufferSize);
  EXPECT_EQ(2, context->nInputs);
  EXPECT_EQ(2, context->nOutputs);
  std::vector<std::string> expected = {
      "PREPARE DEVICE: sr:48000 Hz / buffer: 480 smp / in: 2 / out: 2",
      "Latency: in:480 smp / buffer: 480 smp / out: 960 smp / total: 40.00 ms",
      "Must Call ASIOOutputReady(): YES",
      kDashes59,
      " ASIO Buffer 0 / Input / type:18 /ASIOSTInt32LSB (In 1)",
      " ASIO Buffer 1 / Input / type:18 /ASIOSTInt32LSB (In 2)",
      " ASIO Buffer 2 / Output / type:18 /ASIOSTInt32LSB (Out 1)",
      " ASIO Buffer 3 / Output / type:18 /ASIOSTInt32LSB (Out 2)",
      kDashes59,
      "                               Latency: 480 smp",
      "                             I/O Limit: 512 / in: 2 / out: 2",
      "          Performance Counter Frequency: +10.000.000",
      "     Performance Counter for one buffer: +100.000 (10.0 ms)",
      "            Performance Counter for 10%: +10.000",
      kDashes59,
      "GENERATE SINUS: 440 Hz -20 dBfs",
      "DSP LOAD: nothing"};
  EXPECT_EQ(expected, LogLines());
  EXPECT_EQ(10000000, context->nPerfFrequency);
  EXPECT_EQ(100000, context->nPerfPerBuffer);
}

TEST_F(ProcessingTest, PreparationAllocatesTheRunBlocksAndClosingFreesThem) {
  context->fSineFrequency = 1000.0f;
  Prepare(2, 2, 256);
  ASSERT_NE(nullptr, context->pCopySource);
  ASSERT_NE(nullptr, context->pCopyTarget);
  EXPECT_EQ(0, context->pCopyTarget[256 * 128 - 1]);
  ASSERT_NE(nullptr, context->sine.pTable);
  EXPECT_EQ(48000, context->sine.nLength);
  EXPECT_EQ(1000.0f, context->sine.fFrequency);
  EXPECT_EQ("DSP LOAD: nothing", LastLogLine());

  EXPECT_EQ(1, Order(ASIOMAN_ORDER_CLOSINGDEVICE));
  EXPECT_EQ("CLOSE DEVICE", LastLogLine());
  EXPECT_EQ(nullptr, context->pCopySource);
  EXPECT_EQ(nullptr, context->pCopyTarget);
  EXPECT_EQ(nullptr, context->sine.pTable);
}

TEST_F(ProcessingTest, PassThroughModeKeepsTheGeneratorsFrequency) {
  context->fSineFrequency = 0.0f;
  Prepare(2, 2);
  EXPECT_EQ(440.0f, context->sine.fFrequency);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ("MODE PASS-THROUGH: all inputs -> all outputs", lines[lines.size() - 2]);
}

TEST_F(ProcessingTest, SineOnEveryOutputThenPassThroughFromTheNextBuffer) {
  Prepare(2, 3);
  ProcessBuffer();
  for (int32_t c = 0; c < 3; c++)
    for (int32_t i = 0; i < 480; i++) ASSERT_EQ(context->sine.pTable[(i * 440) % 48000], Out(c, i));
  context->fSineFrequency = 0.0f;
  ProcessBuffer();
  EXPECT_EQ(0, SourceOf(0));
  EXPECT_EQ(1, SourceOf(1));
  EXPECT_EQ(0, SourceOf(2));
}

TEST_F(ProcessingTest, PassThroughRepeatsTheInputsOverTheOutputs) {
  context->fSineFrequency = 0.0f;
  Prepare(2, 6, 64);
  ProcessBuffer();
  std::vector<int32_t> sources;
  for (int32_t c = 0; c < 6; c++) sources.push_back(SourceOf(c));
  EXPECT_EQ(std::vector<int32_t>({0, 1, 0, 1, 0, 1}), sources);
}

TEST_F(ProcessingTest, PassThroughWithMoreInputsCopiesTheFirstOnes) {
  context->fSineFrequency = 0.0f;
  Prepare(5, 2, 64);
  ProcessBuffer();
  EXPECT_EQ(0, SourceOf(0));
  EXPECT_EQ(1, SourceOf(1));
}

TEST_F(ProcessingTest, PassThroughWithoutInputsIsSilence) {
  context->fSineFrequency = 0.0f;
  Prepare(0, 4, 64);
  ProcessBuffer();
  for (int32_t c = 0; c < 4; c++) EXPECT_EQ(-1, SourceOf(c)) << c;
}

TEST_F(ProcessingTest, EachBufferUpdatesStatisticsAndDriverTime) {
  ASSERT_EQ(0, STATISTICS_AllocHistory(context));
  Prepare(2, 2);
  device->timing.nLastSwitch = 3;
  device->timing.nSamplePosition = 4800;
  device->timing.nsSystemTime = 123456789;
  ProcessBuffer();
  EXPECT_EQ(3, context->nBufferNumber);
  EXPECT_EQ(4800, context->nDriverSamplePosition);
  EXPECT_EQ(123456789, context->nDriverSystemTime);
  EXPECT_EQ(1, context->nHistoryWrite);
  EXPECT_EQ(0, context->nProcessing);
}

TEST_F(ProcessingTest, LoadRunsOnEachBufferWithTheAmountsInForce) {
  LOADFILTER_InitInt(&context->cpuFilters[0], 21.123f, 0.1123f);
  Prepare(1, 1, 128);
  context->nCpuFilters = 3;
  ProcessBuffer();
  EXPECT_EQ(3 * 128, context->cpuFilters[0].pRead - context->cpuFilters[0].pSourceStart);
  context->nCpuFilters = 0;
  ProcessBuffer();
  EXPECT_EQ(3 * 128, context->cpuFilters[0].pRead - context->cpuFilters[0].pSourceStart);
  LOADFILTER_FreeInt(&context->cpuFilters[0]);
}

TEST_F(ProcessingTest, ThreadStartLogsThePriorityForSubCodeZeroOnly) {
  EXPECT_EQ(1, Order(ASIOMAN_ORDER_THREADSTART, 0, 2));
  EXPECT_EQ(1, Order(ASIOMAN_ORDER_THREADSTART, 1, 9));
  EXPECT_EQ(std::vector<std::string>({"   INFO: callback thread priority: 2"}), LogLines());
}

TEST_F(ProcessingTest, EveryOrderIsAnsweredWithOne) {
  EXPECT_EQ(1, Order(ASIOMAN_ORDER_OPENEDDEVICE));
  EXPECT_EQ(1, Order(0x4242));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ProcessingTest, RunBlocksStayWhileABufferIsBeingProcessed) {
  Prepare(1, 1, 64);
  int32_t* copySource = context->pCopySource;
  context->nProcessing = 1;
  EXPECT_EQ(-1, PROCESSING_FreeRunBlocks(context));
  EXPECT_NE(nullptr, context->pCopySource);
  EXPECT_NE(nullptr, context->sine.pTable);
  SetDevice(48000, 512, 2, 8);
  EXPECT_EQ(0, Order(ASIOMAN_ORDER_PREPAREDDEVICE)) << "no new run over blocks in use";
  EXPECT_EQ("PREPARE DEVICE: refused, the previous device is still processing a buffer", LastLogLine());
  EXPECT_EQ(64, context->nBufferSize);
  EXPECT_EQ(copySource, context->pCopySource);
  context->nProcessing = 0;
  EXPECT_EQ(0, PROCESSING_FreeRunBlocks(context));
  EXPECT_EQ(nullptr, context->pCopySource);
  EXPECT_EQ(nullptr, context->sine.pTable);
}

TEST_F(ProcessingTest, ABufferOfADeviceTheRunNoLongerServesIsLeftAlone) {
  Prepare(1, 1, 64);
  std::unique_ptr<ASIOMAN_DEVICE> kept(std::move(device));
  std::vector<int32_t> keptOut(64, -1);
  device.reset(new ASIOMAN_DEVICE());
  Prepare(2, 8, 512);
  kept->timing.qpcSwitchStart = 12345;
  ProcessingCallback(context, kept.get(), ASIOMAN_ORDER_PROCESSBUFFER, 0, (intptr_t)keptOut.data());
  EXPECT_EQ(std::vector<int32_t>(64, -1), keptOut) << "the next device's sizes never reach the kept block";
  EXPECT_EQ(0, context->nLastCallbackTime);
  EXPECT_EQ(0, context->nProcessing);
  ProcessBuffer();
  EXPECT_EQ((int64_t)device->timing.qpcSwitchStart, context->nLastCallbackTime) << "the run's own device";
}

TEST_F(ProcessingTest, ABufferOfARunNotYetOrNoLongerAnnouncedIsLeftAlone) {
  Prepare(2, 2);
  context->bRunHeld = 1;
  ProcessBuffer();
  EXPECT_EQ(0, context->nLastCallbackTime);
  EXPECT_EQ(0, context->nProcessing);
  context->bRunHeld = 0;
  ProcessBuffer();
  EXPECT_NE(0, context->nLastCallbackTime);
}

}  // namespace
