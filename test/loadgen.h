// Load generators: banks of first-order recursive filters in integer and in
// floating-point arithmetic, and three buffer copy patterns, run on every
// buffer to add controlled work. Platform-free.
#ifndef MB_TEST_LOADGEN_H
#define MB_TEST_LOADGEN_H

#include <stddef.h>
#include <stdint.h>

struct APPCONTEXT;

enum { APP_LOADFILTERS = 128, LOADFILTER_TABLE_SAMPLES = 524288, LOADGEN_COPY_BUFFERS = 128 };

// A first-order recursive filter streaming through its own two tables.
// T is int32_t (Q15, 32767 is 1.0) for the integer bank, float for the
// floating-point bank. Touched only when its bank is built (before its amount
// is published), by the audio thread while a stream runs, and at release.
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

// One filter over two tables of LOADFILTER_TABLE_SAMPLES samples, every page
// of both written; the source is a sine of period 2*pi*period samples and
// amplitude k. 0 on success, -1 when a table could not be allocated (the
// record is left untouched).
int LOADFILTER_InitInt(LOADFILTER<int32_t>* filter, float period, float k);
int LOADFILTER_InitFloat(LOADFILTER<float>* filter, float period, float k);
void LOADFILTER_ProcessInt(LOADFILTER<int32_t>* filter, int32_t count);
void LOADFILTER_ProcessFloat(LOADFILTER<float>* filter, int32_t count);
void LOADFILTER_FreeInt(LOADFILTER<int32_t>* filter);
void LOADFILTER_FreeFloat(LOADFILTER<float>* filter);

// sin(x) and cos(x) for 0 <= x < 2^20, within an ulp or so of the C
// library's.
void LOADGEN_SineCosineOfPosition(double x, double* sine, double* cosine);

// The allocator of the filters' tables (malloc; they are released with
// free). Tests replace it to make a table fail.
extern void* (*g_pfnLoadTableAlloc)(size_t bytes);

// The two banks of APP_LOADFILTERS filters, 512 MiB each. A bank is built
// whole or not at all: when a table cannot be allocated, what was built of
// it is freed again and -1 returned. Released at the end of the program.
enum LOADGEN_BANK { LOADGEN_CPU, LOADGEN_FPU };
int LOADFILTER_BuildBank(APPCONTEXT* context, LOADGEN_BANK bank);
bool LOADFILTER_HasBank(const APPCONTEXT* context, LOADGEN_BANK bank);
void LOADFILTER_FreeBanks(APPCONTEXT* context);

// The GUI thread's choice of a CPU or FPU amount. The bank is built when an
// amount other than 0 is first chosen, before the amount is stored, and the
// build is logged; when the bank cannot be built the amount stays where it
// was and -1 is returned. The amount is published with the bank: the audio
// thread reads it with acquire, then the filters.
int LOADGEN_ChooseFilters(APPCONTEXT* context, LOADGEN_BANK bank, int32_t amount);

// The copy blocks of one run: LOADGEN_COPY_BUFFERS buffers of bufferSize
// samples each, zero-filled; a failed allocation leaves the pointer null.
void LOADGEN_AllocCopyBlocks(APPCONTEXT* context, int32_t bufferSize);
void LOADGEN_FreeCopyBlocks(APPCONTEXT* context);

// The per-buffer load, on the audio thread.
void RunLoadGenerators(APPCONTEXT* context);

#endif  // MB_TEST_LOADGEN_H
