// Where one status panel tick goes, at the widest zoom over a 1 900-pixel
// panel with a full history ring: the column-by-column walk with MoveToEx and
// LineTo beside the graphs kept from tick to tick, in the same run.
// Between two ticks 19 buffers arrive, as at 48 kHz and 256 samples.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/appcontext.h"
#include "ui/qz2ctl.h"
#include "ui/statuscolumns.h"
#include "ui/statuspanel.h"

static const int kWidth = 1900;
static const int kTicks = 100;
static const int64_t kPerBuffer = 100000;

static LARGE_INTEGER s_frequency;
static double Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * (double)t.QuadPart / (double)s_frequency.QuadPart;
}

// Buffers as the processing callback writes them: loads up to 120 % and
// timing errors of either sign.
static void Record(APPCONTEXT* context, int count) {
  static int64_t buffer = 0;
  HISTORYENTRY* ring = context->pHistory;
  for (int i = 0; i < count; i++) {
    int32_t write = context->nHistoryWrite;
    ring[write].nProcTicks = (buffer * 7919) % 120000;
    write = write + 1 == context->nHistorySize ? 0 : write + 1;
    buffer++;
    ring[write].nBuffer = buffer;
    ring[write].nTime = 1000000 + buffer * kPerBuffer;
    ring[write].fTimingError = (float)((buffer * 104729) % 240 - 120);
    ring[write].nProcTicks = 0;
    context->nHistoryWrite = write;
  }
}

// Mean milliseconds of one call of what, with 19 buffers recorded before each
// (not timed).
template <typename F>
static double Time(APPCONTEXT* context, F what) {
  double total = 0.0;
  for (int i = 0; i < kTicks; i++) {
    Record(context, 19);
    double t0 = Now();
    what();
    total += Now() - t0;
  }
  return total / kTicks;
}

int main(void) {
  QueryPerformanceFrequency(&s_frequency);
  HINSTANCE instance = GetModuleHandleA(NULL);
  QZ2CTL_InitModule(instance);
  HWND hwnd = CreateWindowExA(0, "STATIC", "panel", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, kWidth + 40, 450, NULL,
                              NULL, instance, NULL);
  APPCONTEXT* context = &g_appContext;
  context->pHistory = (HISTORYENTRY*)calloc(APP_HISTORY_ENTRIES, sizeof(HISTORYENTRY));
  if (!hwnd || !context->pHistory) return 1;
  context->nHistorySize = APP_HISTORY_ENTRIES;
  Record(context, APP_HISTORY_ENTRIES + 1000);
  context->nPanelWidth = kWidth;
  context->nPanelHeight = 330;
  context->nZoom = 15;
  context->nPerfFrequency = 10000000;
  context->nPerfPerBuffer = kPerBuffer;
  static STATUSPANEL_COLUMNCACHE cache;
  STATUSPANEL_ForgetColumns(&cache);
  STATUSPANEL_UpdateColumns(&cache, context, kWidth);

  HDC hdc = GetDC(hwnd);
  STATUSPANEL_Paint(hdc);
  double tick = Time(context, [&] { STATUSPANEL_Paint(hdc); });

  RECT rc = {10, 50, kWidth + 10, 380};
  HDC memory = OFFSCREEN_Begin(&context->offscreen, hdc, &rc);
  double walk = Time(context, [&] {
    STATUSPANEL_COLUMNS columns;
    STATUSPANEL_BAR load, error;
    if (STATUSPANEL_BeginColumns(&columns, context, kWidth) == 0)
      for (int x = 0; x < kWidth; x++) STATUSPANEL_NextColumn(&columns, x, &load, &error);
  });
  double walked = Time(context, [&] { STATUSPANEL_DrawWalkedColumns(memory, context, kWidth); });
  double update = Time(context, [&] { STATUSPANEL_UpdateColumns(&cache, context, kWidth); });
  static STATUSPANEL_GRAPHS graphs;
  STATUSPANEL_DrawGraphs(&graphs, memory, context, kWidth, 330);
  double kept = Time(context, [&] { STATUSPANEL_DrawGraphs(&graphs, memory, context, kWidth, 330); });
  double cold = Time(context, [&] {
    STATUSPANEL_ReleaseGraphs(&graphs);
    STATUSPANEL_ForgetColumns(&graphs.columns);
    STATUSPANEL_DrawGraphs(&graphs, memory, context, kWidth, 330);
  });
  context->nZoom = 6;  // x2: every column moves with every buffer
  double walkedX2 = Time(context, [&] { STATUSPANEL_DrawWalkedColumns(memory, context, kWidth); });
  STATUSPANEL_DrawGraphs(&graphs, memory, context, kWidth, 330);
  double keptX2 = Time(context, [&] { STATUSPANEL_DrawGraphs(&graphs, memory, context, kWidth, 330); });
  context->nZoom = 15;
  STATUSPANEL_ReleaseGraphs(&graphs);
  OFFSCREEN_End(&context->offscreen, hdc, memory);

  HISTORYENTRY* ring = context->pHistory;
  context->pHistory = NULL;  // frame, baselines, texts and the copies, no bars
  double frame = Time(context, [&] { STATUSPANEL_Paint(hdc); });
  context->pHistory = ring;

  printf("panel %d px, 256 buffers a column, full ring, 19 buffers between ticks, mean of %d\n", kWidth, kTicks);
  printf("walked, MoveToEx and LineTo per column:  %6.3f ms\n", walked);
  printf("  reading the ring (walk alone)          %6.3f ms\n", walk);
  printf("  GDI calls (the rest)                   %6.3f ms\n", walked - walk);
  printf("kept graphs, changed columns drawn:     %6.3f ms (%.1f %% of walked)\n", kept, 100.0 * kept / walked);
  printf("  reading the ring (remembered columns)  %6.3f ms\n", update);
  printf("kept graphs drawn afresh (first tick)    %6.3f ms\n", cold);
  printf("zoom x2: walked %.3f ms, kept graphs %.3f ms (%.1f %% of walked)\n", walkedX2, keptX2,
         100.0 * keptX2 / walkedX2);
  printf("frame, texts and copies, no bars          %6.3f ms\n", frame);
  printf("whole tick (STATUSPANEL_Paint)           %6.3f ms; with the walk it would be %.3f ms\n", tick,
         frame + walked);
  ReleaseDC(hwnd, hdc);
  DestroyWindow(hwnd);
  QZ2CTL_EndModule();
  free(ring);
  return 0;
}
