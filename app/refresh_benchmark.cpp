// Cost of one refresh tick of the main window (status panel, then the log
// view) in the worst case the program meets: a log of about 1 MiB that gains
// 100 lines between two ticks, and the widest zoom (256 buffers a column)
// over a 1 900-pixel panel with a full history ring. Prints the mean and the
// worst tick beside the 100 ms period, the one-time first fill of the whole
// log beside them, and what a changed tick is made of. Runs the real window
// in process.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "app/mainwindow.h"
#include "app/txtbuffer.h"
#include "ui/logview.h"
#include "ui/qz2ctl.h"
#include "ui/statuspanel.h"

static double Milliseconds(LONGLONG ticks, LONGLONG frequency) { return 1000.0 * (double)ticks / (double)frequency; }

static void FormatIncident(char* line, size_t size, int n) {
  snprintf(line, size, "Incident on frame +000.%03d.%03d DSP PEAK: 85 %% - 8.5 ms  / 25.5 megacycles", n / 1000 % 1000,
           n % 1000);
}

static void AddIncidentLines(APPCONTEXT* context, int count) {
  static int n;
  char line[128];
  for (int i = 0; i < count; i++, n++) {
    FormatIncident(line, sizeof line, n);
    TXTBUFFER_AddLine(&context->log, line, "\r\n");
  }
}

// Leaves room for every tick of the run to add its lines.
static void FillLog(APPCONTEXT* context, int room) {
  while (context->log.nUsed < TXTBUFFER_CAPACITY - room) AddIncidentLines(context, 1);
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

enum { LINES_PER_TICK = 100, CHANGED_TICKS = 5 };

// The scroll to the last line that the refresh posts belongs to its cost.
static void DispatchPending(void) {
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

struct TIMING {
  double total, worst, cpu;
  int count;
};

// This thread's processor time: on a shared machine the wall clock also
// counts the time other programs held the processor.
static double ThreadMilliseconds(void) {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

static void Measure(TIMING* timing, void (*step)(HWND), HWND hwnd) {
  LARGE_INTEGER frequency, t0, t1;
  QueryPerformanceFrequency(&frequency);
  double cpu = ThreadMilliseconds();
  QueryPerformanceCounter(&t0);
  step(hwnd);
  DispatchPending();
  QueryPerformanceCounter(&t1);
  timing->cpu += ThreadMilliseconds() - cpu;
  double ms = Milliseconds(t1.QuadPart - t0.QuadPart, frequency.QuadPart);
  timing->total += ms;
  if (ms > timing->worst) timing->worst = ms;
  timing->count++;
}

static void Tick(HWND hwnd) { SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0); }
static void PaintPanel(HWND hwnd) {
  HDC hdc = GetDC(hwnd);
  STATUSPANEL_Paint(hdc);
  ReleaseDC(hwnd, hdc);
}
static void RefreshLogView(HWND) { LOGVIEW_Refresh(); }

// The split of a changed tick's cost, each part on its own, on the view as
// the ticks left it: 100 lines appended the way the view appended before
// (each of the control's scroll-bar changes drawn at once, the old text
// scrolled), the same lines appended to the hidden view (the control's layout
// of the new lines, nothing drawn), one paint of the view's text, one scroll
// bar drawn. The lines go to the view only, not to the log.
static char s_lines[LINES_PER_TICK * 128];
static void MakeLines(void) {
  static int n;
  char* end = s_lines;
  char line[128];
  for (int i = 0; i < LINES_PER_TICK; i++, n++) {
    FormatIncident(line, sizeof line, n);
    end += snprintf(end, 128, "#%04d %s\r\n", n % 10000, line);
  }
}
static void AppendLines(HWND view) {
  LRESULT length = SendMessageA(view, WM_GETTEXTLENGTH, 0, 0);
  SendMessageA(view, EM_SETSEL, (WPARAM)length, (LPARAM)length);
  SendMessageA(view, EM_REPLACESEL, FALSE, (LPARAM)s_lines);
}
static void AppendEveryChangeDrawn(HWND view) {
  AppendLines(view);
  PostMessageA(view, WM_VSCROLL, SB_BOTTOM, 0);
}
static void PaintText(HWND view) {
  InvalidateRect(view, NULL, TRUE);
  UpdateWindow(view);
}
static void DrawScrollBar(HWND view) {
  SCROLLINFO info = {sizeof info, SIF_PAGE | SIF_POS | SIF_RANGE, 0, 0, 0, 0, 0};
  GetScrollInfo(view, SB_VERT, &info);
  SetScrollInfo(view, SB_VERT, &info, TRUE);
}

static void Print(const char* what, const TIMING* timing) {
  double mean = timing->total / timing->count;
  printf("%-44s mean %8.2f ms, worst %8.2f ms (%5.1f %% of the 100 ms period), processor %8.2f ms\n", what, mean,
         timing->worst, mean, timing->cpu / timing->count);
}

int main(void) {
  HINSTANCE instance = GetModuleHandleA(NULL);
  QZ2CTL_InitModule(instance);
  g_hInstance = instance;
  HWND hwnd = CreateMainWindow(instance, "refresh benchmark");
  if (!hwnd) return 1;
  SetWindowPos(hwnd, NULL, 0, 0, 1940, 900, SWP_NOMOVE | SWP_NOZORDER);
  // Every tick measured is one this program sends.
  KillTimer(hwnd, IDT_REFRESH);
  APPCONTEXT* context = &g_appContext;
  context->nPanelWidth = 1900;
  context->nZoom = 15;
  context->nPerfFrequency = 10000000;
  context->nPerfPerBuffer = 100000;
  FillHistory(context);
  // One tick creates the panel's bitmap.
  Tick(hwnd);
  DispatchPending();
  TIMING small = {}, first = {}, unchanged = {}, changed = {}, panel = {}, append = {};
  // The baseline: the same appends to a log that has only just begun.
  for (int i = 0; i < CHANGED_TICKS; i++) {
    AddIncidentLines(context, LINES_PER_TICK);
    Measure(&small, RefreshLogView, hwnd);
  }
  FillLog(context, 2 * CHANGED_TICKS * LINES_PER_TICK * 96);
  HWND view = (HWND)context->hLogView;
  // A view that holds no prefix of the log takes the whole text at once.
  SetWindowTextA(view, "");
  context->log.bChanged = 1;
  Measure(&first, RefreshLogView, hwnd);
  printf("log %d bytes, panel %d px at %d buffers a column\n", (int)context->log.nUsed, (int)context->nPanelWidth, 256);
  for (int i = 0; i < 20; i++) Measure(&unchanged, Tick, hwnd);
  for (int i = 0; i < 20; i++) Measure(&panel, PaintPanel, hwnd);
  for (int i = 0; i < CHANGED_TICKS; i++) {
    AddIncidentLines(context, LINES_PER_TICK);
    Measure(&changed, Tick, hwnd);
  }
  for (int i = 0; i < CHANGED_TICKS; i++) {
    AddIncidentLines(context, LINES_PER_TICK);
    Measure(&append, RefreshLogView, hwnd);
  }
  int length = (int)SendMessageA(view, WM_GETTEXTLENGTH, 0, 0);
  TIMING before = {}, layout = {}, paint = {}, bar = {};
  for (int i = 0; i < CHANGED_TICKS; i++) {
    MakeLines();
    Measure(&before, AppendEveryChangeDrawn, view);
  }
  for (int i = 0; i < CHANGED_TICKS; i++) Measure(&paint, PaintText, view);
  for (int i = 0; i < CHANGED_TICKS; i++) Measure(&bar, DrawScrollBar, view);
  ShowWindow(view, SW_HIDE);
  DispatchPending();
  for (int i = 0; i < CHANGED_TICKS; i++) {
    MakeLines();
    Measure(&layout, AppendLines, view);
  }
  Print("tick, log unchanged", &unchanged);
  Print("status panel alone", &panel);
  Print("tick, 100 lines added", &changed);
  Print("log view alone, 100 lines added", &append);
  Print("log view alone, 100 lines added to a new log", &small);
  Print("log view alone, first fill of the whole log", &first);
  Print("100 lines appended as before this change", &before);
  Print("of which the layout of 100 lines", &layout);
  Print("one paint of the view's text", &paint);
  Print("one scroll bar drawn", &bar);
  printf("log %d bytes at the end, view %d characters%s\n", (int)context->log.nUsed, length,
         length == (int)context->log.nUsed && !context->log.bFull ? "" : " (differ: the figures are wrong)");
  PostMessageA(hwnd, WM_COMMAND, CMD_QUIT, 0);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  QZ2CTL_EndModule();
  APPCONTEXT_Free();
  return 0;
}
