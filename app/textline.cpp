#include "app/textline.h"

#include <string.h>

namespace {

// The largest double has 309 integer digits; with sign, point, decimals and
// the zero they fit. 34 limbs of 32 bits hold a 53-bit mantissa shifted by
// the largest binary exponent, 971.
enum { WORK_SIZE = 320, INT_MAX_DIGITS = 20, BIG_LIMBS = 34 };

// Digits go leftwards from at; returns the first one.
char* PutDigits(uint64_t value, char* at, int minDigits) {
  int digits = 0;
  do {
    *--at = (char)('0' + value % 10);
    value /= 10;
    digits++;
  } while (value != 0 || digits < minDigits);
  return at;
}

// mantissa x 2^shift is a whole number here; it may have 309 digits.
char* PutBigWhole(uint64_t mantissa, int shift, char* at) {
  uint32_t limbs[BIG_LIMBS] = {};
  int word = shift / 32, bit = shift % 32;
  limbs[word] = (uint32_t)(mantissa << bit);
  if (bit == 0) {
    limbs[word + 1] = (uint32_t)(mantissa >> 32);
  } else {
    limbs[word + 1] = (uint32_t)(mantissa >> (32 - bit));
    limbs[word + 2] = (uint32_t)(mantissa >> (64 - bit));
  }
  int used = BIG_LIMBS;
  while (used > 0 && limbs[used - 1] == 0) used--;
  // Nine digits at a time: a remainder below 10^9 shifted by 32 bits still
  // fits 64 bits.
  do {
    uint64_t rest = 0;
    for (int i = used - 1; i >= 0; i--) {
      uint64_t current = rest << 32 | limbs[i];
      limbs[i] = (uint32_t)(current / 1000000000u);
      rest = current % 1000000000u;
    }
    while (used > 0 && limbs[used - 1] == 0) used--;
    at = PutDigits(rest, at, used > 0 ? 9 : 1);
  } while (used > 0);
  return at;
}

// mantissa / 2^shift x 10^decimals rounded to the nearest whole number, a
// tie to the even one, as printf rounds. With at most three decimals the
// scaled mantissa stays below 2^63, so it is below half of 2^shift once shift
// reaches 64.
uint64_t RoundScaled(uint64_t mantissa, int shift, int decimals) {
  uint64_t scaled = mantissa;
  for (int i = 0; i < decimals; i++) scaled *= 10;
  if (shift >= 64) return 0;
  uint64_t whole = scaled >> shift;
  uint64_t rest = scaled & ((uint64_t(1) << shift) - 1);
  uint64_t half = uint64_t(1) << (shift - 1);
  if (rest > half || (rest == half && (whole & 1) != 0)) whole++;
  return whole;
}

char* PutFixedDigits(uint64_t value, int decimals, char* at) {
  for (int i = 0; i < decimals; i++) {
    *--at = (char)('0' + value % 10);
    value /= 10;
  }
  if (decimals > 0) *--at = '.';
  return PutDigits(value, at, 1);
}

}  // namespace

void TEXTLINE_Init(TEXTLINE* line, char* out, size_t size) {
  if (!line) return;
  line->pText = out;
  line->nSize = out ? size : 0;
  line->nLength = 0;
  if (line->nSize > 0) out[0] = 0;
}

void TEXTLINE_Chars(TEXTLINE* line, const char* text, size_t length) {
  if (!line || line->nSize == 0 || !text) return;
  char* at = line->pText + line->nLength;
  const char* end = line->pText + line->nSize - 1;
  for (size_t i = 0; i < length && text[i] != 0 && at < end; i++) *at++ = text[i];
  *at = 0;
  line->nLength = (size_t)(at - line->pText);
}

void TEXTLINE_Text(TEXTLINE* line, const char* text) { TEXTLINE_Chars(line, text, (size_t)-1); }

void TEXTLINE_Int(TEXTLINE* line, int64_t value, int minDigits) {
  if (minDigits > INT_MAX_DIGITS) minDigits = INT_MAX_DIGITS;
  char work[INT_MAX_DIGITS + 2];
  char* end = work + sizeof(work);
  // Negating in unsigned arithmetic keeps INT64_MIN right.
  char* at = PutDigits(value < 0 ? 0 - (uint64_t)value : (uint64_t)value, end, minDigits);
  if (value < 0) *--at = '-';
  TEXTLINE_Chars(line, at, (size_t)(end - at));
}

void TEXTLINE_Fixed(TEXTLINE* line, double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > FIXED_MAX_DECIMALS) decimals = FIXED_MAX_DECIMALS;
  uint64_t bits;
  memcpy(&bits, &value, sizeof(bits));
  int exponent = (int)(bits >> 52 & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  char work[WORK_SIZE];
  char* end = work + sizeof(work);
  char* at = end;
  if (exponent == 0x7ff && mantissa != 0) {
    // As the Windows C library writes it: no sign before a NaN.
    TEXTLINE_Text(line, "nan");
    return;
  }
  if (exponent == 0x7ff) {
    at -= 3;
    memcpy(at, "inf", 3);
  } else {
    // value = mantissa x 2^shift; subnormals have no hidden bit.
    int shift = -1074;
    if (exponent != 0) {
      mantissa |= uint64_t(1) << 52;
      shift = exponent - 1075;
    }
    if (shift >= 0) {
      for (int i = 0; i < decimals; i++) *--at = '0';
      if (decimals > 0) *--at = '.';
      at = PutBigWhole(mantissa, shift, at);
    } else {
      at = PutFixedDigits(RoundScaled(mantissa, -shift, decimals), decimals, at);
    }
  }
  // printf keeps the sign of a negative zero and of a value rounded to zero.
  if (bits >> 63) *--at = '-';
  TEXTLINE_Chars(line, at, (size_t)(end - at));
}
