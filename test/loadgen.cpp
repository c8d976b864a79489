// Load generators. A bank's 256 tables of 2 MiB are filled when its first
// amount is chosen, on the GUI thread, with the user waiting: each source
// table is a sine rotated on from the exact sine at the start of every block
// of samples, two products a sample; the exact sines come from a short
// polynomial (the C library's sin is several times slower for these large
// arguments).
#include "test/loadgen.h"

#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "app/appcontext.h"
#include "test/reports.h"

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
  *source = (T*)g_pfnLoadTableAlloc(sizeof(T) * LOADFILTER_TABLE_SAMPLES);
  *target = *source ? (T*)g_pfnLoadTableAlloc(sizeof(T) * LOADFILTER_TABLE_SAMPLES) : NULL;
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

// Samples rotated on from the exact sine at the start of each block.
enum { kRotationBlock = 256 };

// The source sine of one filter, sample j at the position j / period: each
// block of samples starts from the sine and cosine of its first position and
// rotates on by those of the offsets within a block, taken once a table. Two
// products and a sum a sample, with no chain from sample to sample, and
// within a few units of the last place of the sine itself.
template <typename T>
void FillSource(T* source, float period, double amplitude) {
  const double a = (double)period;
  double offsetSine[kRotationBlock], offsetCosine[kRotationBlock];
  for (int m = 0; m < kRotationBlock; m++)
    LOADGEN_SineCosineOfPosition((double)m / a, &offsetSine[m], &offsetCosine[m]);
  for (int32_t j = 0; j < LOADFILTER_TABLE_SAMPLES; j += kRotationBlock) {
    double sine, cosine;
    LOADGEN_SineCosineOfPosition((double)j / a, &sine, &cosine);
    sine *= amplitude;
    cosine *= amplitude;
    T* block = source + j;
    for (int m = 0; m < kRotationBlock; m++) block[m] = (T)(sine * offsetCosine[m] + cosine * offsetSine[m]);
  }
}

static_assert(LOADFILTER_TABLE_SAMPLES % kRotationBlock == 0, "a table is whole blocks");

int InitFilter(LOADFILTER<int32_t>* filter, float period, float k) { return LOADFILTER_InitInt(filter, period, k); }
int InitFilter(LOADFILTER<float>* filter, float period, float k) { return LOADFILTER_InitFloat(filter, period, k); }
void FreeFilter(LOADFILTER<int32_t>* filter) { LOADFILTER_FreeInt(filter); }
void FreeFilter(LOADFILTER<float>* filter) { LOADFILTER_FreeFloat(filter); }

// Whole or not at all: a bank in use never loses a filter, and a bank that
// failed leaves no memory behind.
template <typename T>
int BuildBank(LOADFILTER<T>* filters) {
  float a = 21.123f;
  float k = 0.1123f;
  for (int i = 0; i < APP_LOADFILTERS; i++) {
    if (InitFilter(&filters[i], a, k) != 0) {
      while (i > 0) FreeFilter(&filters[--i]);
      return -1;
    }
    a += 10.0f;
    k += 0.005461f;
  }
  return 0;
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

void* (*g_pfnLoadTableAlloc)(size_t bytes) = malloc;

void LOADGEN_SineCosineOfPosition(double x, double* sine, double* cosine) {
  // Rounded to the nearest quadrant by truncation: x is never negative.
  int64_t q = (int64_t)(x * kTwoOverPi + 0.5);
  double n = (double)q;
  double r = ((x - n * kPiOver2Part1) - n * kPiOver2Part2) - n * kPiOver2Part3;
  double s = SinKernel(r), c = CosKernel(r);
  switch (q & 3) {
    case 0:
      *sine = s, *cosine = c;
      break;
    case 1:
      *sine = c, *cosine = -s;
      break;
    case 2:
      *sine = -s, *cosine = -c;
      break;
    default:
      *sine = -c, *cosine = s;
      break;
  }
}

int LOADFILTER_InitInt(LOADFILTER<int32_t>* filter, float period, float k) {
  int32_t *source, *target;
  if (AllocTables(&source, &target) != 0) return -1;
  FillSource(source, period, (double)k * 32767.0);
  SetTables(filter, source, target);
  SetIntCoefficients(filter, k);
  return 0;
}

int LOADFILTER_InitFloat(LOADFILTER<float>* filter, float period, float k) {
  float *source, *target;
  if (AllocTables(&source, &target) != 0) return -1;
  FillSource(source, period, (double)k);
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

int LOADFILTER_BuildBank(APPCONTEXT* context, LOADGEN_BANK bank) {
  return bank == LOADGEN_CPU ? BuildBank(context->cpuFilters) : BuildBank(context->fpuFilters);
}

// A bank is whole or empty, so its first filter tells.
bool LOADFILTER_HasBank(const APPCONTEXT* context, LOADGEN_BANK bank) {
  return (bank == LOADGEN_CPU ? (const void*)context->cpuFilters[0].pSourceStart
                              : (const void*)context->fpuFilters[0].pSourceStart) != NULL;
}

void LOADFILTER_FreeBanks(APPCONTEXT* context) {
  for (int i = 0; i < APP_LOADFILTERS; i++) {
    LOADFILTER_FreeInt(&context->cpuFilters[i]);
    LOADFILTER_FreeFloat(&context->fpuFilters[i]);
  }
}

int LOADGEN_ChooseFilters(APPCONTEXT* context, LOADGEN_BANK bank, int32_t amount) {
  const char* name = bank == LOADGEN_CPU ? "CPU" : "FPU";
  if (amount != 0 && !LOADFILTER_HasBank(context, bank)) {
    // Filling 512 MiB takes a noticeable time, and may disturb a running test.
    LogLine(context, "DSP LOAD: building the %s filters (512 MiB)", name);
    if (LOADFILTER_BuildBank(context, bank) != 0) {
      LogLine(context, "DSP LOAD: not enough memory for the %s filters (512 MiB)", name);
      return -1;
    }
  }
  Relaxed<int32_t>* member = bank == LOADGEN_CPU ? &context->nCpuFilters : &context->nFpuFilters;
  member->value.store(amount, std::memory_order_release);
  return 0;
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
  // Acquire: a bank built after the run began is seen whole with its amount.
  int32_t cpuUnits = context->nCpuFilters.value.load(std::memory_order_acquire);
  int32_t fpuUnits = context->nFpuFilters.value.load(std::memory_order_acquire);
  for (int32_t unit = cpuUnits; unit > 0; unit--)
    for (int i = 0; i < APP_LOADFILTERS; i++) LOADFILTER_ProcessInt(&context->cpuFilters[i], n);
  for (int32_t unit = fpuUnits; unit > 0; unit--)
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
