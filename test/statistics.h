// The test's statistics: counters and one history entry per buffer switch,
// built from the device manager's timing record. Platform-free.
#ifndef MB_TEST_STATISTICS_H
#define MB_TEST_STATISTICS_H

#include <stdint.h>

#include "asio/asioman_types.h"
#include "asio/relaxed.h"

struct APPCONTEXT;

enum { APP_HISTORY_ENTRIES = 1048576 };

// One buffer switch. Written by the audio thread, read by the status panel.
typedef struct HISTORYENTRY {
  Relaxed<int64_t> nBuffer;
  Relaxed<int64_t> nTime;
  Relaxed<int64_t> nProcTicks;  // 0 until the next buffer fills it in
  Relaxed<float> fMegacycles;   // 0 until the next buffer fills it in
  Relaxed<float> fTimingError;  // percent off the nominal interval, negative when early
} HISTORYENTRY;
static_assert(sizeof(HISTORYENTRY) == 32, "history entries are 32 bytes");

// The statistics step of each buffer, on the audio thread.
void UpdateStatistics(APPCONTEXT* context, const ASIOMAN_TIMING* timing);
// Counts one processed buffer's time into the run's load distribution and
// extremes (audio thread, or the GUI thread at close for the run's last).
void STATISTICS_AddLoad(APPCONTEXT* context, int64_t ticks, float megacycles);
// At close: the run's last buffer, whose time no later buffer brought, when
// the manager's timing still describes it.
void STATISTICS_AddLastBuffer(APPCONTEXT* context, const ASIOMAN_TIMING* timing);

// Before a run: empties the ring and clears every figure of the run, its
// stalls included; its summary is due once it runs.
void ResetStatistics(APPCONTEXT* context);

// The history ring of APP_HISTORY_ENTRIES zeroed entries; nHistorySize is 0
// when it could not be allocated. Called at window creation and release.
int STATISTICS_AllocHistory(APPCONTEXT* context);
void STATISTICS_FreeHistory(APPCONTEXT* context);

#endif  // MB_TEST_STATISTICS_H
