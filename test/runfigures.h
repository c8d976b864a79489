// The figures of a run as the status panel prints them, shared by the panel
// and by the summary line that the test run logs when a run is closed, so
// both read alike. Platform-free; GUI thread (it formats with the C library).
#ifndef MB_TEST_RUNFIGURES_H
#define MB_TEST_RUNFIGURES_H

#include <stdint.h>

struct APPCONTEXT;

// "hh:mm:ss" between two counter times, hours not limited to two digits;
// 00:00:00 without a frequency or when last is before first.
void RUNFIGURES_FormatRunningTime(char* out, int outSize, int64_t first, int64_t last, int64_t frequency);

// "2.1 % (0.4 mc)": a processing time in percent of one buffer, and its
// processor megacycles.
void RUNFIGURES_FormatLoad(char* out, int outSize, int64_t ticks, int64_t perBuffer, float megacycles);

// "RUN SUMMARY: ..." with the context's figures.
void RUNFIGURES_FormatSummary(char* out, int outSize, const APPCONTEXT* context);

// "RUN DISTRIBUTION: ...": percentiles of the run's processing times and
// callback intervals; the context's two distributions must exist.
void RUNFIGURES_FormatDistribution(char* out, int outSize, const APPCONTEXT* context);

// Logs the summary line once per run, and only for a run that was running
// (bSummaryDue, set with its running line); the distribution line follows
// when the run processed a buffer.
void RUNFIGURES_LogSummary(APPCONTEXT* context);

#endif  // MB_TEST_RUNFIGURES_H
