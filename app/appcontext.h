// APPCONTEXT: the one global record of the application. Window handles, the
// text log, the options set by the menu, the stream parameters of the
// prepared device, the statistics and history ring written by the driver's
// audio thread, the sine generator and the load generators. Their records
// are declared beside the modules that own them.
//
// Platform-free: the Windows handles are the same pointer types that
// windows.h declares (STRICT handles), forward-declared here, so the test
// run's heart builds natively too.
#ifndef MB_APP_APPCONTEXT_H
#define MB_APP_APPCONTEXT_H

#include <stdint.h>

#include "app/commands.h"  // CMD_RESTART
#include "app/txtbuffer.h"
#include "asio/relaxed.h"
#include "test/distribution.h"
#include "test/loadgen.h"
#include "test/sinegen.h"
#include "test/stallwatch.h"
#include "test/statistics.h"
#include "ui/offscreen.h"

struct HWND__;
struct HINSTANCE__;
struct HFONT__;
typedef struct HWND__* APP_HWND;
typedef struct HINSTANCE__* APP_HINSTANCE;
typedef struct HFONT__* APP_HFONT;
struct ASIOMAN_DEVICE;  // only compared by address here

// Where the run under test stands, for the driver's recorded requests.
enum { RUN_NONE = 0, RUN_RUNNING = 1, RUN_STOPPED = 2 };

typedef struct APPCONTEXT {
  APP_HWND hwndMain;
  APP_HINSTANCE hInstance;
  uintptr_t nTimerId;
  Relaxed<int64_t> nPerfFrequency;  // read by incident lines on the audio thread
  Relaxed<int64_t> nPerfPerBuffer;
  APP_HFONT hFontMono;
  APP_HWND hLogView;
  Relaxed<float> fSineFrequency;  // above 1: sine frequency in Hz; 0: pass-through
  TXTBUFFER log;
  int32_t nIOLimit;
  int32_t nAsioDriver;
  Relaxed<int32_t> nSampleRate;
  Relaxed<int32_t> nBufferSize;
  Relaxed<int32_t> nInputs;
  Relaxed<int32_t> nOutputs;
  int32_t nWinDevice;
  int32_t nZoom;
  int32_t nPanelWidth;
  int32_t nPanelHeight;
  OFFSCREEN offscreen;

  // Load generators.
  LOADFILTER<int32_t> cpuFilters[APP_LOADFILTERS];
  LOADFILTER<float> fpuFilters[APP_LOADFILTERS];
  Relaxed<int32_t> nCpuFilters;
  Relaxed<int32_t> nFpuFilters;
  Relaxed<int32_t> nSingleCopies;
  Relaxed<int32_t> nPatches;
  Relaxed<int32_t> nBusCopies;
  int32_t* pCopySource;  // LOADGEN_COPY_BUFFERS buffers of nBufferSize samples
  int32_t* pCopyTarget;

  // Statistics, written by the audio thread, read by the status panel.
  Relaxed<int64_t> nBufferNumber;
  Relaxed<int64_t> nFirstCallbackTime;
  Relaxed<int64_t> nLastCallbackTime;
  Relaxed<int64_t> nPreviousCallbackTime;
  Relaxed<int32_t> nLoadOver50;
  Relaxed<int32_t> nLoadOver80;
  Relaxed<int32_t> nLoadOver100;
  HISTORYENTRY* pHistory;
  int32_t nHistorySize;  // 0 when the ring was not allocated
  Relaxed<int32_t> nHistoryWrite;
  Relaxed<int32_t> nTimingError10;
  Relaxed<int32_t> nTimingError20;
  Relaxed<int32_t> nTimingError50;
  Relaxed<int32_t> nTimingError100;
  Relaxed<int64_t> nProcMin;
  Relaxed<int64_t> nProcMax;
  Relaxed<float> fMegacyclesMin;
  Relaxed<float> fMegacyclesMax;
  Relaxed<int64_t> nDriverSamplePosition;
  Relaxed<int64_t> nDriverSystemTime;
  int32_t bSummaryDue;  // GUI thread: set by the running line, cleared when the run's summary is logged
  SINEGEN sine;

  // The run's distributions, run blocks like the sine table: filled by the
  // audio thread under the run gate, read by the summary at close. The
  // processing time of every buffer the run processed (with the megacycles
  // of its smallest and largest), and every callback interval that a timing
  // error was computed from.
  DISTRIBUTION* pLoadDistribution;
  DISTRIBUTION* pIntervalDistribution;
  float fMegacyclesAtRunMin;
  float fMegacyclesAtRunMax;

  // GUI thread: the stream of the run (the device manager's number of its
  // start), where the run stands, and its stalls.
  int32_t nRunStream;
  int32_t nRunState;
  STALLWATCH stall;

  // The run gate (asio/handoff.h): it keeps the per-run blocks and stream
  // parameters from being freed or changed under a buffer still being
  // processed. Buffers in processing right now, and the device whose
  // buffers the run processes (null while none may start).
  Relaxed<int32_t> nProcessing;
  Relaxed<const ASIOMAN_DEVICE*> pRunDevice;
  // Set by the test control while a run is not announced: from before its
  // open to its start line, and from before its stop line on. Its buffers
  // stand aside then, so none of their lines precede or follow the run's.
  Relaxed<int32_t> bRunHeld;
} APPCONTEXT;

// The application's record; lives from window creation to process exit.
extern APPCONTEXT g_appContext;

#endif  // MB_APP_APPCONTEXT_H
