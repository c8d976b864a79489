// The test's statistics: counters and one history entry per buffer switch,
// built from the device manager's timing record. Platform-free.
#ifndef MB_TEST_STATISTICS_H
#define MB_TEST_STATISTICS_H

#include "app/appcontext.h"
#include "asio/asioman_types.h"

// The statistics step of each buffer, on the audio thread.
void UpdateStatistics(APPCONTEXT* context, const ASIOMAN_TIMING* timing);
// Before a run: empties the ring, clears every figure of the run and makes
// its summary due.
void ResetStatistics(APPCONTEXT* context);

// The history ring of APP_HISTORY_ENTRIES zeroed entries; nHistorySize is 0
// when it could not be allocated. Called at window creation and release.
int STATISTICS_AllocHistory(APPCONTEXT* context);
void STATISTICS_FreeHistory(APPCONTEXT* context);

#endif  // MB_TEST_STATISTICS_H
