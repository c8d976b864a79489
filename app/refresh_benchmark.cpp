// Cost of one refresh tick of the main window (status panel, then the log
// view) in the worst case the program meets: a log of about 1 MiB that
// changed since the last tick, and the widest zoom (256 buffers a column)
// over a 1 900-pixel panel with a full history ring. Prints the mean and the
// worst tick beside the 100 ms period. Runs the real window in process.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "app/mainwindow.h"
#include "app/txtbuffer.h"
#include "ui/logview.h"
#include "ui/qz2ctl.h"
#include "ui/statuspanel.h"

static double Milliseconds(LONGLONG ticks, LONGLONG frequency) { return 1000.0 * (double)ticks / (double)frequency; }

static void FillLog(APPCONTEXT* context) {
  char line[128];
  int n = 0;
  while (context->log.nUsed < TXTBUFFER_CAPACITY - 4096) {
    snprintf(line, sizeof line, "Incident on frame +000.%03d.%03d DSP PEAK: 85 %% - 8.5 ms  / 25.5 megacycles", n / 1000,
             n % 1000);
    TXTBUFFER_AddLine(&context->log, line, "\r\n");
    n++;
  }
}

static void FillHistory(APPCONTEXT* context) {
  for (int32_t i = 0; i < context->nHistorySize; i++) {
    context->pHistory[i].nBuffer = i;
    context->pHistory[i].nTime = 1000000 + (int64_t)i * context->nPerfPerBuffer;
    context->pHistory[i].nProcTicks = (i * 7919) % 120000;
    context->pHistory[i].fTimingError = (float)((i * 104729) % 240 - 120);
  }
  context->nHistoryWrite = context->nHistorySize - 1;
}

static double TimeTicks(HWND hwnd, int count, bool changeLog, double* worst) {
  LARGE_INTEGER frequency, t0, t1;
  QueryPerformanceFrequency(&frequency);
  double total = 0.0;
  *worst = 0.0;
  for (int i = 0; i < count; i++) {
    if (changeLog) g_appContext.log.bChanged = 1;
    QueryPerformanceCounter(&t0);
    SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
    // The scroll to the last line that the refresh posts belongs to its cost.
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    QueryPerformanceCounter(&t1);
    double ms = Milliseconds(t1.QuadPart - t0.QuadPart, frequency.QuadPart);
    total += ms;
    if (ms > *worst) *worst = ms;
  }
  return total / count;
}

int main(void) {
  HINSTANCE instance = GetModuleHandleA(NULL);
  QZ2CTL_InitModule(instance);
  g_hInstance = instance;
  HWND hwnd = CreateMainWindow(instance, "refresh benchmark");
  if (!hwnd) return 1;
  SetWindowPos(hwnd, NULL, 0, 0, 1940, 900, SWP_NOMOVE | SWP_NOZORDER);
  APPCONTEXT* context = &g_appContext;
  context->nPanelWidth = 1900;
  context->nZoom = 15;
  context->nPerfFrequency = 10000000;
  context->nPerfPerBuffer = 100000;
  FillLog(context);
  FillHistory(context);
  // One tick takes the filled log and creates the panel's bitmap.
  SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
  MSG pending;
  while (PeekMessageA(&pending, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&pending);

  const int count = 20;
  double worst;
  double unchanged = TimeTicks(hwnd, count, false, &worst);
  printf("log %d bytes, panel %d px at %d buffers a column\n", (int)context->log.nUsed, (int)context->nPanelWidth, 256);
  printf("tick, log unchanged: mean %.2f ms, worst %.2f ms (%.1f %% of the 100 ms period)\n", unchanged, worst,
         unchanged);
  double changed = TimeTicks(hwnd, 5, true, &worst);
  printf("tick, log changed:   mean %.2f ms, worst %.2f ms (%.1f %% of the 100 ms period)\n", changed, worst, changed);
  LARGE_INTEGER frequency, t0, t1;
  QueryPerformanceFrequency(&frequency);
  HDC hdc = GetDC(hwnd);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < count; i++) STATUSPANEL_Paint(hdc);
  QueryPerformanceCounter(&t1);
  ReleaseDC(hwnd, hdc);
  printf("status panel alone: mean %.2f ms\n", Milliseconds(t1.QuadPart - t0.QuadPart, frequency.QuadPart) / count);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < 3; i++) {
    g_appContext.log.bChanged = 1;
    LOGVIEW_Refresh();
  }
  QueryPerformanceCounter(&t1);
  printf("log view alone (SetWindowTextA of the whole log): mean %.2f ms\n",
         Milliseconds(t1.QuadPart - t0.QuadPart, frequency.QuadPart) / 3);
  PostMessageA(hwnd, WM_COMMAND, CMD_QUIT, 0);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  QZ2CTL_EndModule();
  APPCONTEXT_Free();
  return 0;
}
