// The platform-free steps of the buffer switch: choosing each channel's
// conversion at prepare, converting every channel, and the timing statistics.
// The manager's switch calls these between its counter readings.
#ifndef MB_ASIO_ASIOSWITCH_H
#define MB_ASIO_ASIOSWITCH_H

#include <stddef.h>
#include <stdint.h>

#include "asio/asioman_types.h"

// Fills the conversion runs and nConversionError from channelInfos, for the
// nInputs + nOutputs entries of bufferInfos.
void ASIOMAN_PrepareConversions(ASIOMAN_DEVICE* pDevice);
// Converts every input of half-buffer nHalfBuffer (0 or 1) into pInputBlock
// and every output block into the driver's half-buffer. Returns the input
// conversion error code of the preparation, 0 when every input converted.
int32_t ASIOMAN_ConvertChannels(ASIOMAN_DEVICE* pDevice, int32_t nHalfBuffer);
// Steps the relaxed minimum and maximum towards the last switch's processing
// time (counter ticks) and time-stamp cycles, and counts the overruns.
void ASIOMAN_UpdateStatistics(ASIOMAN_TIMING* pTiming, int64_t qpcProcess, uint64_t nCycles);
// Relaxation of the processing-time extremes per switch: frequency / (20 r^2)
// with r = rate / buffer size, at least 1 tick.
int64_t ASIOMAN_RelaxStep(int64_t qpcFrequency, uint32_t nSampleRate, int32_t nBufferSize);

// Replaces every control byte (0x01 to 0x1F, and 0x7F) of a text a driver
// filled, up to its terminator or size, by '?': a driver's text reaches the
// log, where a line end or an escape sequence would break its lines.
void ASIOMAN_MakePrintable(char* text, size_t nSize);

#endif  // MB_ASIO_ASIOSWITCH_H
