#include "asio/asioconv.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

namespace {

void ConvertIn(ASIOSampleType type, const void* pDriver, int32_t* pBlock, size_t n) {
  ASIOMAN_GetInputConversion(type)(const_cast<void*>(pDriver), pBlock, n);
}

void ConvertOut(ASIOSampleType type, void* pDriver, const int32_t* pBlock, size_t n) {
  ASIOMAN_GetOutputConversion(type)(pDriver, const_cast<int32_t*>(pBlock), n);
}

int32_t In1(ASIOSampleType type, const std::vector<uint8_t>& bytes) {
  int32_t v = 0x5A5A5A5A;
  ConvertIn(type, bytes.data(), &v, 1);
  return v;
}

std::vector<uint8_t> Out1(ASIOSampleType type, int32_t v, size_t nBytes, uint8_t fill = 0xEE) {
  std::vector<uint8_t> bytes(nBytes, fill);
  ConvertOut(type, bytes.data(), &v, 1);
  return bytes;
}

std::vector<uint8_t> FloatBytes(float f) {
  std::vector<uint8_t> b(4);
  memcpy(b.data(), &f, 4);
  return b;
}

float OutFloat(int32_t v) {
  std::vector<uint8_t> b = Out1(ASIOSTFloat32LSB, v, 4);
  float f;
  memcpy(&f, b.data(), 4);
  return f;
}

typedef std::vector<uint8_t> Bytes;

}  // namespace

TEST(SampleConversionInput, Int16LsbScalesBy256) {
  EXPECT_EQ(-8388608, In1(ASIOSTInt16LSB, Bytes{0x00, 0x80}));
  EXPECT_EQ(0x7FFF * 256, In1(ASIOSTInt16LSB, Bytes{0xFF, 0x7F}));
  EXPECT_EQ(-256, In1(ASIOSTInt16LSB, Bytes{0xFF, 0xFF}));
}

TEST(SampleConversionInput, TwentyFourBitTypesSignExtendFromBit23) {
  EXPECT_EQ(8388607, In1(ASIOSTInt24LSB, Bytes{0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(-8388608, In1(ASIOSTInt24LSB, Bytes{0x00, 0x00, 0x80}));
  EXPECT_EQ(-1, In1(ASIOSTInt24LSB, Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(-8388608, In1(ASIOSTInt24MSB, Bytes{0x80, 0x00, 0x00}));
  EXPECT_EQ(0x123456, In1(ASIOSTInt24MSB, Bytes{0x12, 0x34, 0x56}));
}

TEST(SampleConversionInput, Int32LsbShiftsRightArithmetically) {
  EXPECT_EQ(8388607, In1(ASIOSTInt32LSB, Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(-8388608, In1(ASIOSTInt32LSB, Bytes{0x00, 0x00, 0x00, 0x80}));
  EXPECT_EQ(-1, In1(ASIOSTInt32LSB, Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(0, In1(ASIOSTInt32LSB, Bytes{0xFF, 0x00, 0x00, 0x00}));
}

TEST(SampleConversionInput, Int32Lsb24IgnoresTheFourthByte) {
  EXPECT_EQ(8388607, In1(ASIOSTInt32LSB24, Bytes{0xFF, 0xFF, 0x7F, 0xAB}));
  EXPECT_EQ(-8388608, In1(ASIOSTInt32LSB24, Bytes{0x00, 0x00, 0x80, 0x00}));
}

TEST(SampleConversionInput, Float32ScalesByFullScaleAndTruncates) {
  EXPECT_EQ(8388607, In1(ASIOSTFloat32LSB, FloatBytes(1.0f)));
  EXPECT_EQ(-8388607, In1(ASIOSTFloat32LSB, FloatBytes(-1.0f)));
  EXPECT_EQ(4194303, In1(ASIOSTFloat32LSB, FloatBytes(0.5f)));
  EXPECT_EQ(-4194303, In1(ASIOSTFloat32LSB, FloatBytes(-0.5f)));
}

TEST(SampleConversionInput, Float32SaturatesAndMapsNanToZero) {
  EXPECT_EQ(INT32_MAX, In1(ASIOSTFloat32LSB, FloatBytes(1e30f)));
  EXPECT_EQ(INT32_MIN, In1(ASIOSTFloat32LSB, FloatBytes(-1e30f)));
  EXPECT_EQ(INT32_MAX, In1(ASIOSTFloat32LSB, FloatBytes(INFINITY)));
  EXPECT_EQ(INT32_MIN, In1(ASIOSTFloat32LSB, FloatBytes(-INFINITY)));
  EXPECT_EQ(0, In1(ASIOSTFloat32LSB, FloatBytes(NAN)));
  EXPECT_EQ(0, In1(ASIOSTFloat32LSB, FloatBytes(-NAN)));
}

TEST(SampleConversionInput, Float32GivesTheSameValuesInLongRunsAsOneByOne) {
  std::vector<float> values = {0.0f,   -0.0f,      1.0f,      -1.0f,        0.5f,         NAN,        -NAN,
                               1e30f,  -1e30f,     INFINITY,  -INFINITY,    256.0f,       -256.0f,    256.00003f,
                               -256.00003f, 255.99998f, 1e-40f, 0.99999994f, -0.99999994f, 3.0e-7f, 1.2e-7f};
  std::mt19937 random(99);
  std::uniform_real_distribution<float> sample(-1.5f, 1.5f);
  const size_t n = 1027;  // not a multiple of four: the tail runs one by one
  size_t nSpecial = values.size();
  values.resize(n);
  for (size_t i = nSpecial; i < n; i++) values[i] = sample(random);
  std::vector<uint8_t> driver(n * 4 + 1);
  memcpy(driver.data() + 1, values.data(), n * 4);
  std::vector<int32_t> block(values.size(), 0);
  ConvertIn(ASIOSTFloat32LSB, driver.data() + 1, block.data(), block.size());
  for (size_t i = 0; i < values.size(); i++)
    EXPECT_EQ(In1(ASIOSTFloat32LSB, FloatBytes(values[i])), block[i]) << "value " << values[i] << " at " << i;
}

TEST(SampleConversionInput, TypesWithoutConversionKeepTheBlockAndReportTheirCode) {
  struct Case {
    ASIOSampleType type;
    int32_t code;
  } cases[] = {{ASIOSTInt16MSB, 4},   {ASIOSTInt32MSB, 6},   {ASIOSTFloat32MSB, 7},  {ASIOSTFloat64MSB, 8},
               {ASIOSTInt32MSB16, 9}, {ASIOSTInt32MSB18, 9}, {ASIOSTInt32MSB20, 9},  {ASIOSTInt32MSB24, 9},
               {ASIOSTFloat64LSB, 2}, {ASIOSTInt32LSB16, 3}, {ASIOSTInt32LSB18, 3},  {ASIOSTInt32LSB20, 3},
               {ASIOSTDSDInt8LSB1, 0}, {ASIOSTDSDInt8MSB1, 0}, {ASIOSTDSDInt8NER8, 0}, {5, 0},
               {41, 0},               {-1, 0},               {INT32_MIN, 0},         {1000, 0}};
  Bytes driver(16, 0x7F);
  for (const Case& c : cases) {
    int32_t block[2] = {123, -456};
    ConvertIn(c.type, driver.data(), block, 2);
    EXPECT_EQ(123, block[0]) << "type " << c.type;
    EXPECT_EQ(-456, block[1]) << "type " << c.type;
    EXPECT_EQ(c.code, ASIOMAN_GetInputConversionError(c.type)) << "type " << c.type;
  }
  const ASIOSampleType converting[] = {ASIOSTInt16LSB,   ASIOSTInt24LSB, ASIOSTInt24MSB,
                                       ASIOSTInt32LSB,   ASIOSTFloat32LSB, ASIOSTInt32LSB24};
  for (ASIOSampleType type : converting)
    EXPECT_EQ(0, ASIOMAN_GetInputConversionError(type)) << "type " << type;
}

TEST(SampleConversionOutput, Int16LsbKeepsTheTop16Bits) {
  EXPECT_EQ((Bytes{0x00, 0x80, 0xEE}), Out1(ASIOSTInt16LSB, -8388608, 3));
  EXPECT_EQ((Bytes{0xFF, 0x7F, 0xEE}), Out1(ASIOSTInt16LSB, 8388607, 3));
  EXPECT_EQ((Bytes{0xFF, 0xFF, 0xEE}), Out1(ASIOSTInt16LSB, -1, 3));
}

TEST(SampleConversionOutput, TwentyFourBitTypesWriteThreeBytesInTheirOrder) {
  EXPECT_EQ((Bytes{0x56, 0x34, 0x12, 0xEE}), Out1(ASIOSTInt24LSB, 0x123456, 4));
  EXPECT_EQ((Bytes{0x00, 0x00, 0x80, 0xEE}), Out1(ASIOSTInt24LSB, -8388608, 4));
  EXPECT_EQ((Bytes{0x12, 0x34, 0x56, 0xEE}), Out1(ASIOSTInt24MSB, 0x123456, 4));
  EXPECT_EQ((Bytes{0x80, 0x00, 0x00, 0xEE}), Out1(ASIOSTInt24MSB, -8388608, 4));
}

TEST(SampleConversionOutput, Int24LsbTouchesExactlyItsOwnBytes) {
  for (size_t n : {1, 2, 5, 64}) {
    std::vector<int32_t> values(n);
    for (size_t i = 0; i < n; i++) values[i] = (int32_t)(i * 0x010203) - 0x400000;
    // Exactly sized, so the sanitizers see any access past the last sample.
    std::vector<uint8_t> exact(n * 3);
    ConvertOut(ASIOSTInt24LSB, exact.data(), values.data(), n);
    std::vector<int32_t> back(n);
    ConvertIn(ASIOSTInt24LSB, exact.data(), back.data(), n);
    EXPECT_EQ(values, back) << n;
    Bytes padded(n * 3 + 4, 0xEE);
    ConvertOut(ASIOSTInt24LSB, padded.data(), values.data(), n);
    EXPECT_EQ(Bytes(exact.begin(), exact.end()), Bytes(padded.begin(), padded.begin() + n * 3)) << n;
    EXPECT_EQ(Bytes(4, 0xEE), Bytes(padded.begin() + n * 3, padded.end())) << n;
  }
}

TEST(SampleConversionOutput, Int32LsbShiftsLeftEvenForOutOfRangeValues) {
  EXPECT_EQ((Bytes{0x00, 0x01, 0x00, 0x00}), Out1(ASIOSTInt32LSB, 1, 4));
  EXPECT_EQ((Bytes{0x00, 0x00, 0x00, 0x80}), Out1(ASIOSTInt32LSB, -8388608, 4));
  // A saturated float input passed through: only its low 24 bits survive.
  EXPECT_EQ((Bytes{0x00, 0xFF, 0xFF, 0xFF}), Out1(ASIOSTInt32LSB, INT32_MAX, 4));
  EXPECT_EQ((Bytes{0x00, 0x00, 0x00, 0x00}), Out1(ASIOSTInt32LSB, INT32_MIN, 4));
}

TEST(SampleConversionOutput, Int32Lsb24LeavesTheFourthByteAsTheDriverHadIt) {
  Bytes driver = {0x11, 0x22, 0x33, 0xA4, 0x55, 0x66, 0x77, 0x08};
  int32_t block[2] = {-2, 0x123456};
  ConvertOut(ASIOSTInt32LSB24, driver.data(), block, 2);
  EXPECT_EQ((Bytes{0xFE, 0xFF, 0xFF, 0xA4, 0x56, 0x34, 0x12, 0x08}), driver);
}

TEST(SampleConversionOutput, Float32ScalesByTwoToTheMinus23) {
  EXPECT_FLOAT_EQ(0.99999988f, OutFloat(8388607));
  EXPECT_EQ(-1.0f, OutFloat(-8388608));
  EXPECT_EQ(0.5f, OutFloat(4194304));
  EXPECT_EQ(0.0f, OutFloat(0));
  EXPECT_EQ((float)((double)8388607 * 1.1920928955078125e-7), OutFloat(8388607));
  EXPECT_EQ((float)((double)INT32_MAX * 1.1920928955078125e-7), OutFloat(INT32_MAX));
  EXPECT_EQ((float)((double)16777217 * 1.1920928955078125e-7), OutFloat(16777217));
}

TEST(SampleConversionOutput, TypesWithoutConversionZeroFillTheirSampleWidth) {
  struct Case {
    ASIOSampleType type;
    size_t bytes;
  } cases[] = {{ASIOSTInt16MSB, 2},   {ASIOSTInt32MSB, 4},   {ASIOSTFloat32MSB, 4}, {ASIOSTFloat64MSB, 8},
               {ASIOSTInt32MSB16, 4}, {ASIOSTInt32MSB18, 4}, {ASIOSTInt32MSB20, 4}, {ASIOSTInt32MSB24, 4},
               {ASIOSTFloat64LSB, 8}, {ASIOSTInt32LSB16, 4}, {ASIOSTInt32LSB18, 4}, {ASIOSTInt32LSB20, 4}};
  const size_t n = 5;
  int32_t block[n] = {1, 2, 3, 4, 5};
  for (const Case& c : cases) {
    Bytes driver(n * c.bytes + 3, 0xEE);
    ConvertOut(c.type, driver.data(), block, n);
    Bytes expected(n * c.bytes, 0);
    expected.insert(expected.end(), 3, 0xEE);
    EXPECT_EQ(expected, driver) << "type " << c.type;
  }
}

TEST(SampleConversionOutput, DsdAndUnknownTypesAreNeverWritten) {
  int32_t block[4] = {1, -1, 8388607, -8388608};
  const ASIOSampleType types[] = {ASIOSTDSDInt8LSB1, ASIOSTDSDInt8MSB1, ASIOSTDSDInt8NER8, 5, 34, 41, -7, 0x7FFFFFFF};
  for (ASIOSampleType type : types) {
    Bytes driver(32, 0xEE);
    ConvertOut(type, driver.data(), block, 4);
    EXPECT_EQ(Bytes(32, 0xEE), driver) << "type " << type;
  }
}

TEST(SampleConversionRoundTrip, LosslessTypesReturnEvery24BitValue) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int32_t> sample(-8388608, 8388607);
  const size_t n = 4096;
  std::vector<int32_t> values(n);
  for (int32_t& v : values) v = sample(random);
  values[0] = -8388608;
  values[1] = 8388607;
  values[2] = 0;
  values[3] = -1;
  const ASIOSampleType lossless[] = {ASIOSTInt24LSB, ASIOSTInt24MSB, ASIOSTInt32LSB, ASIOSTInt32LSB24};
  for (ASIOSampleType type : lossless) {
    // Odd offset: drivers' buffers need not be aligned.
    std::vector<uint8_t> driver(n * 4 + 1, 0);
    std::vector<int32_t> back(n, 0);
    ConvertOut(type, driver.data() + 1, values.data(), n);
    ConvertIn(type, driver.data() + 1, back.data(), n);
    EXPECT_EQ(values, back) << "type " << type;
  }
}

TEST(SampleConversionRoundTrip, Int16KeepsTheTop16BitsAndFloatLosesTheLastStepAtFullScale) {
  int32_t values[3] = {8388607, -8388608, 0x123456};
  int32_t back[3] = {0, 0, 0};
  uint8_t driver[12];
  ConvertOut(ASIOSTInt16LSB, driver, values, 3);
  ConvertIn(ASIOSTInt16LSB, driver, back, 3);
  EXPECT_EQ(8388352, back[0]);
  EXPECT_EQ(-8388608, back[1]);
  EXPECT_EQ(0x123400, back[2]);

  ConvertOut(ASIOSTFloat32LSB, driver, values, 3);
  ConvertIn(ASIOSTFloat32LSB, driver, back, 3);
  EXPECT_EQ(8388606, back[0]);
  EXPECT_EQ(-8388607, back[1]);
}
