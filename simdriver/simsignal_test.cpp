#include "simdriver/simsignal.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "simdriver/simprofile.h"

namespace {

const ASIOSampleType kPcmTypes[] = {
    ASIOSTInt16MSB,   ASIOSTInt24MSB,   ASIOSTInt32MSB,   ASIOSTFloat32MSB, ASIOSTFloat64MSB, ASIOSTInt32MSB16,
    ASIOSTInt32MSB18, ASIOSTInt32MSB20, ASIOSTInt32MSB24, ASIOSTInt16LSB,   ASIOSTInt24LSB,   ASIOSTInt32LSB,
    ASIOSTFloat32LSB, ASIOSTFloat64LSB, ASIOSTInt32LSB16, ASIOSTInt32LSB18, ASIOSTInt32LSB20, ASIOSTInt32LSB24};

std::vector<double> Tone(double hz, double amplitude, double rate, int count) {
  std::vector<double> v((size_t)count);
  for (int i = 0; i < count; ++i) v[(size_t)i] = amplitude * sin(2.0 * 3.14159265358979 * hz * i / rate);
  return v;
}

TEST(SampleCodec, WritesThePublishedByteLayouts) {
  uint8_t b[8];
  double half = 0.5, minus = -1.0;
  SIMSIGNAL_Encode(ASIOSTInt16LSB, &half, b, 1);
  EXPECT_EQ(0x00, b[0]);
  EXPECT_EQ(0x40, b[1]);
  SIMSIGNAL_Encode(ASIOSTInt24MSB, &minus, b, 1);
  EXPECT_EQ(0x80, b[0]);
  EXPECT_EQ(0x00, b[1]);
  EXPECT_EQ(0x00, b[2]);
  SIMSIGNAL_Encode(ASIOSTInt32LSB16, &minus, b, 1);  // sign-extended 16-bit value in 32 bits
  EXPECT_EQ(0x00, b[0]);
  EXPECT_EQ(0x80, b[1]);
  EXPECT_EQ(0xFF, b[2]);
  EXPECT_EQ(0xFF, b[3]);
  SIMSIGNAL_Encode(ASIOSTFloat32MSB, &half, b, 1);  // 0.5f is 3F 00 00 00
  EXPECT_EQ(0x3F, b[0]);
  EXPECT_EQ(0x00, b[3]);
}

TEST(SampleCodec, ReadsOnlyTheSignificantBitsOfA32BitContainer) {
  // A host may write bytes 0..2 of an Int32LSB24 container and leave byte 3 alone.
  const uint8_t positive[4] = {0xFF, 0xFF, 0x7F, 0x00};
  const uint8_t negative[4] = {0x00, 0x00, 0x80, 0x00};
  double v[1];
  ASSERT_EQ(1, SIMSIGNAL_Decode(ASIOSTInt32LSB24, positive, v, 1));
  EXPECT_DOUBLE_EQ(8388607.0 / 8388608.0, v[0]);
  SIMSIGNAL_Decode(ASIOSTInt32LSB24, negative, v, 1);
  EXPECT_DOUBLE_EQ(-1.0, v[0]);
}

TEST(SampleCodec, EveryPcmTypeRoundTripsWithinItsResolutionAndSaturates) {
  const double in[6] = {0.0, 0.25, -0.7, 0.999, 2.0, NAN};
  for (ASIOSampleType type : kPcmTypes) {
    SCOPED_TRACE(SIMSIGNAL_TypeName(type));
    uint8_t buffer[6 * SIMSIGNAL_MAX_SAMPLE_BYTES];
    double out[6];
    ASSERT_TRUE(SIMSIGNAL_IsPcm(type));
    SIMSIGNAL_Encode(type, in, buffer, 6);
    ASSERT_EQ(1, SIMSIGNAL_Decode(type, buffer, out, 6));
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(in[i], out[i], 1.0 / 32768.0);
    EXPECT_NEAR(1.0, out[4], 1.0 / 32768.0);
    EXPECT_EQ(-1.0, out[5]);
  }
}

TEST(SampleCodec, DsdAndUnknownTypesAreNeitherWrittenNorRead) {
  const ASIOSampleType others[] = {ASIOSTDSDInt8LSB1, ASIOSTDSDInt8MSB1, ASIOSTDSDInt8NER8, 5, 21, 99, -1};
  for (ASIOSampleType type : others) {
    uint8_t buffer[16];
    memset(buffer, 0xA5, sizeof(buffer));
    double in[2] = {0.5, -0.5}, out[2] = {1, 1};
    EXPECT_FALSE(SIMSIGNAL_IsPcm(type));
    SIMSIGNAL_Encode(type, in, buffer, 2);
    for (uint8_t b : buffer) EXPECT_EQ(0xA5, b);
    EXPECT_EQ(0, SIMSIGNAL_Decode(type, buffer, out, 2));
    EXPECT_EQ(0.0, out[0]);
    EXPECT_GE(SIMSIGNAL_BytesPerSample(type), 1);
  }
  EXPECT_EQ(SIMSIGNAL_MAX_SAMPLE_BYTES, SIMSIGNAL_BytesPerSample(12345));
  EXPECT_EQ(ASIOSTInt24LSB, SIMSIGNAL_TypeFromName("asiostint24lsb"));
  EXPECT_EQ(-1, SIMSIGNAL_TypeFromName("Int24"));
}

TEST(SignalMeter, MeasuresLevelAndFrequencyOfATone) {
  SIMSIGNAL_METER m;
  SIMSIGNAL_MeterReset(&m);
  std::vector<double> silence(256, 0.0), tone = Tone(440.0, 0.1, 48000.0, 48000);
  SIMSIGNAL_MeterAdd(&m, silence.data(), 256);  // start-up silence does not dilute the level
  for (int i = 0; i < 48000; i += 480) SIMSIGNAL_MeterAdd(&m, tone.data() + i, 480);
  EXPECT_NEAR(0.1, m.fPeak, 1e-4);
  EXPECT_NEAR(0.1 / sqrt(2.0), SIMSIGNAL_MeterRms(&m), 1e-4);
  EXPECT_NEAR(440.0, SIMSIGNAL_MeterFrequency(&m, 48000.0), 0.1);
  EXPECT_EQ(1, m.nSilentBuffers);

  SIMSIGNAL_METER wrong;
  SIMSIGNAL_MeterReset(&wrong);
  std::vector<double> other = Tone(445.0, 0.1, 48000.0, 48000);
  SIMSIGNAL_MeterAdd(&wrong, other.data(), 48000);
  EXPECT_NEAR(445.0, SIMSIGNAL_MeterFrequency(&wrong, 48000.0), 0.1);
}

TEST(InputSignal, ChannelsDifferInFrequencyAndAmplitude) {
  for (int channel : {0, 1, 7, 299}) {
    SCOPED_TRACE(channel);
    SIMSIGNAL_OSC osc;
    SIMSIGNAL_METER m;
    std::vector<double> x(256);
    SIMSIGNAL_InitInput(&osc, channel, 48000.0);
    SIMSIGNAL_MeterReset(&m);
    for (int i = 0; i < 200; ++i) {
      SIMSIGNAL_Generate(&osc, x.data(), 256);
      SIMSIGNAL_MeterAdd(&m, x.data(), 256);
    }
    EXPECT_NEAR(SIMSIGNAL_InputFrequency(channel), SIMSIGNAL_MeterFrequency(&m, 48000.0), 0.5);
    EXPECT_NEAR(SIMSIGNAL_InputAmplitude(channel), m.fPeak, 2 * SIMSIGNAL_NOISE_AMPLITUDE);
  }
  EXPECT_NE(SIMSIGNAL_InputFrequency(0), SIMSIGNAL_InputFrequency(1));
  EXPECT_NE(SIMSIGNAL_InputAmplitude(0), SIMSIGNAL_InputAmplitude(SIMSIGNAL_FREQUENCY_STEPS));
}

// 100 Hz at 48 kHz repeats every 480 samples: only the input noise tells a
// copy delayed by exactly one period from the true one.
TEST(PassThroughCheck, AcceptsTheSameBufferAndRejectsADelayedOne) {
  SIMSIGNAL_OSC osc;
  SIMSIGNAL_InitInput(&osc, 0, 48000.0);
  std::vector<double> x(960);
  SIMSIGNAL_Generate(&osc, x.data(), 960);
  std::vector<float> source(480);
  std::vector<double> same(480), late(480);
  for (int i = 0; i < 480; ++i) {
    source[(size_t)i] = (float)x[(size_t)i + 480];
    same[(size_t)i] = x[(size_t)i + 480] + 1.0 / 65536.0;  // 16-bit rounding is tolerated
    late[(size_t)i] = x[(size_t)i];
  }
  SIMSIGNAL_METER m;
  SIMSIGNAL_MeterReset(&m);
  for (int i = 0; i < 9; ++i) SIMSIGNAL_MeterCompare(&m, same.data(), source.data(), 480);
  std::vector<double> silent(480, 0.0);
  SIMSIGNAL_MeterCompare(&m, silent.data(), source.data(), 480);  // not counted
  EXPECT_EQ(9, m.nComparedBuffers);
  EXPECT_EQ(1, SIMSIGNAL_MeterPassThrough(&m));
  SIMSIGNAL_MeterCompare(&m, late.data(), source.data(), 480);
  EXPECT_EQ(1, SIMSIGNAL_MeterPassThrough(&m));  // 9 of 10 still counts as pass-through
  SIMSIGNAL_MeterCompare(&m, late.data(), source.data(), 480);
  EXPECT_EQ(0, SIMSIGNAL_MeterPassThrough(&m));
}

TEST(Profile, DefaultsDescribeAStereo48kDriver) {
  SIMPROFILE p;
  SIMPROFILE_Defaults(&p, "Key Name");
  EXPECT_STREQ("Key Name", p.szDriverName);
  EXPECT_EQ(2, p.nInputs);
  EXPECT_EQ(2, p.nOutputs);
  EXPECT_EQ(ASIOSTInt32LSB, p.nInputType);
  EXPECT_EQ(48000.0, p.fSampleRate);
  EXPECT_EQ(256, p.nPreferredBufferSize);
  EXPECT_EQ(1, p.bOutputReady);
  EXPECT_EQ(1, p.bTimeInfo);
  EXPECT_EQ(SIMCALL_NONE, p.nFailCall);
  EXPECT_TRUE(SIMPROFILE_BufferSizeValid(&p, p.nPreferredBufferSize));
}

TEST(Profile, SettingsParseByNameAndKeepTheirValueOnBadInput) {
  SIMPROFILE p;
  SIMPROFILE_Defaults(&p, "x");
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "inputs", "301"));  // names are case-insensitive, counts clamped
  EXPECT_EQ(300, p.nInputs);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "Outputs", "-4"));
  EXPECT_EQ(0, p.nOutputs);
  EXPECT_EQ(-1, SIMPROFILE_Set(&p, "Outputs", "4x"));
  EXPECT_EQ(0, p.nOutputs);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "OutputType", "ASIOSTFloat32LSB"));
  EXPECT_EQ(ASIOSTFloat32LSB, p.nOutputType);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "InputType", "77"));  // unknown values are allowed
  EXPECT_EQ(77, p.nInputType);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "SampleRate", "nan"));
  EXPECT_TRUE(isnan(p.fSampleRate));
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "SampleRate", "-48000"));
  EXPECT_EQ(-48000.0, p.fSampleRate);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "TimeInfoFlags", "-1"));  // a DWORD read back as signed text
  EXPECT_EQ(0xFFFFFFFFu, p.nTimeInfoFlags);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "StallEvery", "0x10"));
  EXPECT_EQ(16, p.nStallEvery);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "SampleRates", "44100,96000"));
  EXPECT_EQ(2, p.nOtherRates);
  EXPECT_EQ(96000.0, p.fOtherRates[1]);
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "FailCall", "getchannelinfo"));
  EXPECT_EQ(SIMCALL_GETCHANNELINFO, p.nFailCall);
  EXPECT_EQ(-1, SIMPROFILE_Set(&p, "FailCall", "stop"));
  EXPECT_EQ(SIMCALL_GETCHANNELINFO, p.nFailCall);
  EXPECT_EQ(0, SIMPROFILE_Set(&p, "CLSID", "{...}"));
  EXPECT_EQ(0, SIMPROFILE_Set(&p, "Description", "text"));
  std::string longName(200, 'n');
  EXPECT_EQ(1, SIMPROFILE_Set(&p, "DriverName", longName.c_str()));
  EXPECT_EQ((size_t)SIMPROFILE_TEXT_SIZE - 1, strlen(p.szDriverName));
  for (int i = 0; SIMPROFILE_SettingNames[i]; ++i) {
    EXPECT_NE(0, SIMPROFILE_Set(&p, SIMPROFILE_SettingNames[i], "1")) << SIMPROFILE_SettingNames[i];
  }
}

TEST(Profile, BufferSizesFollowMinMaxAndGranularity) {
  SIMPROFILE p;
  SIMPROFILE_Defaults(&p, "x");  // 32 .. 4096 in steps of 32
  EXPECT_TRUE(SIMPROFILE_BufferSizeValid(&p, 32));
  EXPECT_TRUE(SIMPROFILE_BufferSizeValid(&p, 4096));
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 100));
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 4128));
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 0));
  p.nGranularity = -1;  // powers of two
  EXPECT_TRUE(SIMPROFILE_BufferSizeValid(&p, 128));
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 96));
  p.nGranularity = 0;  // the preferred size only
  EXPECT_TRUE(SIMPROFILE_BufferSizeValid(&p, 256));
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 512));
  p.nPreferredBufferSize = 1000000;  // a lie beyond the maximum is still refused
  EXPECT_FALSE(SIMPROFILE_BufferSizeValid(&p, 1000000));
}

}  // namespace
