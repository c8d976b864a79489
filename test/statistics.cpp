#include "test/statistics.h"

#include <stdlib.h>

#include "app/appcontext.h"
#include "test/reports.h"

namespace {

// Percent of the nominal interval n by which the interval d was off,
// negative when early; single precision from the two integer differences.
float TimingErrorPercent(int64_t d, int64_t n) {
  if (n <= 0 || d == n) return 0.0f;
  if (d > n) return (float)(d - n) * 100.0f / (float)n;
  return -((float)(n - d) * 100.0f / (float)n);
}

bool IsOff(int64_t d, int64_t n, int64_t threshold) { return d < n - threshold || d > n + threshold; }

void CountTimingErrors(APPCONTEXT* context, int64_t d, const ASIOMAN_TIMING* timing) {
  int64_t n = timing->qpcPeriod;
  if (IsOff(d, n, timing->qpcThreshold10)) context->nTimingError10 += 1;
  if (IsOff(d, n, timing->qpcThreshold20)) context->nTimingError20 += 1;
  if (IsOff(d, n, timing->qpcThreshold50)) context->nTimingError50 += 1;
  if (IsOff(d, n, timing->qpcThreshold100)) context->nTimingError100 += 1;
}

int32_t LowWord(int64_t value) { return (int32_t)(uint32_t)(uint64_t)value; }

void ClearEntry(HISTORYENTRY* entry) {
  entry->nBuffer = 0;
  entry->nTime = 0;
  entry->nProcTicks = 0;
  entry->fMegacycles = 0.0f;
  entry->fTimingError = 0.0f;
}

}  // namespace

void UpdateStatistics(APPCONTEXT* context, const ASIOMAN_TIMING* timing) {
  int64_t switchStart = timing->qpcSwitchStart;
  int64_t process = timing->qpcProcess;
  float megacycles = timing->fMegaCycles;

  context->nLastCallbackTime = switchStart;
  context->nFirstCallbackTime = (int64_t)timing->qpcStreamStart;
  context->nProcMin = (int64_t)timing->qpcProcessMin;
  context->nProcMax = (int64_t)timing->qpcProcessMax;
  context->fMegacyclesMin = (float)timing->fMegaCyclesMin;
  context->fMegacyclesMax = (float)timing->fMegaCyclesMax;
  context->nLoadOver50 = LowWord(timing->nOver50);
  context->nLoadOver80 = LowWord(timing->nOver80);
  context->nLoadOver100 = LowWord(timing->nOver100);
  context->nBufferNumber = (int64_t)timing->nLastSwitch;

  float timingError = 0.0f;
  int64_t previous = context->nPreviousCallbackTime;
  if (previous > 0) {
    int64_t d = switchStart - previous;
    CountTimingErrors(context, d, timing);
    timingError = TimingErrorPercent(d, timing->qpcPeriod);
    // The previous switch was the run's: its time is complete now.
    STATISTICS_AddLoad(context, process, megacycles);
    if (context->pIntervalDistribution != NULL) DISTRIBUTION_Add(context->pIntervalDistribution, d);
  }

  int32_t size = context->nHistorySize;
  if (size > 0 && context->pHistory != NULL) {
    int32_t write = context->nHistoryWrite;
    if (write < 0 || write >= size) write = 0;
    HISTORYENTRY* completed = &context->pHistory[write];
    if (completed->nTime == 0) {
      completed->fTimingError = 0.0f;
      completed->nTime = switchStart;
    }
    completed->nProcTicks = process;
    completed->fMegacycles = megacycles;
    if (process > timing->qpcThreshold80) LogIncident(context, completed);

    write = write + 1 == size ? 0 : write + 1;
    HISTORYENTRY* entry = &context->pHistory[write];
    entry->nBuffer = (int64_t)timing->nLastSwitch;
    entry->nTime = switchStart;
    entry->fTimingError = timingError;
    entry->nProcTicks = 0;
    entry->fMegacycles = 0.0f;
    context->nHistoryWrite = write;
  }

  context->nPreviousCallbackTime = switchStart;
}

void STATISTICS_AddLoad(APPCONTEXT* context, int64_t ticks, float megacycles) {
  DISTRIBUTION* load = context->pLoadDistribution;
  if (load == NULL) return;
  if (load->nCount == 0 || ticks < load->nMin) context->fMegacyclesAtRunMin = megacycles;
  if (load->nCount == 0 || ticks > load->nMax) context->fMegacyclesAtRunMax = megacycles;
  DISTRIBUTION_Add(load, ticks);
}

void STATISTICS_AddLastBuffer(APPCONTEXT* context, const ASIOMAN_TIMING* timing) {
  int64_t last = context->nBufferNumber;
  if (last > 0 && (int64_t)timing->nLastSwitch == last)
    STATISTICS_AddLoad(context, (int64_t)timing->qpcProcess, (float)timing->fMegaCycles);
}

void ResetStatistics(APPCONTEXT* context) {
  if (context->pHistory != NULL)
    for (int32_t i = 0; i < context->nHistorySize; i++) ClearEntry(&context->pHistory[i]);
  // Every figure the panel shows goes: a run that never delivers a buffer
  // must not show the previous run's times, extremes or driver times.
  context->nPreviousCallbackTime = 0;
  context->nFirstCallbackTime = 0;
  context->nLastCallbackTime = 0;
  context->nProcMin = 0;
  context->nProcMax = 0;
  context->fMegacyclesMin = 0.0f;
  context->fMegacyclesMax = 0.0f;
  context->nDriverSamplePosition = 0;
  context->nDriverSystemTime = 0;
  context->nHistoryWrite = 0;
  context->nTimingError10 = 0;
  context->nTimingError20 = 0;
  context->nTimingError50 = 0;
  context->nTimingError100 = 0;
  context->nBufferNumber = 0;
  context->nLoadOver50 = 0;
  context->nLoadOver80 = 0;
  context->nLoadOver100 = 0;
  context->bSummaryDue = 0;
  context->stall = STALLWATCH();
}

int STATISTICS_AllocHistory(APPCONTEXT* context) {
  // calloc gives zeroed memory; the entries are plain atomics of the same
  // widths, for which all-zero bytes are the value zero.
  context->pHistory = (HISTORYENTRY*)calloc(APP_HISTORY_ENTRIES, sizeof(HISTORYENTRY));
  context->nHistorySize = context->pHistory != NULL ? APP_HISTORY_ENTRIES : 0;
  context->nHistoryWrite = 0;
  return context->pHistory != NULL ? 0 : -1;
}

void STATISTICS_FreeHistory(APPCONTEXT* context) {
  free(context->pHistory);
  context->pHistory = NULL;
  context->nHistorySize = 0;
  context->nHistoryWrite = 0;
}
