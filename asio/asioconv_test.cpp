#include "asio/asioconv.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <xmmintrin.h>

#include <random>
#include <vector>

#include "asio/asioconv_reference.h"

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

namespace {

const ASIOSampleType kAvx2Types[] = {ASIOSTInt16LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB, ASIOSTInt32LSB24};

size_t DriverBytes(ASIOSampleType type) { return type == ASIOSTInt16LSB ? 2 : 4; }

// Driver words at the edges of every type: integer extremes and sign bits,
// NaNs (quiet, signalling, negative), infinities, denormals, the largest
// float, and floats on both sides of the 32-bit saturation point.
const uint32_t kExtremeWords[] = {
    0x00000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x00800000u, 0xFF7FFFFFu, 0x007FFFFFu, 0x000080FFu,
    0x00007FFFu, 0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFBFFFFFu, 0x7F800000u, 0xFF800000u, 0x00000001u,
    0x807FFFFFu, 0x7F7FFFFFu, 0xFF7FFFFFu, 0x3F800000u, 0xBF800000u, 0x43800000u, 0x43800001u, 0x437FFFFFu,
    0xC3800000u, 0xC3800001u, 0xC37FFFFFu, 0x4F000000u, 0x34000000u, 0x33FFFFFFu,
    // Floats on both sides of 2, where the float input loop changes method,
    // 3.0 (a product halfway between two floats), two floats past 256 (the
    // last one below the negative saturation point, the first one past it),
    // and 2^-23 (1 + 2^-23), whose product 1 - 2^-46 rounds to 1.0 in single.
    0x40000000u, 0x3FFFFFFFu, 0xC0000000u, 0xBFFFFFFFu, 0x40400000u, 0xC0400000u, 0x43800002u, 0xC3800002u,
    0x34000001u, 0xB4000001u};

// Every third sample an extreme, the others random: the extremes move
// through all lanes of a vector and meet random neighbours.
std::vector<uint32_t> MixedWords(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  const size_t nExtreme = sizeof(kExtremeWords) / sizeof(kExtremeWords[0]);
  std::vector<uint32_t> words(n);
  for (size_t k = 0; k < n; k++) words[k] = (k % 3 == 0) ? kExtremeWords[(k / 3) % nExtreme] : (uint32_t)random();
  return words;
}

// A plausible signal too: random words put no float inputs in the audio range.
std::vector<uint32_t> AudioWords(ASIOSampleType type, size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  std::vector<uint32_t> words(n);
  for (uint32_t& w : words) {
    float f = sample(random);
    if (type == ASIOSTFloat32LSB)
      memcpy(&w, &f, 4);
    else
      w = (uint32_t)(int32_t)((double)f * 2147483647.0);
  }
  return words;
}

// The driver bytes of the words at an offset, the buffer sized exactly, so
// the sanitizers see any access past the last sample.
std::vector<uint8_t> DriverBuffer(ASIOSampleType type, const std::vector<uint32_t>& words, size_t offset) {
  size_t nBytes = DriverBytes(type);
  std::vector<uint8_t> bytes(offset + words.size() * nBytes, 0xA5);
  for (size_t k = 0; k < words.size(); k++) memcpy(bytes.data() + offset + k * nBytes, &words[k], nBytes);
  return bytes;
}

const size_t kLengths[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 23, 31, 32, 33, 64, 257, 1027};

}  // namespace

class SampleConversionLoopSets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ASIOMAN_CanRunAvx2Loops()) GTEST_SKIP() << "no AVX2 loops on this CPU or in this build";
  }

  static void ExpectSameInput(ASIOSampleType type, const std::vector<uint32_t>& words, size_t offset) {
    std::vector<uint8_t> driver = DriverBuffer(type, words, offset);
    std::vector<int32_t> baseline(words.size(), 0x5A5A5A5A), avx2(words.size(), 0x5A5A5A5A);
    ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS_BASELINE, type)(driver.data() + offset, baseline.data(), words.size());
    ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS_AVX2, type)(driver.data() + offset, avx2.data(), words.size());
    EXPECT_EQ(baseline, avx2) << "type " << type << ", " << words.size() << " samples at offset " << offset;
  }

  // The driver buffer starts with bytes of its own, which Int32LSB24 must keep.
  static void ExpectSameOutput(ASIOSampleType type, const std::vector<uint32_t>& words, size_t offset) {
    std::vector<int32_t> block(words.begin(), words.end());
    std::vector<uint8_t> baseline = DriverBuffer(type, MixedWords(words.size(), 7), offset);
    std::vector<uint8_t> avx2 = baseline;
    ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS_BASELINE, type)(baseline.data() + offset, block.data(), block.size());
    ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS_AVX2, type)(avx2.data() + offset, block.data(), block.size());
    EXPECT_EQ(baseline, avx2) << "type " << type << ", " << words.size() << " samples at offset " << offset;
  }
};

TEST_F(SampleConversionLoopSets, InputsGiveTheSameValuesForEveryLengthAndAlignment) {
  for (ASIOSampleType type : kAvx2Types)
    for (size_t n : kLengths)
      for (size_t offset = 0; offset < 4; offset++) {
        ExpectSameInput(type, MixedWords(n, (uint32_t)(n * 4 + offset)), offset);
        ExpectSameInput(type, AudioWords(type, n, (uint32_t)n), offset);
      }
}

TEST_F(SampleConversionLoopSets, OutputsWriteTheSameBytesForEveryLengthAndAlignment) {
  for (ASIOSampleType type : kAvx2Types)
    for (size_t n : kLengths)
      for (size_t offset = 0; offset < 4; offset++) {
        ExpectSameOutput(type, MixedWords(n, (uint32_t)(n * 4 + offset + 1)), offset);
        ExpectSameOutput(type, AudioWords(ASIOSTInt32LSB, n, (uint32_t)n), offset);
      }
}

TEST_F(SampleConversionLoopSets, AgreeOnLongRandomRuns) {
  std::mt19937 random(2024);
  for (ASIOSampleType type : kAvx2Types) {
    std::vector<uint32_t> words(1 << 16);
    for (uint32_t& w : words) w = (uint32_t)random();
    ExpectSameInput(type, words, 1);
    ExpectSameOutput(type, words, 3);
  }
}

namespace {

std::vector<int32_t> ReferenceValues(const std::vector<uint32_t>& words) {
  std::vector<int32_t> values(words.size());
  ReferenceInFloat32LSB(words.data(), values.data(), words.size());
  return values;
}

std::vector<int32_t> FloatValues(ASIOMAN_LOOPS loops, const std::vector<uint32_t>& words, size_t offset) {
  std::vector<uint8_t> driver = DriverBuffer(ASIOSTFloat32LSB, words, offset);
  std::vector<int32_t> values(words.size(), 0x5A5A5A5A);
  ASIOMAN_GetInputConversionOf(loops, ASIOSTFloat32LSB)(driver.data() + offset, values.data(), words.size());
  return values;
}

const ASIOMAN_LOOPS kLoopSets[] = {ASIOMAN_LOOPS_BASELINE, ASIOMAN_LOOPS_AVX2};

}  // namespace

// A sample of what the exhaustive sweep (asioconv_sweep_test) proves for every pattern.
TEST(SampleConversionInput, Float32GivesTheDoubleProductsValuesInBothLoopSets) {
  std::mt19937 random(77);
  std::vector<uint32_t> longRun(1 << 16);
  for (uint32_t& w : longRun) w = (uint32_t)random();
  for (ASIOMAN_LOOPS loops : kLoopSets) {
    for (size_t n : kLengths)
      for (size_t offset = 0; offset < 4; offset++) {
        std::vector<uint32_t> words = MixedWords(n, (uint32_t)(n + offset));
        EXPECT_EQ(ReferenceValues(words), FloatValues(loops, words, offset))
            << "loops " << loops << ", " << n << " samples at offset " << offset;
      }
    EXPECT_EQ(ReferenceValues(longRun), FloatValues(loops, longRun, 2)) << "loops " << loops;
  }
}

// Drivers run the switch on their own thread and may leave any rounding mode,
// or denormals flushed, in its control register.
TEST(SampleConversionInput, Float32IgnoresTheRoundingAndDenormalModes) {
  const unsigned kRoundDown = 0x2000, kRoundUp = 0x4000, kRoundToZero = 0x6000, kFlushAndZeroDenormals = 0x8040;
  std::vector<uint32_t> words = MixedWords(4099, 3);
  std::vector<uint32_t> audio = AudioWords(ASIOSTFloat32LSB, 1024, 4);
  words.insert(words.end(), audio.begin(), audio.end());
  for (uint32_t k = 0; k < 64; k++) words.push_back(k * 0x00020001u);  // denormals of both signs
  for (uint32_t k = 0; k < 64; k++) words.push_back(0x80000000u | (k * 0x00020001u));
  std::vector<int32_t> expected = ReferenceValues(words);
  const unsigned csr = _mm_getcsr();
  for (unsigned mode : {kRoundDown, kRoundUp, kRoundToZero, kFlushAndZeroDenormals})
    for (ASIOMAN_LOOPS loops : kLoopSets) {
      std::vector<uint8_t> driver = DriverBuffer(ASIOSTFloat32LSB, words, 0);
      std::vector<int32_t> values(words.size(), 0);
      _mm_setcsr((csr & ~0xE040u) | mode);
      ASIOMAN_GetInputConversionOf(loops, ASIOSTFloat32LSB)(driver.data(), values.data(), words.size());
      _mm_setcsr(csr);
      EXPECT_EQ(expected, values) << "mode " << std::hex << mode << ", loops " << loops;
    }
}

TEST(SampleConversionLoops, TheSwitchGetsTheAvx2LoopsExactlyWhereTheyRun) {
  bool bAvx2 = ASIOMAN_CanRunAvx2Loops();
  ASIOMAN_LOOPS running = bAvx2 ? ASIOMAN_LOOPS_AVX2 : ASIOMAN_LOOPS_BASELINE;
  for (ASIOSampleType type = -1; type <= ASIOSTDSDInt8NER8 + 1; type++) {
    EXPECT_EQ(ASIOMAN_GetInputConversionOf(running, type), ASIOMAN_GetInputConversion(type)) << "type " << type;
    EXPECT_EQ(ASIOMAN_GetOutputConversionOf(running, type), ASIOMAN_GetOutputConversion(type)) << "type " << type;
  }
  for (ASIOSampleType type : kAvx2Types) {
    bool bDiffer = ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS_BASELINE, type) !=
                   ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS_AVX2, type);
    bool bOutputsDiffer = ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS_BASELINE, type) !=
                          ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS_AVX2, type);
    // Without AVX2 in the build both names give the baseline loops; with it they differ.
    EXPECT_EQ(bDiffer, bOutputsDiffer) << "type " << type;
    if (bAvx2) {
      EXPECT_TRUE(bDiffer) << "type " << type;
    }
  }
}
