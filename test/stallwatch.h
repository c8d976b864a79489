// Watches the stream of the device under test for buffers that stop coming:
// a stalled stream is the worst dropout there is, and a driver that stops
// calling back says nothing of it. Platform-free; GUI thread only, at every
// refresh tick while a run is running.
#ifndef MB_TEST_STALLWATCH_H
#define MB_TEST_STALLWATCH_H

#include <stdint.h>

struct APPCONTEXT;

// Counter times (ticks of the context's nPerfFrequency).
typedef struct STALLWATCH {
  int64_t qpcRunning;  // when the run's running line was logged
  int64_t qpcQuiet;    // the last switch (or the running line) before the open stall; 0 when none is open
  int32_t nStalls;     // stalls of the run, the open one included
  int64_t qpcLongest;  // the longest of them; an open one counts up to now
} STALLWATCH;

// From the running line on; the run has no stall yet.
void STALLWATCH_Start(APPCONTEXT* context, int64_t now);
// lastSwitch: the counter time of the driver's latest switch call, 0 when
// none came. Logs "DRIVER STALL: no buffer for ..." once when none has come
// for max(1 s, 4 buffer periods), and "DRIVER STALL: buffers again after ..."
// when one comes again.
void STALLWATCH_Tick(APPCONTEXT* context, int64_t now, int64_t lastSwitch);
// At the stop: a stall still open counts up to now.
void STALLWATCH_Stop(APPCONTEXT* context, int64_t now);

#endif  // MB_TEST_STALLWATCH_H
