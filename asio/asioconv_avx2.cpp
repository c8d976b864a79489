// Eight samples per step, the same operations as the baseline loops on wider
// registers, four steps a pass, and the last few samples of the 32-bit types
// in one masked step (masked lanes are neither read nor written) rather than
// through a padded copy on the stack, so that a run of channels costs little
// more than its samples. This file includes nothing with inline functions of
// external linkage beyond the intrinsics, so no AVX2 copy of a shared inline
// function can take the place of the baseline one at link; its helpers have
// internal linkage.
#include "asio/asioconv_avx2.h"

#include <immintrin.h>
#include <string.h>

#if defined(_MSC_VER)
#define MB_NOINLINE __declspec(noinline)
#else
#define MB_NOINLINE __attribute__((noinline))
#endif

namespace {

inline __m256i Load8(const void* p) { return _mm256_loadu_si256((const __m256i*)p); }

inline void Store8(void* p, __m256i v) { _mm256_storeu_si256((__m256i*)p, v); }

// The first nLeft (1 to 7) lanes set.
inline __m256i TailMask(size_t nLeft) {
  static const int32_t kMask[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};
  return Load8(kMask + 8 - nLeft);
}

inline __m256i LoadTail(const void* p, __m256i mask) { return _mm256_maskload_epi32((const int*)p, mask); }

inline void StoreTail(void* p, __m256i mask, __m256i v) { _mm256_maskstore_epi32((int*)p, mask, v); }

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

// Four steps of eight samples a pass, then single steps, then the last few
// samples in one masked step: the loop's own count and branch are paid once
// per 32 samples.
template <typename Step, typename Tail>
inline void ByEights(size_t n, Step step, Tail tail) {
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    step(i);
    step(i + 8);
    step(i + 16);
    step(i + 24);
  }
  if (i == n) return;
  for (; i + 8 <= n; i += 8) step(i);
  if (i < n) tail(i, TailMask(n - i));
}

// The 16-bit types cannot mask 2-byte lanes: a length that is not a whole
// number of vectors ends with the last whole vector, which converts a few
// samples a second time to the same values, and only a buffer shorter than
// one vector goes sample by sample (out of line, so that it costs the loops
// nothing).
MB_NOINLINE void InInt16LSBShort(const uint8_t* p, int32_t* pBlock, size_t n) {
  for (size_t i = 0; i < n; i++) {
    int16_t s;
    memcpy(&s, p + 2 * i, 2);
    pBlock[i] = (int32_t)s * 256;
  }
}

inline void InInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  auto step = [&](size_t k) {
    Store8(pBlock + k, _mm256_slli_epi32(_mm256_cvtepi16_epi32(_mm_loadu_si128((const __m128i*)(p + 2 * k))), 8));
  };
  if (n < 8) return InInt16LSBShort(p, pBlock, n);
  // The last whole vector converted again writes the same values.
  ByEights(n, step, [&](size_t, __m256i) { step(n - 8); });
}

inline void InInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  ByEights(
      n, [&](size_t k) { Store8(pBlock + k, _mm256_srai_epi32(Load8(p + 4 * k), 8)); },
      [&](size_t k, __m256i mask) { StoreTail(pBlock + k, mask, _mm256_srai_epi32(LoadTail(p + 4 * k, mask), 8)); });
}

// From the first 32 samples that fail the check below on: single vectors are
// checked for bit 30 (set from magnitude 2 up), and those that fail it and the
// last few samples take the path for any input (masked lanes read as zero).
// Out of line, so that the fast loop keeps only its own three constants.
MB_NOINLINE void InFloat32LSBFrom(const float* p, int32_t* pBlock, size_t n) {
  const __m256i kFromTwo = _mm256_set1_epi32(0x40000000);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 f = _mm256_loadu_ps(p + i);
    bool bNearUnity = _mm256_testz_si256(_mm256_castps_si256(f), kFromTwo) != 0;
    Store8(pBlock + i, bNearUnity ? FloatsNearUnityToInternal(f) : FloatsToInternal(f));
  }
  if (i < n) {
    __m256i mask = TailMask(n - i);
    StoreTail(pBlock + i, mask, FloatsToInternal(_mm256_castsi256_ps(LoadTail(p + i, mask))));
  }
}

// Thirty-two samples at a time while all of them are below 2 in magnitude.
inline void InFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const float* p = (const float*)pDriver;
  const __m256i kFromTwo = _mm256_set1_epi32(0x40000000);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256 f0 = _mm256_loadu_ps(p + i);
    __m256 f1 = _mm256_loadu_ps(p + i + 8);
    __m256 f2 = _mm256_loadu_ps(p + i + 16);
    __m256 f3 = _mm256_loadu_ps(p + i + 24);
    __m256 all = _mm256_or_ps(_mm256_or_ps(f0, f1), _mm256_or_ps(f2, f3));
    if (!_mm256_testz_si256(_mm256_castps_si256(all), kFromTwo)) break;
    Store8(pBlock + i, FloatsNearUnityToInternal(f0));
    Store8(pBlock + i + 8, FloatsNearUnityToInternal(f1));
    Store8(pBlock + i + 16, FloatsNearUnityToInternal(f2));
    Store8(pBlock + i + 24, FloatsNearUnityToInternal(f3));
  }
  if (i < n) InFloat32LSBFrom(p + i, pBlock + i, n - i);
}

inline void InInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  auto convert = [](__m256i v) { return _mm256_srai_epi32(_mm256_slli_epi32(v, 8), 8); };
  ByEights(
      n, [&](size_t k) { Store8(pBlock + k, convert(Load8(p + 4 * k))); },
      [&](size_t k, __m256i mask) { StoreTail(pBlock + k, mask, convert(LoadTail(p + 4 * k, mask))); });
}

MB_NOINLINE void OutInt16LSBShort(uint8_t* p, const int32_t* pBlock, size_t n) {
  for (size_t i = 0; i < n; i++) {
    uint16_t s = (uint16_t)((uint32_t)pBlock[i] >> 8);
    memcpy(p + 2 * i, &s, 2);
  }
}

// Sixteen at a time: bits 8 to 23 of each value, packed to 16 bits (the
// unsigned saturation never bites on values below 65 536) and the 128-bit
// lanes put back in sample order.
inline void OutInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256i kLow16 = _mm256_set1_epi32(0xFFFF);
  auto sixteen = [&](size_t k) {
    __m256i a = _mm256_and_si256(_mm256_srli_epi32(Load8(pBlock + k), 8), kLow16);
    __m256i b = _mm256_and_si256(_mm256_srli_epi32(Load8(pBlock + k + 8), 8), kLow16);
    Store8(p + 2 * k, _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8));
  };
  if (n < 16) return OutInt16LSBShort(p, pBlock, n);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    sixteen(i);
    sixteen(i + 16);
  }
  if (i == n) return;
  for (; i + 16 <= n; i += 16) sixteen(i);
  if (i < n) sixteen(n - 16);
}

inline void OutInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  ByEights(
      n, [&](size_t k) { Store8(p + 4 * k, _mm256_slli_epi32(Load8(pBlock + k), 8)); },
      [&](size_t k, __m256i mask) { StoreTail(p + 4 * k, mask, _mm256_slli_epi32(LoadTail(pBlock + k, mask), 8)); });
}

inline void OutFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256 kScale = _mm256_set1_ps(1.1920928955078125e-7f);
  auto convert = [&](__m256i v) { return _mm256_castps_si256(_mm256_mul_ps(_mm256_cvtepi32_ps(v), kScale)); };
  ByEights(
      n, [&](size_t k) { Store8(p + 4 * k, convert(Load8(pBlock + k))); },
      [&](size_t k, __m256i mask) { StoreTail(p + 4 * k, mask, convert(LoadTail(pBlock + k, mask))); });
}

inline void OutInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  const __m256i kTopByte = _mm256_set1_epi32((int32_t)0xFF000000u);
  auto merge = [&](__m256i driver, __m256i block) {
    return _mm256_or_si256(_mm256_and_si256(driver, kTopByte), _mm256_andnot_si256(kTopByte, block));
  };
  ByEights(
      n, [&](size_t k) { Store8(p + 4 * k, merge(Load8(p + 4 * k), Load8(pBlock + k))); },
      [&](size_t k, __m256i mask) {
        StoreTail(p + 4 * k, mask, merge(LoadTail(p + 4 * k, mask), LoadTail(pBlock + k, mask)));
      });
}

// A run of channels through one loop, inlined, so its constants are set up
// once a run.
template <void (*kLoop)(void*, int32_t*, size_t)>
inline void Run(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock, size_t n) {
  for (int32_t c = 0; c < nChannels; c++, pBlock += n) kLoop(pInfos[c].buffers[nHalf], pBlock, n);
}

}  // namespace

#define MB_AVX2_RUN(name)                                                                          \
  void ASIOMAN_Avx2##name(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock, \
                          size_t nSamples) {                                                       \
    Run<name>(pInfos, nChannels, nHalf, pBlock, nSamples);                                         \
  }

MB_AVX2_RUN(InInt16LSB)
MB_AVX2_RUN(InInt32LSB)
MB_AVX2_RUN(InFloat32LSB)
MB_AVX2_RUN(InInt32LSB24)
MB_AVX2_RUN(OutInt16LSB)
MB_AVX2_RUN(OutInt32LSB)
MB_AVX2_RUN(OutFloat32LSB)
MB_AVX2_RUN(OutInt32LSB24)
