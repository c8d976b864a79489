// Load generators: banks of first-order recursive filters in integer and in
// floating-point arithmetic, and three buffer copy patterns, run on every
// buffer to add controlled work. Platform-free.
#ifndef MB_TEST_LOADGEN_H
#define MB_TEST_LOADGEN_H

#include <stdint.h>

struct APPCONTEXT;

enum { APP_LOADFILTERS = 128, LOADFILTER_TABLE_SAMPLES = 524288, LOADGEN_COPY_BUFFERS = 128 };

// A first-order recursive filter streaming through its own two tables.
// T is int32_t (Q15, 32767 is 1.0) for the integer bank, float for the
// floating-point bank. Touched only at creation, by the audio thread while a
// stream runs, and at release.
template <typename T>
struct LOADFILTER {
  T nState;
  T nCoef;
  T nGain;
  T* pSourceEnd;
  T* pTargetEnd;
  T* pSourceStart;
  T* pTargetStart;
  T* pRead;
  T* pWrite;
};

// One filter over two tables of LOADFILTER_TABLE_SAMPLES samples; the source
// is a sine of period 2*pi*period samples and amplitude k. 0 on success, -1
// when a table could not be allocated (the record is left untouched).
int LOADFILTER_InitInt(LOADFILTER<int32_t>* filter, float period, float k);
int LOADFILTER_InitFloat(LOADFILTER<float>* filter, float period, float k);
void LOADFILTER_ProcessInt(LOADFILTER<int32_t>* filter, int32_t count);
void LOADFILTER_ProcessFloat(LOADFILTER<float>* filter, int32_t count);
void LOADFILTER_FreeInt(LOADFILTER<int32_t>* filter);
void LOADFILTER_FreeFloat(LOADFILTER<float>* filter);

// sin(x) for 0 <= x < 2^20, within an ulp or so of the C library's.
double LOADGEN_SineOfPosition(double x);

// The two banks of APP_LOADFILTERS filters, built once at window creation
// and released at the end of the program.
void LOADFILTER_BuildBanks(APPCONTEXT* context);
void LOADFILTER_FreeBanks(APPCONTEXT* context);

// The copy blocks of one run: LOADGEN_COPY_BUFFERS buffers of bufferSize
// samples each, zero-filled; a failed allocation leaves the pointer null.
void LOADGEN_AllocCopyBlocks(APPCONTEXT* context, int32_t bufferSize);
void LOADGEN_FreeCopyBlocks(APPCONTEXT* context);

// The per-buffer load, on the audio thread.
void RunLoadGenerators(APPCONTEXT* context);

#endif  // MB_TEST_LOADGEN_H
