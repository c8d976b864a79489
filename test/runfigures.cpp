#include "test/runfigures.h"

#include <stdio.h>

#include "app/appcontext.h"
#include "app/txtbuffer.h"
#include "test/reports.h"

void RUNFIGURES_FormatRunningTime(char* out, int outSize, int64_t first, int64_t last, int64_t frequency) {
  int64_t seconds64 = frequency > 0 ? (last - first) / frequency : 0;
  int32_t seconds = seconds64 < 0 || seconds64 > INT32_MAX ? 0 : (int32_t)seconds64;
  int32_t hours = seconds / 3600;
  int32_t minutes = (seconds - 3600 * hours) / 60;
  snprintf(out, (size_t)outSize, "%02i:%02i:%02i", hours, minutes, seconds - 3600 * hours - 60 * minutes);
}

void RUNFIGURES_FormatLoad(char* out, int outSize, int64_t ticks, int64_t perBuffer, float megacycles) {
  double percent = perBuffer != 0 ? (double)ticks * 100.0 / (double)perBuffer : 0.0;
  snprintf(out, (size_t)outSize, "%0.1f %% (%0.1f mc)", percent, (double)megacycles);
}

void RUNFIGURES_FormatSummary(char* out, int outSize, const APPCONTEXT* context) {
  char time[32];
  char buffers[FORMATGROUPED_SIZE];
  char minimum[64];
  char maximum[64];
  int64_t perBuffer = context->nPerfPerBuffer;
  RUNFIGURES_FormatRunningTime(time, sizeof time, context->nFirstCallbackTime, context->nLastCallbackTime,
                               context->nPerfFrequency);
  FormatGroupedInt64(context->nBufferNumber, buffers, 0);
  // The run's own extremes, not the relaxed ones that the panel shows.
  const DISTRIBUTION* load = context->pLoadDistribution;
  bool any = load != NULL && load->nCount > 0;
  RUNFIGURES_FormatLoad(minimum, sizeof minimum, any ? load->nMin : 0, perBuffer,
                        any ? context->fMegacyclesAtRunMin : 0.0f);
  RUNFIGURES_FormatLoad(maximum, sizeof maximum, any ? load->nMax : 0, perBuffer,
                        any ? context->fMegacyclesAtRunMax : 0.0f);
  int64_t frequency = context->nPerfFrequency;
  double longest = frequency > 0 ? (double)context->stall.qpcLongest / (double)frequency : 0.0;
  snprintf(out, (size_t)outSize,
           "RUN SUMMARY: %s / buffers: %s / DSP LOAD >50%%: %i >80%%: %i >100%%: %i / MIN: %s MAX: %s / "
           "TIMING ERROR 10%%: %i 20%%: %i 50%%: %i 100%%: %i / STALLS: %i (longest %0.1f s)",
           time, buffers, (int)context->nLoadOver50, (int)context->nLoadOver80, (int)context->nLoadOver100, minimum,
           maximum, (int)context->nTimingError10, (int)context->nTimingError20, (int)context->nTimingError50,
           (int)context->nTimingError100, (int)context->stall.nStalls, longest);
}

void RUNFIGURES_FormatDistribution(char* out, int outSize, const APPCONTEXT* context) {
  const DISTRIBUTION* load = context->pLoadDistribution;
  const DISTRIBUTION* interval = context->pIntervalDistribution;
  double perBuffer = (double)(int64_t)context->nPerfPerBuffer;
  double frequency = (double)(int64_t)context->nPerfFrequency;
  double percent = perBuffer > 0 ? 100.0 / perBuffer : 0.0;
  double ms = frequency > 0 ? 1000.0 / frequency : 0.0;
  snprintf(out, (size_t)outSize,
           "RUN DISTRIBUTION: DSP LOAD p50: %0.1f %% p99: %0.1f %% p99.9: %0.1f %% / CALLBACK INTERVAL MIN: %0.2f ms "
           "p0.1: %0.2f ms p50: %0.2f ms p99.9: %0.2f ms MAX: %0.2f ms",
           (double)DISTRIBUTION_Percentile(load, 500) * percent, (double)DISTRIBUTION_Percentile(load, 990) * percent,
           (double)DISTRIBUTION_Percentile(load, 999) * percent, (double)interval->nMin * ms,
           (double)DISTRIBUTION_Percentile(interval, 1) * ms, (double)DISTRIBUTION_Percentile(interval, 500) * ms,
           (double)DISTRIBUTION_Percentile(interval, 999) * ms, (double)interval->nMax * ms);
}

void RUNFIGURES_LogSummary(APPCONTEXT* context) {
  // Due from the running line on: a run that processed no buffer logs its
  // zeros, which say that the stream never delivered.
  if (!context->bSummaryDue) return;
  context->bSummaryDue = 0;
  char line[512];
  RUNFIGURES_FormatSummary(line, sizeof line, context);
  LogLine(context, "%s", line);
  const DISTRIBUTION* load = context->pLoadDistribution;
  if (load == NULL || context->pIntervalDistribution == NULL || load->nCount == 0) return;
  RUNFIGURES_FormatDistribution(line, sizeof line, context);
  LogLine(context, "%s", line);
}
