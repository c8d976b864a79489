#include "ui/statuspanel.h"

#include <stdio.h>
#include <string.h>

#include "app/txtbuffer.h"
#include "asio/asioman.h"
#include "test/runfigures.h"
#include "ui/qz2ctl.h"
#include "ui/statuscolumns.h"
#include "winaudio/winaudio.h"

enum { PANEL_LEFT = 10, PANEL_TOP = 50, LOAD_BASELINE = 110, ERROR_BASELINE = 225 };

// The panel's remembered columns; only the GUI thread paints.
static STATUSPANEL_COLUMNCACHE s_columnCache;

HDC OFFSCREEN_Begin(OFFSCREEN* surface, HDC hdcTarget, RECT* rc) {
  surface->rcDest.left = rc->left;
  surface->rcDest.top = rc->top;
  surface->rcDest.right = rc->right;
  surface->rcDest.bottom = rc->bottom;
  int w = rc->right - rc->left;
  int h = rc->bottom - rc->top;
  SetRect(rc, 0, 0, w, h);

  if (w > surface->nWidth || h > surface->nHeight) {
    if (surface->hBitmap) DeleteObject((HBITMAP)surface->hBitmap);
    surface->hBitmap = NULL;
    surface->nWidth = 0;
    surface->nHeight = 0;
  }
  if (!surface->hBitmap) {
    HBITMAP bitmap = CreateCompatibleBitmap(hdcTarget, w, h);
    if (!bitmap) return NULL;
    surface->hBitmap = bitmap;
    surface->nWidth = w;
    surface->nHeight = h;
  }
  HDC memory = CreateCompatibleDC(hdcTarget);
  if (!memory) return NULL;
  surface->hOldObject = SelectObject(memory, (HBITMAP)surface->hBitmap);
  return memory;
}

int OFFSCREEN_End(OFFSCREEN* surface, HDC hdcTarget, HDC hdcMemory) {
  if (!hdcMemory) return -1;
  const APP_RECT* dest = &surface->rcDest;
  BitBlt(hdcTarget, dest->left, dest->top, dest->right - dest->left, dest->bottom - dest->top, hdcMemory, 0, 0,
         SRCCOPY);
  SelectObject(hdcMemory, (HGDIOBJ)surface->hOldObject);
  DeleteDC(hdcMemory);
  return 0;
}

void STATUSPANEL_Paint(HDC hdc) {
  APPCONTEXT* context = &g_appContext;
  int w = context->nPanelWidth;
  int h = context->nPanelHeight;
  RECT rc = {PANEL_LEFT, PANEL_TOP, w + PANEL_LEFT, h + PANEL_TOP};
  HDC memory = OFFSCREEN_Begin(&context->offscreen, hdc, &rc);
  if (!memory) return;

  HGDIOBJ oldPen = SelectObject(memory, QZ2CTL_GetPen(11));
  HGDIOBJ oldBrush = SelectObject(memory, QZ2CTL_GetBrush(15));
  Rectangle(memory, 0, 0, w, h);
  SelectObject(memory, oldPen);
  SelectObject(memory, oldBrush);

  if (context->nPerfFrequency > 0) STATUSPANEL_DrawContents(memory, w);
  OFFSCREEN_End(&context->offscreen, hdc, memory);
}

void STATUSPANEL_DrawWalkedColumns(HDC hdc, const APPCONTEXT* context, int width) {
  STATUSPANEL_COLUMNS columns;
  if (STATUSPANEL_BeginColumns(&columns, context, width) != 0) return;
  for (int x = 0; x < width; x++) {
    STATUSPANEL_BAR load, error;
    STATUSPANEL_NextColumn(&columns, x, &load, &error);
    SelectObject(hdc, QZ2CTL_GetPen(load.nPen));
    MoveToEx(hdc, x, LOAD_BASELINE, NULL);
    LineTo(hdc, x, LOAD_BASELINE - load.nHeight);
    SelectObject(hdc, QZ2CTL_GetPen(error.nPen));
    MoveToEx(hdc, x, ERROR_BASELINE, NULL);
    LineTo(hdc, x, ERROR_BASELINE - error.nHeight);
  }
}

// Two points a bar, both graphs' bars of one pen in one PolyPolyline.
static POINT s_barPoints[2 * 2 * STATUSPANEL_CACHE_COLUMNS];
static DWORD s_barCounts[2 * STATUSPANEL_CACHE_COLUMNS];

static int AddBar(int lines, int x, int baseline, const STATUSPANEL_BAR* bar, int32_t pen) {
  // A bar of height 0 paints nothing, as LineTo leaves out its end point.
  if (bar->nPen != pen || bar->nHeight == 0) return lines;
  s_barPoints[2 * lines].x = x;
  s_barPoints[2 * lines].y = baseline;
  s_barPoints[2 * lines + 1].x = x;
  s_barPoints[2 * lines + 1].y = baseline - bar->nHeight;
  s_barCounts[lines] = 2;
  return lines + 1;
}

void STATUSPANEL_DrawColumns(HDC hdc, STATUSPANEL_COLUMNCACHE* cache, const APPCONTEXT* context, int width) {
  if (width > STATUSPANEL_CACHE_COLUMNS) {
    STATUSPANEL_DrawWalkedColumns(hdc, context, width);
    return;
  }
  if (STATUSPANEL_UpdateColumns(cache, context, width) != 0) return;
  // The bars of one column never share a pixel, so the order of the pens
  // does not change the picture.
  static const int32_t pens[] = {STATUSPANEL_PEN_GREY, STATUSPANEL_PEN_BLACK, STATUSPANEL_PEN_RED};
  for (int32_t pen : pens) {
    int lines = 0;
    for (int x = 0; x < width; x++) {
      lines = AddBar(lines, x, LOAD_BASELINE, &cache->loads[x], pen);
      lines = AddBar(lines, x, ERROR_BASELINE, &cache->errors[x], pen);
    }
    if (lines == 0) continue;
    SelectObject(hdc, QZ2CTL_GetPen(pen));
    PolyPolyline(hdc, s_barPoints, s_barCounts, (DWORD)lines);
  }
}

static void TextAt(HDC hdc, int x, int y, const char* text) { TextOutA(hdc, x, y, text, (int)strlen(text)); }

static void DrawTexts(HDC hdc, const APPCONTEXT* context) {
  char text[256];
  char number[64];
  TextAt(hdc, 5, 5, "DSP LOAD");
  RUNFIGURES_FormatRunningTime(number, sizeof number, context->nFirstCallbackTime, context->nLastCallbackTime,
                               context->nPerfFrequency);
  snprintf(text, sizeof text, "Running Time: %s", number);
  TextAt(hdc, 80, 5, text);
  FormatGroupedInt64(context->nBufferNumber, number, 0);
  snprintf(text, sizeof text, "Buffer: %s", number);
  TextAt(hdc, 220, 5, text);
  snprintf(text, sizeof text, "DSP LOAD > 50%%: %i", (int)context->nLoadOver50);
  TextAt(hdc, 350, 5, text);
  snprintf(text, sizeof text, "DSP LOAD > 80%%: %i", (int)context->nLoadOver80);
  TextAt(hdc, 500, 5, text);
  snprintf(text, sizeof text, "DSP LOAD > 100%%: %i", (int)context->nLoadOver100);
  TextAt(hdc, 650, 5, text);
  RUNFIGURES_FormatLoad(number, sizeof number, context->nProcMin, context->nPerfPerBuffer, context->fMegacyclesMin);
  snprintf(text, sizeof text, "DSP MIN: %s", number);
  TextAt(hdc, 800, 5, text);
  RUNFIGURES_FormatLoad(number, sizeof number, context->nProcMax, context->nPerfPerBuffer, context->fMegacyclesMax);
  snprintf(text, sizeof text, "DSP MAX: %s", number);
  TextAt(hdc, 950, 5, text);

  TextAt(hdc, 5, 115, "CALLBACK TIMING ERROR");
  snprintf(text, sizeof text, "10%% Error: %i", (int)context->nTimingError10);
  TextAt(hdc, 200, 115, text);
  snprintf(text, sizeof text, "20%% Error: %i", (int)context->nTimingError20);
  TextAt(hdc, 300, 115, text);
  snprintf(text, sizeof text, "50%% Error: %i", (int)context->nTimingError50);
  TextAt(hdc, 400, 115, text);
  snprintf(text, sizeof text, "100%% Error: %i", (int)context->nTimingError100);
  TextAt(hdc, 500, 115, text);

  FormatGroupedInt64(context->nDriverSamplePosition, number, 0);
  snprintf(text, sizeof text, "Driver SamplePosition: %s (smp)", number);
  TextAt(hdc, 5, 315, text);
  FormatGroupedInt64(context->nDriverSystemTime, number, 0);
  snprintf(text, sizeof text, "Driver SystemTime: %s (ns)", number);
  TextAt(hdc, 200, 315, text);
}

void STATUSPANEL_DrawContents(HDC hdc, int width) {
  const APPCONTEXT* context = &g_appContext;
  HGDIOBJ oldPen = SelectObject(hdc, QZ2CTL_GetPen(11));
  HGDIOBJ oldBrush = SelectObject(hdc, QZ2CTL_GetBrush(15));
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(4));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, QZ2CTL_GetColor(0));

  MoveToEx(hdc, 0, LOAD_BASELINE, NULL);
  LineTo(hdc, width, LOAD_BASELINE);
  MoveToEx(hdc, 0, ERROR_BASELINE, NULL);
  LineTo(hdc, width, ERROR_BASELINE);
  STATUSPANEL_DrawColumns(hdc, &s_columnCache, context, width);
  DrawTexts(hdc, context);

  SelectObject(hdc, oldPen);
  SelectObject(hdc, oldBrush);
  SelectObject(hdc, oldFont);
}

void STATUSPANEL_FormatHeader(char* out, int outSize) {
  const APPCONTEXT* context = &g_appContext;
  const char* name = NULL;
  if (context->nAsioDriver >= 1) {
    const ASIOMAN_DRIVERENTRY* entry = ASIOMAN_GetEntry(context->nAsioDriver);
    if (entry) name = entry->szName;
  } else if (context->nWinDevice >= 1) {
    const WINAUDIO_DEVICE* device = WINAUDIO_GetRenderDevice(context->nWinDevice);
    if (device) name = device->szName;
  }
  out[0] = 0;
  if (!name) return;
  int32_t rate = context->nSampleRate;
  int32_t size = context->nBufferSize;
  double duration = rate > 1 ? (double)size * 1000.0 / (double)rate : 0.0;
  snprintf(out, (size_t)outSize, "TESTING: %.255s (%i Hz) %ii / %io (buffer: %i smp = %0.1fms)", name, (int)rate,
           (int)context->nInputs, (int)context->nOutputs, (int)size, duration);
}

void STATUSPANEL_PaintWindow(HWND hwnd, HDC hdc) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, QZ2CTL_GetColor(0));
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(7));
  HGDIOBJ oldPen = SelectObject(hdc, QZ2CTL_GetPen(14));
  HGDIOBJ oldBrush = SelectObject(hdc, QZ2CTL_GetBrush(14));
  Rectangle(hdc, rc.left, rc.top, rc.right, rc.bottom);

  char header[512];
  STATUSPANEL_FormatHeader(header, sizeof header);
  if (header[0]) {
    RECT line = {rc.left + 10, rc.top + 10, rc.right, rc.top + 30};
    DrawTextA(hdc, header, -1, &line, DT_SINGLELINE);
  }
  SelectObject(hdc, oldFont);
  SelectObject(hdc, oldPen);
  SelectObject(hdc, oldBrush);
  STATUSPANEL_Paint(hdc);
}
