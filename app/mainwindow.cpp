#include "app/mainwindow.h"

#include <stdio.h>
#include <string.h>

#include "app/txtbuffer.h"
#include "asio/asioman.h"
#include "test/loadgen.h"
#include "test/statistics.h"
#include "test/testcontrol.h"
#include "ui/logview.h"
#include "ui/qz2ctl.h"
#include "ui/statuspanel.h"
#include "winaudio/winaudio.h"

HINSTANCE g_hInstance;
void (*g_pfnBeforeRelease)(void);

// WM_DESTROY is posted by the close box and by File, Quit, so two can arrive
// before the quit message; the shutdown must run once. Commands that arrive
// after it find nothing to work on and are ignored.
static int g_bShutDown;

void APP_FormatTitle(char* out, int outSize) {
  snprintf(out, (size_t)outSize, APP_TITLE_FORMAT, TESTCONTROL_WORDSIZE_TAG, MB_VERSION);
}

static void StartupError(const char* text) { MessageBoxA(NULL, text, "Startup Error", MB_ICONWARNING); }

HWND CreateMainWindow(HINSTANCE hInstance, const char* title) {
  WNDCLASSA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = hInstance;
  wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(100));
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_INACTIVEBORDER + 1);
  wc.lpszMenuName = "MyMainAppMenu";
  wc.lpszClassName = APP_MAIN_CLASS;
  // A process that creates the window a second time (the in-process tests)
  // finds the class already there.
  if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    StartupError("Failed to register window class...");
    return NULL;
  }
  HWND hwnd = CreateWindowExA(0, APP_MAIN_CLASS, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                              CW_USEDEFAULT, APP_WINDOW_WIDTH, APP_WINDOW_HEIGHT, NULL, NULL, hInstance, NULL);
  if (!hwnd) {
    StartupError("Failed to create window...");
    return NULL;
  }
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  return hwnd;
}

int APP_Main(HINSTANCE hInstance) {
  QZ2CTL_InitModule(hInstance);
  g_hInstance = hInstance;
  char title[128];
  APP_FormatTitle(title, sizeof title);
  if (!CreateMainWindow(hInstance, title)) {
    // Without a window nothing could ever end a message loop.
    QZ2CTL_EndModule();
    APPCONTEXT_Free();
    return 1;
  }
  MSG msg;
  msg.wParam = 0;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  QZ2CTL_EndModule();
  APPCONTEXT_Free();
  return (int)msg.wParam;
}

void APPCONTEXT_Init(void) {
  APPCONTEXT* context = &g_appContext;
  // The record is plain data; its atomics read all-zero bytes as zero.
  memset((void*)context, 0, sizeof *context);
  context->nIOLimit = 512;
  context->fSineFrequency = 440.0f;
  context->hInstance = (APP_HINSTANCE)g_hInstance;
  STATISTICS_AllocHistory(context);
  context->nPanelWidth = 400;
  context->nPanelHeight = 330;
  context->nZoom = 7;
  // The filter banks are built when a CPU or FPU amount is first chosen
  // (LOADGEN_ChooseFilters): 1 GiB that no test needs until then.
}

void CreateAppResources(void) {
  APPCONTEXT* context = &g_appContext;
  TXTBUFFER_Init(&context->log);
  LOGFONTA font;
  ZeroMemory(&font, sizeof font);
  font.lfHeight = 14;
  font.lfWeight = 400;
  // Where Courier New is missing (Wine without the core fonts), the font
  // mapper then still picks a fixed-pitch face, not the default sans.
  font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  strcpy(font.lfFaceName, "Courier New");
  context->hFontMono = (APP_HFONT)CreateFontIndirectA(&font);
  ASIOMAN_Init(g_hInstance);
  WINAUDIO_Init(g_hInstance);
}

void ReleaseAppResources(void) {
  APPCONTEXT* context = &g_appContext;
  if (context->hFontMono) DeleteObject((HFONT)context->hFontMono);
  context->hFontMono = NULL;
  TXTBUFFER_Free(&context->log);
  ASIOMAN_End();
  WINAUDIO_End();
}

void APPCONTEXT_Free(void) {
  APPCONTEXT* context = &g_appContext;
  // A driver left running at the end may still switch into the processing
  // callback, which writes the history and reads the load tables: they stay
  // for the rest of the process.
  bool switchMayRun = ASIOMAN_LeftDriverRunning() != 0;
  if (!switchMayRun) STATISTICS_FreeHistory(context);
  if (context->offscreen.hBitmap) DeleteObject((HBITMAP)context->offscreen.hBitmap);
  memset(&context->offscreen, 0, sizeof context->offscreen);
  STATUSPANEL_Release();
  if (!switchMayRun) LOADFILTER_FreeBanks(context);
}

static void Layout(HWND hwnd, LPARAM lParam) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  int width = rc.right - rc.left - 20;
  g_appContext.nPanelWidth = width < 400 ? 400 : width;
  LOGVIEW_Resize(LOWORD(lParam), HIWORD(lParam));
}

static void EraseBackground(HWND hwnd, HDC hdc) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  HGDIOBJ oldPen = SelectObject(hdc, QZ2CTL_GetPen(QZ2CTL_LIGHT_GREY));
  HGDIOBJ oldBrush = SelectObject(hdc, QZ2CTL_GetBrush(QZ2CTL_LIGHT_GREY));
  Rectangle(hdc, rc.left, rc.top, rc.right, rc.bottom);
  SelectObject(hdc, oldPen);
  SelectObject(hdc, oldBrush);
}

static void Refresh(HWND hwnd) {
  TESTCONTROL_Tick((APP_HWND)hwnd);
  HDC hdc = GetDC(hwnd);
  if (hdc) {
    STATUSPANEL_Paint(hdc);
    ReleaseDC(hwnd, hdc);
  }
  LOGVIEW_Refresh();
}

static void OnCreate(HWND hwnd) {
  APPCONTEXT_Init();
  g_bShutDown = 0;
  g_appContext.hwndMain = (APP_HWND)hwnd;
  CreateAppResources();
  LOGVIEW_Create(hwnd);
  g_appContext.nTimerId = SetTimer(hwnd, IDT_REFRESH, APP_REFRESH_MS, NULL);
}

static void OnDestroy(void) {
  if (g_bShutDown) return;
  g_bShutDown = 1;
  StopTest();
  if (g_appContext.nTimerId != 0) KillTimer((HWND)g_appContext.hwndMain, IDT_REFRESH);
  g_appContext.nTimerId = 0;
  if (g_pfnBeforeRelease) g_pfnBeforeRelease();
  ReleaseAppResources();
  PostQuitMessage(0);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(hwnd);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_SIZE:
      Layout(hwnd, lParam);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      if (hdc) STATUSPANEL_PaintWindow(hwnd, hdc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CLOSE:
      PostMessageA((HWND)g_appContext.hwndMain, WM_DESTROY, 0, 0);
      return 0;
    case WM_ERASEBKGND:
      EraseBackground(hwnd, (HDC)wParam);
      return 1;
    case WM_COMMAND:
      if (!g_bShutDown) OnMenuCommand(hwnd, LOWORD(wParam), lParam);
      return 0;
    case WM_TIMER:
      if (wParam == IDT_REFRESH && !g_bShutDown) Refresh(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
      return 0;
    case WM_INITMENU:
      if (!g_bShutDown) UpdateMenuChecks((HMENU)wParam);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}
