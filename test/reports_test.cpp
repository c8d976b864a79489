#include "test/reports.h"

#include <float.h>
#include <stdio.h>

#include "app/txtbuffer.h"
#include "test/testrun_fixture.h"

namespace {

class ReportsTest : public TestRunFixture {};

TEST_F(ReportsTest, EverySampleTypeHasItsPublishedName) {
  const struct {
    int32_t type;
    const char* name;
  } names[] = {{0, "ASIOSTInt16MSB"},     {1, "ASIOSTInt24MSB"},     {2, "ASIOSTInt32MSB"},
               {3, "ASIOSTFloat32MSB"},   {4, "ASIOSTFloat64MSB"},   {8, "ASIOSTInt32MSB16"},
               {9, "ASIOSTInt32MSB18"},   {10, "ASIOSTInt32MSB20"},  {11, "ASIOSTInt32MSB24"},
               {16, "ASIOSTInt16LSB"},    {17, "ASIOSTInt24LSB"},    {18, "ASIOSTInt32LSB"},
               {19, "ASIOSTFloat32LSB"},  {20, "ASIOSTFloat64LSB"},  {24, "ASIOSTInt32LSB16"},
               {25, "ASIOSTInt32LSB18"},  {26, "ASIOSTInt32LSB20"},  {27, "ASIOSTInt32LSB24"},
               {32, "ASIOSTDSDInt8LSB1"}, {33, "ASIOSTDSDInt8MSB1"}, {40, "ASIOSTDSDInt8NER8"}};
  for (const auto& n : names) EXPECT_STREQ(n.name, ASIOSampleTypeName(n.type)) << n.type;
  for (int32_t type : {-1, 5, 7, 12, 15, 21, 23, 28, 31, 34, 39, 41, 1000}) EXPECT_EQ(nullptr, ASIOSampleTypeName(type));
}

TEST_F(ReportsTest, BufferLinesWithoutTypeNameAndWithAnUnterminatedChannelName) {
  SetDevice(44100, 64, 1, 1);
  device->channelInfos[0].type = 7;
  memset(device->channelInfos[1].name, 'N', sizeof(device->channelInfos[1].name));
  device->channelInfos[1].type = ASIOSTDSDInt8NER8;
  LogPreparationReport(context, device.get(), REPORT_BUFFER_LINES);
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(" ASIO Buffer 0 / Input / type:7 / (In 1)", lines[1]);
  EXPECT_EQ(" ASIO Buffer 1 / Output / type:40 /ASIOSTDSDInt8NER8 (" + std::string(32, 'N') + ")", lines[2]);
}

TEST_F(ReportsTest, DeviceLinesSayWhetherOutputReadyIsCalled) {
  SetDevice(44100, 512, 2, 2);
  device->nInputLatency = 512;
  device->nOutputLatency = 1024;
  device->bOutputReady = 0;
  LogPreparationReport(context, device.get(), REPORT_DEVICE_LINES);
  std::vector<std::string> expected = {"PREPARE DEVICE: sr:44100 Hz / buffer: 512 smp / in: 2 / out: 2",
                                       "Latency: in:512 smp / buffer: 512 smp / out: 1024 smp / total: 46.44 ms",
                                       "Must Call ASIOOutputReady(): NO"};
  EXPECT_EQ(expected, LogLines());
}

TEST_F(ReportsTest, ALatencyBelowZeroOrBeyondTenSecondsHasNoTotal) {
  SetDevice(48000, 256, 2, 2);
  const int32_t lies[][2] = {{-4096, 512}, {512, 480001}};
  for (const auto& lie : lies) {
    device->nInputLatency = lie[0];
    device->nOutputLatency = lie[1];
    LogPreparationReport(context, device.get(), REPORT_DEVICE_LINES);
    EXPECT_EQ("Latency: in:" + std::to_string(lie[0]) + " smp / buffer: 256 smp / out: " + std::to_string(lie[1]) +
                  " smp / total: out of range",
              LogLines()[LogLines().size() - 2]);
  }
  device->nOutputLatency = 480000;  // ten seconds exactly is a figure
  device->nInputLatency = 0;
  LogPreparationReport(context, device.get(), REPORT_DEVICE_LINES);
  EXPECT_EQ("Latency: in:0 smp / buffer: 256 smp / out: 480000 smp / total: 10005.33 ms",
            LogLines()[LogLines().size() - 2]);
}

TEST_F(ReportsTest, DeviceEventLinesNameTheReasonAndCarryTheWholeReport) {
  const struct {
    uint32_t nOrder;
    int32_t nReason;
    const char* szLine;
  } cases[] = {
      {ASIOMAN_ORDER_DRIVERREQUEST, ASIOMAN_REQUEST_RESET, "DEVICE RESET: (kAsioResetRequest msg) "},
      {ASIOMAN_ORDER_DRIVERREQUEST, ASIOMAN_REQUEST_RESYNC, "DEVICE RESET: (kAsioResyncRequest msg) "},
      {ASIOMAN_ORDER_DRIVERREQUEST, ASIOMAN_REQUEST_SAMPLERATE, "DEVICE RESET: (SampleRate Change) "},
      {ASIOMAN_ORDER_STREAMERROR, ASIOMAN_ERROR_REENTRANCE, "DEVICE WANT TO STOP: (Re-entrance detected) "},
      {ASIOMAN_ORDER_STREAMERROR, ASIOMAN_ERROR_CONVERSION, "DEVICE WANT TO STOP: (Data conversion missing) "},
  };
  memset(device->report, 'r', sizeof(device->report));  // unterminated
  for (const auto& c : cases) {
    ASIOMAN_EVENT event = {c.nOrder, c.nReason, 1};
    const char* event_name = c.nOrder == ASIOMAN_ORDER_STREAMERROR ? "DEVICE WANT TO STOP" : "DEVICE RESET";
    LogDeviceEvent(context, event_name, DeviceEventReason(&event), device.get());
    EXPECT_EQ(c.szLine + std::string(ASIOMAN_REPORT_SIZE, 'r'), LastLogLine());
  }
}

TEST_F(ReportsTest, OutputModeAndLoadLines) {
  context->sine.fFrequency = 1000.0f;
  LogOutputMode(context);
  context->fSineFrequency = 0.0f;
  LogOutputMode(context);
  LogLoadOptions(context);
  context->nCpuFilters = 1;
  context->nFpuFilters = 2;
  context->nSingleCopies = 3;
  context->nPatches = 4;
  context->nBusCopies = 32;
  LogLoadOptions(context);
  context->nCpuFilters = 0;
  context->nFpuFilters = 0;
  context->nSingleCopies = 0;
  context->nPatches = 0;
  context->nBusCopies = 6;
  LogLoadOptions(context);
  std::vector<std::string> expected = {"GENERATE SINUS: 1000 Hz -20 dBfs",
                                       "MODE PASS-THROUGH: all inputs -> all outputs", "DSP LOAD: nothing",
                                       "DSP LOAD: CPU: 128 / FPU: 256 / SINGLECPY: 384 / PATCH: 512 / BUSCPY: 4096",
                                       "DSP LOAD: CPU: 0 / FPU: 0 / SINGLECPY: 0 / PATCH: 0 / BUSCPY: 768"};
  EXPECT_EQ(expected, LogLines());
}

TEST_F(ReportsTest, IncidentBeforeAnyPreparationPrintsZeroRatios) {
  HISTORYENTRY entry{};
  entry.nBuffer = 7;
  entry.nProcTicks = 500;
  entry.fMegacycles = 1.3f;
  LogIncident(context, &entry);
  EXPECT_EQ("Incident on frame +000.000.007 DSP PEAK: 0 % - 0.0 ms  / 1.3 megacycles (CPU TIME: +500)", LastLogLine());
}

// The incident line is built without the C library; it must read exactly as
// the printf format it stands for, whatever the counters hold.
TEST_F(ReportsTest, IncidentReadsAsItsPrintfFormatAtTheExtremes) {
  const struct {
    int64_t buffer, ticks, perBuffer, frequency;
    float megacycles;
  } cases[] = {{12345, 85000, 100000, 10000000, 25.5f},       {0, 5, 1000, 1000000, 0.05f},
               {1, 15, 1000, 20000, 0.25f},                    {-3, -85000, 100000, 10000000, 0.0f},
               {INT64_MAX, INT64_MAX, 1, 1, FLT_MAX},          {INT64_MIN, INT64_MIN, -1, 3, -1.0f},
               {999999999, 2549, 2999, 10000000, 1e-20f},      {7, 1, INT64_MAX, INT64_MIN, 2.45f}};
  for (const auto& c : cases) {
    context->nPerfPerBuffer = c.perBuffer;
    context->nPerfFrequency = c.frequency;
    HISTORYENTRY entry{};
    entry.nBuffer = c.buffer;
    entry.nProcTicks = c.ticks;
    entry.fMegacycles = c.megacycles;
    LogIncident(context, &entry);
    char frame[FORMATGROUPED_SIZE], ticks[FORMATGROUPED_SIZE], expected[400];
    FormatGroupedInt64(c.buffer, frame, 9);
    FormatGroupedInt64(c.ticks, ticks, 0);
    snprintf(expected, sizeof(expected),
             "Incident on frame %s DSP PEAK: %0.0f %% - %0.1f ms  / %0.1f megacycles (CPU TIME: %s)", frame,
             (double)c.ticks * 100.0 / (double)c.perBuffer, (double)c.ticks * 1000.0 / (double)c.frequency,
             (double)c.megacycles, ticks);
    EXPECT_EQ(expected, LastLogLine());
  }
}

}  // namespace
