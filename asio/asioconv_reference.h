// The Float32LSB input loop as it was before the single-precision one: the
// exact double product f * 8 388 607, NaN masked to 0, clamped and truncated.
// The tests hold the production loops to it; nothing else may use it.
#ifndef MB_ASIO_ASIOCONV_REFERENCE_H
#define MB_ASIO_ASIOCONV_REFERENCE_H

#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

inline int32_t ReferenceFloatToInternal(float f) {
  double d = (double)f * 8388607.0;
  d = (d == d) ? d : 0.0;
  d = d < -2147483648.0 ? -2147483648.0 : d;
  d = d > 2147483647.0 ? 2147483647.0 : d;
  return (int32_t)d;
}

// Four at a time as it ran in the switch; the same values as the function above.
inline void ReferenceInFloat32LSB(const void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  const __m128d kScale = _mm_set1_pd(8388607.0);
  const __m128d kTop = _mm_set1_pd(2147483647.0);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128 f = _mm_loadu_ps((const float*)(p + 4 * i));
    f = _mm_and_ps(f, _mm_cmpord_ps(f, f));
    __m128d lo = _mm_min_pd(_mm_mul_pd(_mm_cvtps_pd(f), kScale), kTop);
    __m128d hi = _mm_min_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), kScale), kTop);
    _mm_storeu_si128((__m128i*)(pBlock + i), _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi)));
  }
  for (; i < n; i++) {
    float f;
    memcpy(&f, p + 4 * i, 4);
    pBlock[i] = ReferenceFloatToInternal(f);
  }
}

#endif  // MB_ASIO_ASIOCONV_REFERENCE_H
