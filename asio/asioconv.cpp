// The conversion loops. Every shift is done on unsigned values and every
// sign extension by the (x ^ 0x800000) - 0x800000 identity, so each loop is
// defined for every input and stays branch-free. Driver words are read and
// written with memcpy (no alignment assumed); LSB types are the host order
// of the x86-64 targets.
#include "asio/asioconv.h"

#include <string.h>

#if !defined(__SSE2__) && !defined(_M_X64)
#error "the Float32LSB input loop is written for x86-64, whose baseline has SSE2"
#endif
#include <emmintrin.h>
#if defined(MB_ASIOCONV_AVX2)
#include "asio/asioconv_avx2.h"
#endif
#if defined(MB_ASIOCONV_AVX2) && defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace {

const float kFloatInScale = 8388607.0f;           // 2^23 - 1: +1.0 arrives as full scale
const float kFloatOutScale = 1.1920928955078125e-7f;  // 2^-23: full scale leaves as 0.99999988

inline int32_t SignExtend24(uint32_t u) { return (int32_t)((u & 0xFFFFFFu) ^ 0x800000u) - 0x800000; }

inline uint32_t Load32(const uint8_t* p) {
  uint32_t u;
  memcpy(&u, p, 4);
  return u;
}

inline void Store32(uint8_t* p, uint32_t u) { memcpy(p, &u, 4); }

inline void InNone(void*, int32_t*, size_t) {}

inline void InInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) {
    int16_t s;
    memcpy(&s, p + 2 * i, 2);
    pBlock[i] = (int32_t)s * 256;
  }
}

// Every sample but the last is read as a 4-byte word whose top byte belongs
// to the next sample; the last one would read past the buffer.
inline void InInt24LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 1 < n; i++) pBlock[i] = SignExtend24(Load32(p + 3 * i));
  for (; i < n; i++)
    pBlock[i] = SignExtend24((uint32_t)p[3 * i] | ((uint32_t)p[3 * i + 1] << 8) | ((uint32_t)p[3 * i + 2] << 16));
}

inline void InInt24MSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++, p += 3)
    pBlock[i] = SignExtend24(((uint32_t)p[0] << 16) | ((uint32_t)p[1] << 8) | (uint32_t)p[2]);
}

inline void InInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) pBlock[i] = SignExtend24(Load32(p + 4 * i) >> 8);
}

// A float input v is trunc(f * 8 388 607) of the exact product, saturated to
// the 32-bit range, NaN giving 0. That product needs up to 47 bits, so it is
// never formed: with A = f * 2^23 (exact) it is A - f. Below 2 in magnitude
// (checked for whole vectors at once, which nearly always pass) the rounded
// s = f * 8 388 607 truncates one integer too far from zero only where s is
// an integer beyond the exact product. s lies beyond it exactly where
// |A - s| < |f| (A - s is exact and has the sign of f), and there it steps one
// float toward zero before truncating: one integer if s was one, none
// otherwise. None of this depends on the rounding mode, and A is made by
// adding 23 to the exponent field rather than by a product, so it holds where
// the CPU reads denormals as zero too.
inline __m128i FloatsNearUnityToInternal(__m128 f) {
  __m128i bits = _mm_castps_si128(f);
  __m128 a = _mm_castsi128_ps(_mm_add_epi32(bits, _mm_set1_epi32(23 << 23)));
  __m128 s = _mm_mul_ps(f, _mm_set1_ps(kFloatInScale));
  __m128i beyond = _mm_cmpgt_epi32(bits, _mm_castps_si128(_mm_sub_ps(a, s)));
  return _mm_cvttps_epi32(_mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(s), beyond)));
}

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Any input. From |f| >= 2 on A is an even integer, so the product truncates
// to 2 (f * 2^22) - f rounded away from zero, whose 32-bit wrapping sum is
// exact wherever the value fits: above 256 every input reaches 2^31 - 1, and
// below -256.000030517578125 (the next float after -256) every one -2^31.
inline __m128i FloatsToInternal(__m128 f) {
  __m128i bits = _mm_castps_si128(f);
  __m128i sign = _mm_srai_epi32(bits, 31);
  __m128i half = _mm_cvttps_epi32(_mm_mul_ps(f, _mm_set1_ps(4194304.0f)));
  __m128i whole = _mm_cvttps_epi32(f);
  __m128i fraction = _mm_castps_si128(_mm_cmpneq_ps(f, _mm_cvtepi32_ps(whole)));
  __m128i away = _mm_sub_epi32(whole, _mm_sub_epi32(_mm_xor_si128(fraction, sign), sign));
  __m128i large = _mm_sub_epi32(_mm_add_epi32(half, half), away);
  __m128 magnitude = _mm_and_ps(f, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
  __m128i v = Select(_mm_castps_si128(_mm_cmpge_ps(magnitude, _mm_set1_ps(2.0f))), large,
                     FloatsNearUnityToInternal(f));
  v = Select(_mm_castps_si128(_mm_cmpgt_ps(f, _mm_set1_ps(256.0f))), _mm_set1_epi32(INT32_MAX), v);
  v = Select(_mm_castps_si128(_mm_cmplt_ps(f, _mm_set1_ps(-256.000030517578125f))), _mm_set1_epi32(INT32_MIN), v);
  return _mm_and_si128(v, _mm_castps_si128(_mm_cmpord_ps(f, f)));
}

// Bit 30 is clear exactly in the floats below 2 in magnitude (NaN and the
// infinities have it set); eight samples are checked at once.
inline void InFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128 f0 = _mm_loadu_ps((const float*)(p + 4 * i));
    __m128 f1 = _mm_loadu_ps((const float*)(p + 4 * i + 16));
    __m128i both = _mm_slli_epi32(_mm_castps_si128(_mm_or_ps(f0, f1)), 1);
    if (_mm_movemask_ps(_mm_castsi128_ps(both)) == 0) {
      _mm_storeu_si128((__m128i*)(pBlock + i), FloatsNearUnityToInternal(f0));
      _mm_storeu_si128((__m128i*)(pBlock + i + 4), FloatsNearUnityToInternal(f1));
    } else {
      _mm_storeu_si128((__m128i*)(pBlock + i), FloatsToInternal(f0));
      _mm_storeu_si128((__m128i*)(pBlock + i + 4), FloatsToInternal(f1));
    }
  }
  for (; i + 4 <= n; i += 4) {
    __m128 f = _mm_loadu_ps((const float*)(p + 4 * i));
    bool bNearUnity = _mm_movemask_ps(_mm_castsi128_ps(_mm_slli_epi32(_mm_castps_si128(f), 1))) == 0;
    _mm_storeu_si128((__m128i*)(pBlock + i), bNearUnity ? FloatsNearUnityToInternal(f) : FloatsToInternal(f));
  }
  // Only the last few samples of a length that is not a whole number of
  // vectors go through a zero-padded one.
  if (i < n) {
    size_t nLeft = n - i;
    float f[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int32_t v[4];
    memcpy(f, p + 4 * i, nLeft * 4);
    _mm_storeu_si128((__m128i*)v, FloatsToInternal(_mm_loadu_ps(f)));
    memcpy(pBlock + i, v, nLeft * 4);
  }
}

inline void InInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  const uint8_t* p = (const uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) pBlock[i] = SignExtend24(Load32(p + 4 * i));
}

inline void OutNothing(void*, int32_t*, size_t) {}

template <size_t kBytes>
inline void OutZero(void* pDriver, int32_t*, size_t n) {
  memset(pDriver, 0, n * kBytes);
}

inline void OutInt16LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) {
    uint16_t s = (uint16_t)((uint32_t)pBlock[i] >> 8);
    memcpy(p + 2 * i, &s, 2);
  }
}

// Whole words again: the spare top byte is overwritten by the next sample,
// and the last sample is written byte by byte so nothing past it is touched.
inline void OutInt24LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  size_t i = 0;
  for (; i + 1 < n; i++) Store32(p + 3 * i, (uint32_t)pBlock[i]);
  for (; i < n; i++) {
    uint32_t u = (uint32_t)pBlock[i];
    p[3 * i] = (uint8_t)u;
    p[3 * i + 1] = (uint8_t)(u >> 8);
    p[3 * i + 2] = (uint8_t)(u >> 16);
  }
}

inline void OutInt24MSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++, p += 3) {
    uint32_t u = (uint32_t)pBlock[i];
    p[0] = (uint8_t)(u >> 16);
    p[1] = (uint8_t)(u >> 8);
    p[2] = (uint8_t)u;
  }
}

inline void OutInt32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) Store32(p + 4 * i, (uint32_t)pBlock[i] << 8);
}

// Scaling by a power of two commutes with rounding, so converting to single
// first gives the same value as the double product rounded once.
inline void OutFloat32LSB(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++) {
    float f = (float)pBlock[i] * kFloatOutScale;
    memcpy(p + 4 * i, &f, 4);
  }
}

inline void OutInt32LSB24(void* pDriver, int32_t* pBlock, size_t n) {
  uint8_t* p = (uint8_t*)pDriver;
  for (size_t i = 0; i < n; i++)
    Store32(p + 4 * i, (Load32(p + 4 * i) & 0xFF000000u) | ((uint32_t)pBlock[i] & 0xFFFFFFu));
}

// A run of channels through one loop, inlined, so its constants are set up
// once a run.
template <ASIOMAN_CONVERTFN kLoop>
void Run(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf, int32_t* pBlock, size_t n) {
  for (int32_t c = 0; c < nChannels; c++, pBlock += n) kLoop(pInfos[c].buffers[nHalf], pBlock, n);
}

// One channel through a run's loop.
template <ASIOMAN_CONVERTRUNFN kRun>
void OneChannel(void* pDriver, int32_t* pBlock, size_t n) {
  ASIOBufferInfo info = {ASIOFalse, 0, {pDriver, pDriver}};
  kRun(&info, 1, 0, pBlock, n);
}

struct CONVERSION {
  ASIOMAN_CONVERTFN pfnInput;
  ASIOMAN_CONVERTFN pfnOutput;
  ASIOMAN_CONVERTRUNFN pfnInputRun;
  ASIOMAN_CONVERTRUNFN pfnOutputRun;
  int32_t nInputError;
};

template <ASIOMAN_CONVERTFN kIn, ASIOMAN_CONVERTFN kOut>
constexpr CONVERSION Loops(int32_t nInputError) {
  return CONVERSION{kIn, kOut, Run<kIn>, Run<kOut>, nInputError};
}

const int kTypeCount = ASIOSTDSDInt8NER8 + 1;

// Indexed by sample type; rows left empty are DSD and unassigned values.
struct CONVERSIONTABLE {
  CONVERSION rows[kTypeCount];

  constexpr CONVERSIONTABLE() : rows() {
    for (int i = 0; i < kTypeCount; i++) rows[i] = Loops<InNone, OutNothing>(0);
    rows[ASIOSTInt16MSB] = Loops<InNone, OutZero<2>>(4);
    rows[ASIOSTInt24MSB] = Loops<InInt24MSB, OutInt24MSB>(0);
    rows[ASIOSTInt32MSB] = Loops<InNone, OutZero<4>>(6);
    rows[ASIOSTFloat32MSB] = Loops<InNone, OutZero<4>>(7);
    rows[ASIOSTFloat64MSB] = Loops<InNone, OutZero<8>>(8);
    rows[ASIOSTInt32MSB16] = rows[ASIOSTInt32MSB18] = rows[ASIOSTInt32MSB20] = rows[ASIOSTInt32MSB24] =
        Loops<InNone, OutZero<4>>(9);
    rows[ASIOSTInt16LSB] = Loops<InInt16LSB, OutInt16LSB>(0);
    rows[ASIOSTInt24LSB] = Loops<InInt24LSB, OutInt24LSB>(0);
    rows[ASIOSTInt32LSB] = Loops<InInt32LSB, OutInt32LSB>(0);
    rows[ASIOSTFloat32LSB] = Loops<InFloat32LSB, OutFloat32LSB>(0);
    rows[ASIOSTFloat64LSB] = Loops<InNone, OutZero<8>>(2);
    rows[ASIOSTInt32LSB16] = rows[ASIOSTInt32LSB18] = rows[ASIOSTInt32LSB20] = Loops<InNone, OutZero<4>>(3);
    rows[ASIOSTInt32LSB24] = Loops<InInt32LSB24, OutInt32LSB24>(0);
  }
};

constexpr CONVERSIONTABLE g_table;
constexpr CONVERSION kUnknown = Loops<InNone, OutNothing>(0);

#if defined(MB_ASIOCONV_AVX2)
template <ASIOMAN_CONVERTRUNFN kIn, ASIOMAN_CONVERTRUNFN kOut>
constexpr CONVERSION Avx2Loops() {
  return CONVERSION{OneChannel<kIn>, OneChannel<kOut>, kIn, kOut, 0};
}

constexpr CONVERSIONTABLE WithAvx2Loops(CONVERSIONTABLE t) {
  t.rows[ASIOSTInt16LSB] = Avx2Loops<ASIOMAN_Avx2InInt16LSB, ASIOMAN_Avx2OutInt16LSB>();
  t.rows[ASIOSTInt32LSB] = Avx2Loops<ASIOMAN_Avx2InInt32LSB, ASIOMAN_Avx2OutInt32LSB>();
  t.rows[ASIOSTFloat32LSB] = Avx2Loops<ASIOMAN_Avx2InFloat32LSB, ASIOMAN_Avx2OutFloat32LSB>();
  t.rows[ASIOSTInt32LSB24] = Avx2Loops<ASIOMAN_Avx2InInt32LSB24, ASIOMAN_Avx2OutInt32LSB24>();
  return t;
}

constexpr CONVERSIONTABLE g_avx2Table = WithAvx2Loops(CONVERSIONTABLE());
#endif

// AVX2 needs the OS to save the YMM registers too, not only the CPU to have it.
bool DetectAvx2() {
#if !defined(MB_ASIOCONV_AVX2)
  return false;
#elif defined(_MSC_VER)
  const int kOsXsave = 1 << 27, kAvx = 1 << 28, kAvx2 = 1 << 5;
  int info[4];
  __cpuid(info, 0);
  if (info[0] < 7) return false;
  __cpuid(info, 1);
  if ((info[2] & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return false;
  if ((_xgetbv(0) & 6) != 6) return false;
  __cpuidex(info, 7, 0);
  return (info[1] & kAvx2) != 0;
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#endif
}

const CONVERSIONTABLE& Table(ASIOMAN_LOOPS loops) {
#if defined(MB_ASIOCONV_AVX2)
  if (loops == ASIOMAN_LOOPS_AVX2) return g_avx2Table;
#else
  (void)loops;
#endif
  return g_table;
}

const CONVERSION& Row(ASIOMAN_LOOPS loops, ASIOSampleType type) {
  return ((uint32_t)type < (uint32_t)kTypeCount) ? Table(loops).rows[type] : kUnknown;
}

ASIOMAN_LOOPS RunningLoops() {
  static const ASIOMAN_LOOPS loops = ASIOMAN_CanRunAvx2Loops() ? ASIOMAN_LOOPS_AVX2 : ASIOMAN_LOOPS_BASELINE;
  return loops;
}

}  // namespace

bool ASIOMAN_CanRunAvx2Loops(void) {
  static const bool bAvx2 = DetectAvx2();
  return bAvx2;
}

ASIOMAN_CONVERTFN ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS loops, ASIOSampleType type) {
  return Row(loops, type).pfnInput;
}

ASIOMAN_CONVERTFN ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS loops, ASIOSampleType type) {
  return Row(loops, type).pfnOutput;
}

ASIOMAN_CONVERTRUNFN ASIOMAN_GetInputRunOf(ASIOMAN_LOOPS loops, ASIOSampleType type) {
  return Row(loops, type).pfnInputRun;
}

ASIOMAN_CONVERTRUNFN ASIOMAN_GetOutputRunOf(ASIOMAN_LOOPS loops, ASIOSampleType type) {
  return Row(loops, type).pfnOutputRun;
}

ASIOMAN_CONVERTFN ASIOMAN_GetInputConversion(ASIOSampleType type) { return Row(RunningLoops(), type).pfnInput; }

ASIOMAN_CONVERTFN ASIOMAN_GetOutputConversion(ASIOSampleType type) { return Row(RunningLoops(), type).pfnOutput; }

int32_t ASIOMAN_GetInputConversionError(ASIOSampleType type) { return Row(ASIOMAN_LOOPS_BASELINE, type).nInputError; }

ASIOMAN_CONVERTRUNFN ASIOMAN_GetInputRun(ASIOSampleType type) { return Row(RunningLoops(), type).pfnInputRun; }

ASIOMAN_CONVERTRUNFN ASIOMAN_GetOutputRun(ASIOSampleType type) { return Row(RunningLoops(), type).pfnOutputRun; }
