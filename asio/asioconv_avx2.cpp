// Eight samples per step, the same operations as the baseline loops on wider
// registers, and the tails as there. This file includes nothing with inline
// functions of its own beyond the intrinsics, so no AVX2 copy of a shared
// inline function can take the place of the baseline one at link; its
// helpers have internal linkage.
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

// The baseline's method, eight lanes wide: s = f * 8 388 607 steps one float
// toward zero where |A - s| < |f| with A = f * 2^23, for |f| < 2.
inline __m256i FloatsNearUnityToInternal(__m256 f) {
  __m256i bits = _mm256_castps_si256(f);
  __m256 a = _mm256_castsi256_ps(_mm256_add_epi32(bits, _mm256_set1_epi32(23 << 23)));
  __m256 s = _mm256_mul_ps(f, _mm256_set1_ps(8388607.0f));
  __m256i beyond = _mm256_cmpgt_epi32(bits, _mm256_castps_si256(_mm256_sub_ps(a, s)));
  return _mm256_cvttps_epi32(_mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(s), beyond)));
}

// Any input, as the baseline: 2 (f * 2^22) - f rounded away from zero from
// |f| >= 2 on, then the saturation points and NaN.
inline __m256i FloatsToInternal(__m256 f) {
  __m256i bits = _mm256_castps_si256(f);
  __m256i half = _mm256_cvttps_epi32(_mm256_mul_ps(f, _mm256_set1_ps(4194304.0f)));
  __m256i whole = _mm256_cvttps_epi32(f);
  __m256i fraction = _mm256_castps_si256(_mm256_cmp_ps(f, _mm256_cvtepi32_ps(whole), _CMP_NEQ_UQ));
  __m256i away = _mm256_sub_epi32(whole, _mm256_sign_epi32(fraction, bits));
  __m256i large = _mm256_sub_epi32(_mm256_add_epi32(half, half), away);
  __m256 magnitude = _mm256_and_ps(f, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
  __m256i v = _mm256_blendv_epi8(FloatsNearUnityToInternal(f), large,
                                 _mm256_castps_si256(_mm256_cmp_ps(magnitude, _mm256_set1_ps(2.0f), _CMP_GE_OQ)));
  v = _mm256_blendv_epi8(v, _mm256_set1_epi32(INT32_MAX),
                         _mm256_castps_si256(_mm256_cmp_ps(f, _mm256_set1_ps(256.0f), _CMP_GT_OQ)));
  v = _mm256_blendv_epi8(v, _mm256_set1_epi32(INT32_MIN),
                         _mm256_castps_si256(_mm256_cmp_ps(f, _mm256_set1_ps(-256.000030517578125f), _CMP_LT_OQ)));
  return _mm256_and_si256(v, _mm256_castps_si256(_mm256_cmp_ps(f, f, _CMP_ORD_Q)));
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

// Sixteen samples are checked for bit 30 (set from magnitude 2 up) at once.
void ASIOMAN_Avx2InFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  const __m256i kFromTwo = _mm256_set1_epi32(0x40000000);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m256 f0 = _mm256_loadu_ps((const float*)(p + 4 * i));
    __m256 f1 = _mm256_loadu_ps((const float*)(p + 4 * i + 32));
    if (_mm256_testz_si256(_mm256_castps_si256(_mm256_or_ps(f0, f1)), kFromTwo)) {
      Store8(pBlock + i, FloatsNearUnityToInternal(f0));
      Store8(pBlock + i + 8, FloatsNearUnityToInternal(f1));
    } else {
      Store8(pBlock + i, FloatsToInternal(f0));
      Store8(pBlock + i + 8, FloatsToInternal(f1));
    }
  }
  for (; i < n; i += 8) {
    size_t nLeft = n - i < 8 ? n - i : 8;
    float f[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    int32_t v[8];
    memcpy(f, p + 4 * i, nLeft * 4);
    Store8(v, FloatsToInternal(_mm256_loadu_ps(f)));
    memcpy(pBlock + i, v, nLeft * 4);
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
