// The distribution of one figure over the buffers of a run (processing
// times, callback intervals, in counter ticks) for the run's percentiles.
// Values are kept in logarithmic bins: every value below 256 has a bin of its
// own, and above that 128 bins share each power of two, so no bin is wider
// than 1/128 of its smallest value and a percentile read from the bins is
// within 0.8 % of the exact one, whatever the range. Count, minimum and
// maximum are exact. Adding neither allocates, locks nor formats: the audio
// thread fills it while the run gate is open, the GUI thread reads it after
// the gate has closed. Platform-free.
#ifndef MB_TEST_DISTRIBUTION_H
#define MB_TEST_DISTRIBUTION_H

#include <stdint.h>

enum { DISTRIBUTION_BINS = 256 + 55 * 128 };

typedef struct DISTRIBUTION {
  int64_t nCount;
  int64_t nMin, nMax;  // 0 while nCount is 0
  int64_t nBins[DISTRIBUTION_BINS];
} DISTRIBUTION;

// Empties it, writing every bin: the pages are resident before the audio
// thread adds.
void DISTRIBUTION_Clear(DISTRIBUTION* distribution);
// A value below 0 counts as 0.
void DISTRIBUTION_Add(DISTRIBUTION* distribution, int64_t value);
// The smallest recorded value that at least perMille / 1000 of the values do
// not exceed, rounded down to its bin's lowest value (and kept within the
// exact minimum and maximum); 0 when empty.
int64_t DISTRIBUTION_Percentile(const DISTRIBUTION* distribution, int32_t perMille);

#endif  // MB_TEST_DISTRIBUTION_H
