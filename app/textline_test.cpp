#include "app/textline.h"

#include <float.h>
#include <inttypes.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

std::string Fixed(double value, int decimals) {
  char text[400];
  TEXTLINE line;
  TEXTLINE_Init(&line, text, sizeof(text));
  TEXTLINE_Fixed(&line, value, decimals);
  EXPECT_EQ(line.nLength, strlen(text));
  return text;
}

std::string PrintfFixed(double value, int decimals) {
  char text[400];
  snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

std::string Int(int64_t value, int minDigits) {
  char text[40];
  TEXTLINE line;
  TEXTLINE_Init(&line, text, sizeof(text));
  TEXTLINE_Int(&line, value, minDigits);
  return text;
}

// Values on and beside every kind of rounding edge, at every magnitude.
std::vector<double> EdgeValues() {
  std::vector<double> values = {0.0,     0.5,     1.5,     2.5,     0.25,    0.75,      0.125,   0.375,
                                0.05,    0.15,    0.35,    0.45,    0.95,    9.95,      99.95,   999.95,
                                0.0005,  0.0015,  0.0025,  1.0005,  9.5,     99.5,      85.0,    8.5,
                                25.5,    46.44,   1e-300,  DBL_MIN, DBL_TRUE_MIN, 1e15, 1e16, 1e17,
                                1e21,    1e22,    1e23,    9.2e20,  FLT_MAX, DBL_MAX,   4503599627370495.5,
                                9007199254740992.0, 18446744073709551616.0, 9223372036854775807.0 * 100.0};
  for (int e = -1074; e <= 1023; e++) values.push_back(ldexp(1.0, e));
  for (int s = 1; s <= 12; s++)
    for (int n = 0; n < 4096; n += 7) values.push_back(ldexp((double)n, -s));  // halves, quarters... ties
  size_t count = values.size();
  for (size_t i = 0; i < count; i++) {
    values.push_back(nextafter(values[i], INFINITY));
    values.push_back(nextafter(values[i], 0.0));
  }
  count = values.size();
  for (size_t i = 0; i < count; i++) values.push_back(-values[i]);
  return values;
}

TEST(TextLineFixed, ReadsAsPrintfOnEveryRoundingEdge) {
  for (double value : EdgeValues())
    for (int decimals = 0; decimals <= FIXED_MAX_DECIMALS; decimals++)
      ASSERT_EQ(PrintfFixed(value, decimals), Fixed(value, decimals)) << decimals << " decimals of " << value;
}

TEST(TextLineFixed, ReadsAsPrintfForRandomValuesAndRatios) {
  std::mt19937_64 random(20261209);
  for (int i = 0; i < 200000; i++) {
    uint64_t bits = random();
    double value;
    memcpy(&value, &bits, sizeof(value));
    if (isnan(value) || isinf(value)) continue;
    int decimals = (int)(random() % (FIXED_MAX_DECIMALS + 1));
    ASSERT_EQ(PrintfFixed(value, decimals), Fixed(value, decimals)) << decimals << " decimals of " << value;
  }
  // The incident line's ratios: counter ticks against a period or frequency.
  for (int i = 0; i < 200000; i++) {
    int64_t ticks = (int64_t)(random() >> (random() % 64));
    int64_t period = (int64_t)(random() >> (random() % 64)) | 1;
    double ratio = (double)ticks * (i % 2 ? 100.0 : 1000.0) / (double)period;
    ASSERT_EQ(PrintfFixed(ratio, 0), Fixed(ratio, 0)) << ticks << " / " << period;
    ASSERT_EQ(PrintfFixed(ratio, 1), Fixed(ratio, 1)) << ticks << " / " << period;
  }
}

// The Windows C library writes no sign before a NaN, and the text follows it
// on every platform.
TEST(TextLineFixed, InfinityReadsAsPrintfAndNotANumberWithoutSign) {
  EXPECT_EQ(PrintfFixed(INFINITY, 1), Fixed(INFINITY, 1));
  EXPECT_EQ(PrintfFixed(-INFINITY, 0), Fixed(-INFINITY, 0));
  EXPECT_EQ("nan", Fixed(NAN, 1));
  EXPECT_EQ("nan", Fixed(-(double)NAN, 0));
}

TEST(TextLineFixed, DecimalsAreBoundedToThree) {
  EXPECT_EQ("0.123", Fixed(0.123456, 9));
  EXPECT_EQ("1", Fixed(0.9, -2));
}

TEST(TextLineInt, ReadsAsPrintfWithZeroPadding) {
  std::vector<int64_t> values = {0, 1, -1, 9, 10, 99, 100, 999, 1000, 9999, 10000, 12345, -12345, INT64_MAX, INT64_MIN};
  std::mt19937_64 random(7);
  for (int i = 0; i < 1000; i++) values.push_back((int64_t)(random() >> (random() % 64)) * (i % 2 ? 1 : -1));
  char expected[40];
  for (int64_t value : values)
    for (int minDigits = 1; minDigits <= 20; minDigits++) {
      snprintf(expected, sizeof(expected), "%.*" PRId64, minDigits, value);
      ASSERT_EQ(std::string(expected), Int(value, minDigits)) << minDigits;
    }
  EXPECT_EQ("0", Int(0, 0));
}

TEST(TextLine, CutsWhatDoesNotFitAndAlwaysEndsInAZero) {
  char text[8];
  memset(text, '#', sizeof(text));
  TEXTLINE line;
  TEXTLINE_Init(&line, text, 6);
  TEXTLINE_Text(&line, "ab");
  TEXTLINE_Chars(&line, "cdef", 1);
  TEXTLINE_Chars(&line, "d\0ef", 4);  // a driver's text ends at its zero
  EXPECT_STREQ("abcd", text);
  TEXTLINE_Int(&line, -123, 1);
  TEXTLINE_Fixed(&line, 1.5, 1);
  EXPECT_STREQ("abcd-", text);
  EXPECT_EQ(5u, line.nLength);
  EXPECT_EQ('#', text[6]);

  TEXTLINE_Init(&line, text, 0);
  TEXTLINE_Text(&line, "x");
  EXPECT_EQ('a', text[0]);
  EXPECT_EQ(0u, line.nLength);
}

}  // namespace
