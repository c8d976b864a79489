// APPCONTEXT: the one global record of the application. Window handles, the
// text log, the options set by the menu, the stream parameters of the
// prepared device, the statistics and history ring written by the driver's
// audio thread, the sine generator and the load generators.
//
// Platform-free: the Windows handles are the same pointer types that
// windows.h declares (STRICT handles), forward-declared here, so the test
// run's heart builds natively too.
#ifndef MB_APP_APPCONTEXT_H
#define MB_APP_APPCONTEXT_H

#include <stdint.h>

#include "app/txtbuffer.h"
#include "asio/relaxed.h"

struct HWND__;
struct HINSTANCE__;
struct HFONT__;
struct HBITMAP__;
typedef struct HWND__* APP_HWND;
typedef struct HINSTANCE__* APP_HINSTANCE;
typedef struct HFONT__* APP_HFONT;
typedef struct HBITMAP__* APP_HBITMAP;
typedef void* APP_HGDIOBJ;

enum {
  APP_HISTORY_ENTRIES = 1048576,
  APP_LOADFILTERS = 128,
  LOADFILTER_TABLE_SAMPLES = 524288,
  LOADGEN_COPY_BUFFERS = 128,
  CMD_RESTART = 12
};

// One buffer switch. Written by the audio thread, read by the status panel.
typedef struct HISTORYENTRY {
  Relaxed<int64_t> nBuffer;
  Relaxed<int64_t> nTime;
  Relaxed<int64_t> nProcTicks;  // 0 until the next buffer fills it in
  Relaxed<float> fMegacycles;   // 0 until the next buffer fills it in
  Relaxed<float> fTimingError;  // percent off the nominal interval, negative when early
} HISTORYENTRY;
static_assert(sizeof(HISTORYENTRY) == 32, "history entries are 32 bytes");

typedef struct SINEGEN {
  float fTableFrequency;
  Relaxed<float> fFrequency;  // set by the menu, read per buffer
  int32_t* pTable;            // exactly one period, nLength samples
  int32_t nLength;
  float fPhase;  // audio thread only
} SINEGEN;

// A first-order recursive filter streaming through its own two tables.
// T is int32_t (Q15, 32767 is 1.0) for the integer bank, float for the
// floating-point bank. Touched only at creation, by the audio thread while a
// stream runs, and at release.
template <typename T>
struct LOADFILTER {
  T nState;
  T nCoef;
  T nGain;
  T* pSourceEnd;
  T* pTargetEnd;
  T* pSourceStart;
  T* pTargetStart;
  T* pRead;
  T* pWrite;
};

typedef struct APP_RECT {
  int32_t left, top, right, bottom;
} APP_RECT;

// The status panel's off-screen surface.
typedef struct OFFSCREEN {
  APP_HBITMAP hBitmap;
  APP_RECT rcDest;
  int32_t nWidth, nHeight;
  APP_HGDIOBJ hOldObject;
} OFFSCREEN;

struct APPCONTEXT;

// How the audio thread reaches the main window: posts WM_COMMAND with the
// command identifier and lParam. StartTest installs the Windows poster when
// none is set; native tests put a recorder here.
typedef void (*APP_POSTCOMMAND)(struct APPCONTEXT* context, int32_t command, intptr_t lParam);

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
  int32_t bSummaryDue;  // GUI thread: set by ResetStatistics, cleared when the run's summary is logged
  SINEGEN sine;

  // Platform seam and the guard that keeps StopTest from freeing the
  // per-run blocks under a buffer that is still being processed.
  APP_POSTCOMMAND pfnPostCommand;
  Relaxed<int32_t> bProcessing;
} APPCONTEXT;

// The application's record; lives from window creation to process exit.
extern APPCONTEXT g_appContext;

#endif  // MB_APP_APPCONTEXT_H
