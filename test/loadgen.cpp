// Load generators. The filter banks hold 512 tables of 2 MiB that are filled
// once at window creation; the sine of every source sample is computed by a
// short polynomial (the C library's sin is several times slower for these
// large arguments) and shared between the integer and the float filter of
// the same row.
#include "test/loadgen.h"

#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "app/appcontext.h"

namespace {

// Cody-Waite reduction by pi/2 in three 33-bit parts: n * part is exact for
// the quadrant counts of these tables (below 2^20), so the reduced argument
// keeps full double precision.
const double kTwoOverPi = 6.36619772367581382433e-01;
const double kPiOver2Part1 = 1.57079632673412561417e+00;
const double kPiOver2Part2 = 6.07710050630396597660e-11;
const double kPiOver2Part3 = 2.02226624871116645580e-21;

// Taylor series on |r| <= pi/4; the first omitted terms are below 1e-16.
double SinKernel(double r) {
  double r2 = r * r;
  double p = -1.0 / 1307674368000.0;
  p = p * r2 + 1.0 / 6227020800.0;
  p = p * r2 - 1.0 / 39916800.0;
  p = p * r2 + 1.0 / 362880.0;
  p = p * r2 - 1.0 / 5040.0;
  p = p * r2 + 1.0 / 120.0;
  p = p * r2 - 1.0 / 6.0;
  return r + r * r2 * p;
}

double CosKernel(double r) {
  double r2 = r * r;
  double p = 1.0 / 20922789888000.0;
  p = p * r2 - 1.0 / 87178291200.0;
  p = p * r2 + 1.0 / 479001600.0;
  p = p * r2 - 1.0 / 3628800.0;
  p = p * r2 + 1.0 / 40320.0;
  p = p * r2 - 1.0 / 720.0;
  p = p * r2 + 1.0 / 24.0;
  return 1.0 - 0.5 * r2 + r2 * r2 * p;
}

// Zeros written into every page of a fresh block, so that the audio thread
// never takes the page fault of a first touch. The block is reached through a
// volatile pointer: an allocation followed by a zero fill the compiler can see
// is merged into calloc, whose pages stay unmapped until first touched.
void FillResident(void* block, size_t bytes) {
  void* volatile opaque = block;
  memset(opaque, 0, bytes);
}

template <typename T>
int AllocTables(T** source, T** target) {
  *source = (T*)malloc(sizeof(T) * LOADFILTER_TABLE_SAMPLES);
  *target = (T*)malloc(sizeof(T) * LOADFILTER_TABLE_SAMPLES);
  if (*source == NULL || *target == NULL) {
    free(*source);
    free(*target);
    *source = NULL;
    *target = NULL;
    return -1;
  }
  FillResident(*target, sizeof(T) * LOADFILTER_TABLE_SAMPLES);
  return 0;
}

template <typename T>
void SetTables(LOADFILTER<T>* filter, T* source, T* target) {
  filter->pSourceStart = filter->pRead = source;
  filter->pTargetStart = filter->pWrite = target;
  filter->pSourceEnd = source + LOADFILTER_TABLE_SAMPLES;
  filter->pTargetEnd = target + LOADFILTER_TABLE_SAMPLES;
}

void SetIntCoefficients(LOADFILTER<int32_t>* filter, float k) {
  filter->nState = 0;
  filter->nCoef = (int32_t)(k * 32767.0f);
  filter->nGain = (int32_t)((1.0f - k) * 32767.0f);
}

void SetFloatCoefficients(LOADFILTER<float>* filter, float k) {
  filter->nState = 0.0f;
  filter->nCoef = k;
  filter->nGain = 1.0f - k;
}

// Source tables of one row of the banks; either pointer may be null.
void FillSources(int32_t* intSource, float* floatSource, float period, float k) {
  double amplitude = (double)k;
  for (int32_t j = 0; j < LOADFILTER_TABLE_SAMPLES; j++) {
    double s = LOADGEN_SineOfPosition((float)j / period);
    if (intSource) intSource[j] = (int32_t)(s * amplitude * 32767.0);
    if (floatSource) floatSource[j] = (float)(s * amplitude);
  }
}

// Advances a table position by step samples, wrapping at the end; step never
// passes the end (the caller cuts its runs there).
template <typename T>
T* Advance(T* position, int32_t step, T* start, T* end) {
  position += step;
  return position == end ? start : position;
}

template <typename T>
int32_t RunLength(const LOADFILTER<T>* filter, int32_t remaining) {
  ptrdiff_t toSourceEnd = filter->pSourceEnd - filter->pRead;
  ptrdiff_t toTargetEnd = filter->pTargetEnd - filter->pWrite;
  ptrdiff_t run = remaining;
  if (toSourceEnd < run) run = toSourceEnd;
  if (toTargetEnd < run) run = toTargetEnd;
  return (int32_t)run;
}

template <typename T>
bool HasTables(const LOADFILTER<T>* filter) {
  return filter->pRead && filter->pWrite && filter->pRead < filter->pSourceEnd &&
         filter->pWrite < filter->pTargetEnd;
}

// Called through a pointer the compiler cannot see through, so that copies
// whose results are never read are not optimised away.
void* (*volatile g_copy)(void*, const void*, size_t) = memcpy;

}  // namespace

double LOADGEN_SineOfPosition(double x) {
  // Rounded to the nearest quadrant by truncation: x is never negative.
  int64_t q = (int64_t)(x * kTwoOverPi + 0.5);
  double n = (double)q;
  double r = ((x - n * kPiOver2Part1) - n * kPiOver2Part2) - n * kPiOver2Part3;
  int64_t quadrant = q & 3;
  double s = (quadrant & 1) ? CosKernel(r) : SinKernel(r);
  return (quadrant & 2) ? -s : s;
}

int LOADFILTER_InitInt(LOADFILTER<int32_t>* filter, float period, float k) {
  int32_t *source, *target;
  if (AllocTables(&source, &target) != 0) return -1;
  FillSources(source, NULL, period, k);
  SetTables(filter, source, target);
  SetIntCoefficients(filter, k);
  return 0;
}

int LOADFILTER_InitFloat(LOADFILTER<float>* filter, float period, float k) {
  float *source, *target;
  if (AllocTables(&source, &target) != 0) return -1;
  FillSources(NULL, source, period, k);
  SetTables(filter, source, target);
  SetFloatCoefficients(filter, k);
  return 0;
}

void LOADFILTER_ProcessInt(LOADFILTER<int32_t>* filter, int32_t count) {
  if (!HasTables(filter)) return;
  // Products wrap by design (the target is never read): unsigned arithmetic
  // keeps the wrap defined; the shifts are arithmetic on the 32-bit results.
  uint32_t coef = (uint32_t)filter->nCoef;
  uint32_t gain = (uint32_t)filter->nGain;
  int32_t s = filter->nState;
  const int32_t* read = filter->pRead;
  int32_t* write = filter->pWrite;
  while (count > 0) {
    int32_t run = RunLength(filter, count);
    for (int32_t i = 0; i < run; i++) {
      int32_t feedback = (int32_t)((uint32_t)s * coef) >> 15;
      s = (int32_t)((uint32_t)feedback + (uint32_t)read[i]);
      write[i] = (int32_t)((uint32_t)s * gain) >> 15;
    }
    filter->pRead = Advance(filter->pRead, run, filter->pSourceStart, filter->pSourceEnd);
    filter->pWrite = Advance(filter->pWrite, run, filter->pTargetStart, filter->pTargetEnd);
    read = filter->pRead;
    write = filter->pWrite;
    count -= run;
  }
  filter->nState = s;
}

void LOADFILTER_ProcessFloat(LOADFILTER<float>* filter, int32_t count) {
  if (!HasTables(filter)) return;
  float coef = filter->nCoef;
  float gain = filter->nGain;
  float s = filter->nState;
  while (count > 0) {
    int32_t run = RunLength(filter, count);
    const float* read = filter->pRead;
    float* write = filter->pWrite;
    for (int32_t i = 0; i < run; i++) {
      s = s * coef + read[i];
      write[i] = s * gain;
    }
    filter->pRead = Advance(filter->pRead, run, filter->pSourceStart, filter->pSourceEnd);
    filter->pWrite = Advance(filter->pWrite, run, filter->pTargetStart, filter->pTargetEnd);
    count -= run;
  }
  filter->nState = s;
}

void LOADFILTER_FreeInt(LOADFILTER<int32_t>* filter) {
  free(filter->pSourceStart);
  free(filter->pTargetStart);
  memset(filter, 0, sizeof(*filter));
}

void LOADFILTER_FreeFloat(LOADFILTER<float>* filter) {
  free(filter->pSourceStart);
  free(filter->pTargetStart);
  memset(filter, 0, sizeof(*filter));
}

void LOADFILTER_BuildBanks(APPCONTEXT* context) {
  float a = 21.123f;
  float k = 0.1123f;
  for (int i = 0; i < APP_LOADFILTERS; i++) {
    // The same as LOADFILTER_InitInt and LOADFILTER_InitFloat one after the
    // other, with the sine of each position computed once for both.
    int32_t *intSource, *intTarget;
    float *floatSource, *floatTarget;
    bool haveInt = AllocTables(&intSource, &intTarget) == 0;
    bool haveFloat = AllocTables(&floatSource, &floatTarget) == 0;
    if (haveInt || haveFloat)
      FillSources(haveInt ? intSource : NULL, haveFloat ? floatSource : NULL, a, k);
    if (haveInt) {
      SetTables(&context->cpuFilters[i], intSource, intTarget);
      SetIntCoefficients(&context->cpuFilters[i], k);
    }
    if (haveFloat) {
      SetTables(&context->fpuFilters[i], floatSource, floatTarget);
      SetFloatCoefficients(&context->fpuFilters[i], k);
    }
    a += 10.0f;
    k += 0.005461f;
  }
}

void LOADFILTER_FreeBanks(APPCONTEXT* context) {
  for (int i = 0; i < APP_LOADFILTERS; i++) {
    LOADFILTER_FreeInt(&context->cpuFilters[i]);
    LOADFILTER_FreeFloat(&context->fpuFilters[i]);
  }
}

void LOADGEN_AllocCopyBlocks(APPCONTEXT* context, int32_t bufferSize) {
  context->pCopySource = NULL;
  context->pCopyTarget = NULL;
  if (bufferSize <= 0) return;
  const size_t bufferBytes = LOADGEN_COPY_BUFFERS * sizeof(int32_t);
  if ((size_t)bufferSize > SIZE_MAX / bufferBytes) return;
  size_t bytes = (size_t)bufferSize * bufferBytes;
  context->pCopySource = (int32_t*)malloc(bytes);
  context->pCopyTarget = (int32_t*)malloc(bytes);
  if (context->pCopySource) FillResident(context->pCopySource, bytes);
  if (context->pCopyTarget) FillResident(context->pCopyTarget, bytes);
}

void LOADGEN_FreeCopyBlocks(APPCONTEXT* context) {
  free(context->pCopySource);
  free(context->pCopyTarget);
  context->pCopySource = NULL;
  context->pCopyTarget = NULL;
}

void RunLoadGenerators(APPCONTEXT* context) {
  int32_t n = context->nBufferSize;
  if (n <= 0) return;
  for (int32_t unit = context->nCpuFilters; unit > 0; unit--)
    for (int i = 0; i < APP_LOADFILTERS; i++) LOADFILTER_ProcessInt(&context->cpuFilters[i], n);
  for (int32_t unit = context->nFpuFilters; unit > 0; unit--)
    for (int i = 0; i < APP_LOADFILTERS; i++) LOADFILTER_ProcessFloat(&context->fpuFilters[i], n);

  int32_t* source = context->pCopySource;
  int32_t* target = context->pCopyTarget;
  if (source == NULL || target == NULL) return;
  size_t bytes = (size_t)n * sizeof(int32_t);
  for (int32_t unit = context->nSingleCopies; unit > 0; unit--)
    for (int b = 0; b < LOADGEN_COPY_BUFFERS; b++) g_copy(target, source, bytes);
  for (int32_t unit = context->nPatches; unit > 0; unit--)
    for (int b = 0; b < LOADGEN_COPY_BUFFERS; b++) g_copy(target + (size_t)b * n, source, bytes);
  for (int32_t unit = context->nBusCopies; unit > 0; unit--)
    for (int b = 0; b < LOADGEN_COPY_BUFFERS; b++)
      g_copy(target + (size_t)b * n, source + (size_t)b * n, bytes);
}
