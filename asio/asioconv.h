// Sample conversion between a driver's sample types and the internal format:
// signed 24-bit values held in 32-bit integers (full scale +-8 388 607).
// One loop per type and direction, looked up once per channel at prepare, so
// the buffer switch never branches on the type. Platform-free.
#ifndef MB_ASIO_ASIOCONV_H
#define MB_ASIO_ASIOCONV_H

#include <stddef.h>
#include <stdint.h>

#include "asio/asio_types.h"

// Converts nSamples between a driver half-buffer and an internal block: an
// input conversion reads pDriver and writes pBlock, an output conversion reads
// pBlock and writes pDriver. Neither buffer needs any alignment.
typedef void (*ASIOMAN_CONVERTFN)(void* pDriver, int32_t* pBlock, size_t nSamples);
// The same loop over nChannels consecutive channels of one type: channel c
// between pInfos[c].buffers[nHalf] and pBlock + c * nSamples. The switch makes
// one call per run of such channels, so the loop's set-up is paid once a run.
typedef void (*ASIOMAN_CONVERTRUNFN)(const ASIOBufferInfo* pInfos, int32_t nChannels, int32_t nHalf,
                                     int32_t* pBlock, size_t nSamples);

// Never null: a type without an input conversion gets a loop that leaves the
// block as it was, one without an output conversion either a zero fill or
// (DSD and unknown types) a loop that writes nothing.
ASIOMAN_CONVERTFN ASIOMAN_GetInputConversion(ASIOSampleType type);
ASIOMAN_CONVERTFN ASIOMAN_GetOutputConversion(ASIOSampleType type);
ASIOMAN_CONVERTRUNFN ASIOMAN_GetInputRun(ASIOSampleType type);
ASIOMAN_CONVERTRUNFN ASIOMAN_GetOutputRun(ASIOSampleType type);
// The code an input channel of this type records at every switch because it
// has no conversion; 0 for the types that convert, and for DSD and unknown.
int32_t ASIOMAN_GetInputConversionError(ASIOSampleType type);

// The loops above are AVX2 ones for the hottest types where the CPU and the
// OS run AVX2 (found out once), else the x86-64 baseline ones; both sets give
// the same bytes for every input. Either set can be asked for by name, which
// lets the tests hold one against the other; an AVX2 request on a build
// without the AVX2 loops gets the baseline ones.
enum ASIOMAN_LOOPS { ASIOMAN_LOOPS_BASELINE, ASIOMAN_LOOPS_AVX2 };
bool ASIOMAN_CanRunAvx2Loops(void);
ASIOMAN_CONVERTFN ASIOMAN_GetInputConversionOf(ASIOMAN_LOOPS loops, ASIOSampleType type);
ASIOMAN_CONVERTFN ASIOMAN_GetOutputConversionOf(ASIOMAN_LOOPS loops, ASIOSampleType type);
ASIOMAN_CONVERTRUNFN ASIOMAN_GetInputRunOf(ASIOMAN_LOOPS loops, ASIOSampleType type);
ASIOMAN_CONVERTRUNFN ASIOMAN_GetOutputRunOf(ASIOMAN_LOOPS loops, ASIOSampleType type);

#endif  // MB_ASIO_ASIOCONV_H
