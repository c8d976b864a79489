// Eight samples per step, the same operations as the baseline loops on wider
// registers, and the tails one by one as there. This file includes nothing
// with inline functions of its own beyond the intrinsics, so no AVX2 copy of
// a shared inline function can take the place of the baseline one at link;
// its helpers have internal linkage.
#include "asio/asioconv_avx2.h"

#include <immintrin.h>
#include <string.h>

namespace {

inline int32_t SignExtend24(uint32_t u) { return (int32_t)((u & 0xFFFFFFu) ^ 0x800000u) - 0x800000; }

inline uint32_t Load32(const uint8_t* p) {
  uint32_t u;
  memcpy(&u, p, 4);
  return u;
}

inline void Store32(uint8_t* p, uint32_t u) { memcpy(p, &u, 4); }

inline __m256i Load8(const void* p) { return _mm256_loadu_si256((const __m256i*)p); }

inline void Store8(void* p, __m256i v) { _mm256_storeu_si256((__m256i*)p, v); }

// As the baseline: NaN masked to 0, the double product exact, only the top
// clamped (the truncating conversion gives INT32_MIN below the range).
inline __m128i FloatsToInternal(__m128 f) {
  const __m256d kScale = _mm256_set1_pd(8388607.0);
  const __m256d kTop = _mm256_set1_pd(2147483647.0);
  return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_mul_pd(_mm256_cvtps_pd(f), kScale), kTop));
}

inline int32_t FloatToInternal(float f) {
  double d = (double)f * 8388607.0;
  d = (d == d) ? d : 0.0;
  d = d < -2147483648.0 ? -2147483648.0 : d;
  d = d > 2147483647.0 ? 2147483647.0 : d;
  return (int32_t)d;
}

}  // namespace

void ASIOMAN_Avx2InInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i s = _mm_loadu_si128((const __m128i*)(p + 2 * i));
    Store8(pBlock + i, _mm256_slli_epi32(_mm256_cvtepi16_epi32(s), 8));
  }
  for (; i < n; i++) {
    int16_t s;
    memcpy(&s, p + 2 * i, 2);
    pBlock[i] = (int32_t)s * 256;
  }
}

void ASIOMAN_Avx2InInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(pBlock + i, _mm256_srai_epi32(Load8(p + 4 * i), 8));
  for (; i < n; i++) pBlock[i] = SignExtend24(Load32(p + 4 * i) >> 8);
}

void ASIOMAN_Avx2InFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 f = _mm256_loadu_ps((const float*)(p + 4 * i));
    f = _mm256_and_ps(f, _mm256_cmp_ps(f, f, _CMP_ORD_Q));
    __m128i lo = FloatsToInternal(_mm256_castps256_ps128(f));
    __m128i hi = FloatsToInternal(_mm256_extractf128_ps(f, 1));
    Store8(pBlock + i, _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1));
  }
  for (; i < n; i++) {
    float f;
    memcpy(&f, p + 4 * i, 4);
    pBlock[i] = FloatToInternal(f);
  }
}

void ASIOMAN_Avx2InInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(pBlock + i, _mm256_srai_epi32(_mm256_slli_epi32(Load8(p + 4 * i), 8), 8));
  for (; i < n; i++) pBlock[i] = SignExtend24(Load32(p + 4 * i));
}

// Sixteen at a time: bits 8 to 23 of each value, packed to 16 bits (the
// unsigned saturation never bites on values below 65 536) and the 128-bit
// lanes put back in sample order.
void ASIOMAN_Avx2OutInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256i kLow16 = _mm256_set1_epi32(0xFFFF);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m256i a = _mm256_and_si256(_mm256_srli_epi32(Load8(pBlock + i), 8), kLow16);
    __m256i b = _mm256_and_si256(_mm256_srli_epi32(Load8(pBlock + i + 8), 8), kLow16);
    Store8(p + 2 * i, _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8));
  }
  for (; i < n; i++) {
    uint16_t s = (uint16_t)((uint32_t)pBlock[i] >> 8);
    memcpy(p + 2 * i, &s, 2);
  }
}

void ASIOMAN_Avx2OutInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(p + 4 * i, _mm256_slli_epi32(Load8(pBlock + i), 8));
  for (; i < n; i++) Store32(p + 4 * i, (uint32_t)pBlock[i] << 8);
}

void ASIOMAN_Avx2OutFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256 kScale = _mm256_set1_ps(1.1920928955078125e-7f);
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm256_storeu_ps((float*)(p + 4 * i), _mm256_mul_ps(_mm256_cvtepi32_ps(Load8(pBlock + i)), kScale));
  for (; i < n; i++) {
    float f = (float)pBlock[i] * 1.1920928955078125e-7f;
    memcpy(p + 4 * i, &f, 4);
  }
}

void ASIOMAN_Avx2OutInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256i kTopByte = _mm256_set1_epi32((int32_t)0xFF000000u);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i kept = _mm256_and_si256(Load8(p + 4 * i), kTopByte);
    Store8(p + 4 * i, _mm256_or_si256(kept, _mm256_andnot_si256(kTopByte, Load8(pBlock + i))));
  }
  for (; i < n; i++)
    Store32(p + 4 * i, (Load32(p + 4 * i) & 0xFF000000u) | ((uint32_t)pBlock[i] & 0xFFFFFFu));
}
