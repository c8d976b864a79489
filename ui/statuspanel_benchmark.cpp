// Where one status panel tick goes, at the widest zoom over a 1 900-pixel
// panel with a full history ring.
#include <windows.h>

#include <stdio.h>

#include "app/appcontext.h"
#include "ui/qz2ctl.h"
#include "ui/statuscolumns.h"
#include "ui/statuspanel.h"

static LARGE_INTEGER s_frequency;
static double Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * (double)t.QuadPart / (double)s_frequency.QuadPart;
}

static STATUSPANEL_BAR s_loads[4096], s_errors[4096];

int main(void) {
  QueryPerformanceFrequency(&s_frequency);
  HINSTANCE instance = GetModuleHandleA(NULL);
  QZ2CTL_InitModule(instance);
  HWND hwnd = CreateWindowExA(0, "STATIC", "panel", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1940, 450, NULL, NULL,
                              instance, NULL);
  APPCONTEXT* context = &g_appContext;
  context->pHistory = (HISTORYENTRY*)calloc(APP_HISTORY_ENTRIES, sizeof(HISTORYENTRY));
  context->nHistorySize = APP_HISTORY_ENTRIES;
  for (int32_t i = 0; i < context->nHistorySize; i++) {
    context->pHistory[i].nProcTicks = (i * 7919) % 120000;
    context->pHistory[i].fTimingError = (float)((i * 104729) % 240 - 120);
  }
  context->nHistoryWrite = context->nHistorySize - 1;
  context->nPanelWidth = 1900;
  context->nPanelHeight = 330;
  context->nZoom = 15;
  context->nPerfFrequency = 10000000;
  context->nPerfPerBuffer = 100000;
  const int w = 1900, count = 50;
  HDC hdc = GetDC(hwnd);
  STATUSPANEL_Paint(hdc);

  double t0 = Now();
  for (int i = 0; i < count; i++) {
    STATUSPANEL_COLUMNS columns;
    STATUSPANEL_BeginColumns(&columns, context, w);
    for (int x = 0; x < w; x++) STATUSPANEL_NextColumn(&columns, x, &s_loads[x], &s_errors[x]);
  }
  double walk = (Now() - t0) / count;

  RECT rc = {10, 50, w + 10, 380};
  HDC memory = OFFSCREEN_Begin(&context->offscreen, hdc, &rc);
  t0 = Now();
  for (int i = 0; i < count; i++) {
    for (int x = 0; x < w; x++) {
      SelectObject(memory, QZ2CTL_GetPen(s_loads[x].nPen));
      MoveToEx(memory, x, 110, NULL);
      LineTo(memory, x, 110 - s_loads[x].nHeight);
      SelectObject(memory, QZ2CTL_GetPen(s_errors[x].nPen));
      MoveToEx(memory, x, 225, NULL);
      LineTo(memory, x, 225 - s_errors[x].nHeight);
    }
  }
  double bars = (Now() - t0) / count;
  OFFSCREEN_End(&context->offscreen, hdc, memory);

  HISTORYENTRY* ring = context->pHistory;
  context->pHistory = NULL;  // baselines and texts only
  t0 = Now();
  for (int i = 0; i < count; i++) STATUSPANEL_Paint(hdc);
  double texts = (Now() - t0) / count;
  context->pHistory = ring;

  context->nPerfFrequency = 0;  // the white frame and the copy only
  t0 = Now();
  for (int i = 0; i < count; i++) STATUSPANEL_Paint(hdc);
  double frame = (Now() - t0) / count;
  context->nPerfFrequency = 10000000;

  t0 = Now();
  for (int i = 0; i < count; i++) STATUSPANEL_Paint(hdc);
  double whole = (Now() - t0) / count;

  printf("panel %d px, 256 buffers a column, full ring, mean of %d\n", w, count);
  printf("whole tick                      %6.2f ms\n", whole);
  printf("column walk (ring reading)      %6.2f ms\n", walk);
  printf("bar GDI calls                   %6.2f ms\n", bars);
  printf("frame, baselines, texts, copy   %6.2f ms\n", texts);
  printf("frame and copy alone            %6.2f ms\n", frame);
  ReleaseDC(hwnd, hdc);
  DestroyWindow(hwnd);
  QZ2CTL_EndModule();
  return 0;
}
