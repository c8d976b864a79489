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

// The panel's graphs kept from tick to tick; only the GUI thread paints.
static STATUSPANEL_GRAPHS s_graphs;

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

// Until a device is prepared the panel has no figures: it says how to get some.
static void DrawHint(HDC hdc) {
  static const char kHint[] = "Choose an ASIO driver in the Devices menu to start a test.";
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(QZ2CTL_FONT_14));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, QZ2CTL_GetColor(QZ2CTL_BLACK));
  TextOutA(hdc, 5, 5, kHint, (int)strlen(kHint));
  SelectObject(hdc, oldFont);
}

void STATUSPANEL_Paint(HDC hdc) {
  APPCONTEXT* context = &g_appContext;
  int w = context->nPanelWidth;
  int h = context->nPanelHeight;
  RECT rc = {PANEL_LEFT, PANEL_TOP, w + PANEL_LEFT, h + PANEL_TOP};
  HDC memory = OFFSCREEN_Begin(&context->offscreen, hdc, &rc);
  if (!memory) return;

  HGDIOBJ oldPen = SelectObject(memory, QZ2CTL_GetPen(QZ2CTL_GREY));
  HGDIOBJ oldBrush = SelectObject(memory, QZ2CTL_GetBrush(QZ2CTL_WHITE));
  Rectangle(memory, 0, 0, w, h);
  SelectObject(memory, oldPen);
  SelectObject(memory, oldBrush);

  if (context->nPerfFrequency > 0)
    STATUSPANEL_DrawContents(memory, w);
  else
    DrawHint(memory);
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

static void AddBars(int32_t pen, const STATUSPANEL_BAR* loads, const STATUSPANEL_BAR* errors, int width, int* lines) {
  for (int x = 0; x < width; x++) {
    *lines = AddBar(*lines, x, LOAD_BASELINE, &loads[x], pen);
    *lines = AddBar(*lines, x, ERROR_BASELINE, &errors[x], pen);
  }
}

static void DrawBars(HDC hdc, const STATUSPANEL_BAR* loads, const STATUSPANEL_BAR* errors, int width) {
  // The bars of one column never share a pixel, so the order of the pens
  // does not change the picture.
  static const int32_t pens[] = {QZ2CTL_GREY, QZ2CTL_BLACK, QZ2CTL_RED};
  for (int32_t pen : pens) {
    int lines = 0;
    AddBars(pen, loads, errors, width, &lines);
    if (lines == 0) continue;
    SelectObject(hdc, QZ2CTL_GetPen(pen));
    PolyPolyline(hdc, s_barPoints, s_barCounts, (DWORD)lines);
  }
}

// Rows that bars can reach: a load bar of 100 up to y 11, an error bar of
// -100 down to y 324.
enum { BAR_TOP = LOAD_BASELINE - 99, BAR_BOTTOM = ERROR_BASELINE + 100, UNKNOWN_BAR = -1000 };

static bool SameBar(const STATUSPANEL_BAR* a, const STATUSPANEL_BAR* b) {
  return a->nHeight == b->nHeight && (a->nHeight == 0 || a->nPen == b->nPen);
}

static void DrawFrame(HDC hdc, int width, int height) {
  SelectObject(hdc, QZ2CTL_GetPen(QZ2CTL_GREY));
  SelectObject(hdc, QZ2CTL_GetBrush(QZ2CTL_WHITE));
  Rectangle(hdc, 0, 0, width, height);
  MoveToEx(hdc, 0, LOAD_BASELINE, NULL);
  LineTo(hdc, width, LOAD_BASELINE);
  MoveToEx(hdc, 0, ERROR_BASELINE, NULL);
  LineTo(hdc, width, ERROR_BASELINE);
}

static void DrawBar(HDC hdc, int x, int baseline, const STATUSPANEL_BAR* bar) {
  if (bar->nHeight == 0) return;
  SelectObject(hdc, QZ2CTL_GetPen(bar->nPen));
  MoveToEx(hdc, x, baseline, NULL);
  LineTo(hdc, x, baseline - bar->nHeight);
}

// Column x as a fresh frame, baselines and bars would leave it: white with
// the baselines' pixels, or grey on the frame's left and right edge.
static void RedrawColumn(HDC hdc, int x, int width, const STATUSPANEL_BAR* load, const STATUSPANEL_BAR* error) {
  bool edge = x == 0 || x == width - 1;
  SelectObject(hdc, QZ2CTL_GetPen(edge ? QZ2CTL_GREY : QZ2CTL_WHITE));
  MoveToEx(hdc, x, BAR_TOP, NULL);
  LineTo(hdc, x, BAR_BOTTOM);
  if (!edge) {
    SelectObject(hdc, QZ2CTL_GetPen(QZ2CTL_GREY));
    MoveToEx(hdc, x, LOAD_BASELINE, NULL);
    LineTo(hdc, x, LOAD_BASELINE + 1);
    MoveToEx(hdc, x, ERROR_BASELINE, NULL);
    LineTo(hdc, x, ERROR_BASELINE + 1);
  }
  DrawBar(hdc, x, LOAD_BASELINE, load);
  DrawBar(hdc, x, ERROR_BASELINE, error);
}

// Moves the bars left by the columns the graphs moved since the last tick.
// The right-most columns keep their pixels and what they show; the frame's
// edges are drawn again, as column 0 took an inner column's background and
// the old right edge moved inward.
static void ScrollGraphs(STATUSPANEL_GRAPHS* graphs, HDC layer, int64_t shift) {
  int width = graphs->nWidth;
  BitBlt(layer, 0, BAR_TOP, width - (int)shift, BAR_BOTTOM - BAR_TOP, layer, (int)shift, BAR_TOP, SRCCOPY);
  memmove(graphs->shownLoads, graphs->shownLoads + shift, sizeof(STATUSPANEL_BAR) * (size_t)(width - shift));
  memmove(graphs->shownErrors, graphs->shownErrors + shift, sizeof(STATUSPANEL_BAR) * (size_t)(width - shift));
  graphs->shownLoads[0].nHeight = UNKNOWN_BAR;
  graphs->shownLoads[width - 1 - shift].nHeight = UNKNOWN_BAR;
}

static void UpdateGraphs(STATUSPANEL_GRAPHS* graphs, HDC layer, bool fresh) {
  const STATUSPANEL_COLUMNCACHE* columns = &graphs->columns;
  int width = graphs->nWidth;
  if (!fresh && graphs->nFirstColumn >= 0 && columns->nFirstColumn >= 0 && graphs->nRingColumns == columns->nRingColumns) {
    int64_t shift = (columns->nFirstColumn - graphs->nFirstColumn + columns->nRingColumns) % columns->nRingColumns;
    if (shift >= width) fresh = true;
    else if (shift > 0) ScrollGraphs(graphs, layer, shift);
  }
  int changed = 0;
  for (int x = 0; x < width && !fresh; x++)
    if (!SameBar(&graphs->shownLoads[x], &columns->loads[x]) || !SameBar(&graphs->shownErrors[x], &columns->errors[x]))
      changed++;
  // Past a few columns one PolyPolyline a pen over a fresh frame is cheaper.
  if (fresh || changed > width / 8) {
    DrawFrame(layer, width, graphs->nHeight);
    DrawBars(layer, columns->loads, columns->errors, width);
  } else {
    for (int x = 0; x < width && changed > 0; x++) {
      if (SameBar(&graphs->shownLoads[x], &columns->loads[x]) && SameBar(&graphs->shownErrors[x], &columns->errors[x]))
        continue;
      RedrawColumn(layer, x, width, &columns->loads[x], &columns->errors[x]);
      changed--;
    }
  }
  memcpy(graphs->shownLoads, columns->loads, sizeof(STATUSPANEL_BAR) * (size_t)width);
  memcpy(graphs->shownErrors, columns->errors, sizeof(STATUSPANEL_BAR) * (size_t)width);
  graphs->nFirstColumn = columns->nFirstColumn;
  graphs->nRingColumns = columns->nRingColumns;
}

int STATUSPANEL_DrawGraphs(STATUSPANEL_GRAPHS* graphs, HDC hdcMemory, const APPCONTEXT* context, int width,
                           int height) {
  if (width <= 0 || height <= 0 || width > STATUSPANEL_CACHE_COLUMNS) return -1;
  bool fresh = false;
  if (!graphs->hBitmap || graphs->nWidth != width || graphs->nHeight != height) {
    STATUSPANEL_ReleaseGraphs(graphs);
    graphs->hBitmap = CreateCompatibleBitmap(hdcMemory, width, height);
    if (!graphs->hBitmap) return -1;
    graphs->nWidth = width;
    graphs->nHeight = height;
    fresh = true;
  }
  HDC layer = CreateCompatibleDC(hdcMemory);
  if (!layer) {
    STATUSPANEL_ReleaseGraphs(graphs);  // what it shows is no longer known
    return -1;
  }
  HGDIOBJ oldBitmap = SelectObject(layer, graphs->hBitmap);
  HGDIOBJ oldPen = SelectObject(layer, QZ2CTL_GetPen(QZ2CTL_GREY));
  HGDIOBJ oldBrush = SelectObject(layer, QZ2CTL_GetBrush(QZ2CTL_WHITE));

  STATUSPANEL_COLUMNCACHE* columns = &graphs->columns;
  if (STATUSPANEL_UpdateColumns(columns, context, width) != 0) {
    // No columns: bars of height 0, which paint nothing.
    memset(columns->loads, 0, sizeof(STATUSPANEL_BAR) * (size_t)width);
    memset(columns->errors, 0, sizeof(STATUSPANEL_BAR) * (size_t)width);
  }
  UpdateGraphs(graphs, layer, fresh);
  BitBlt(hdcMemory, 0, 0, width, height, layer, 0, 0, SRCCOPY);

  SelectObject(layer, oldPen);
  SelectObject(layer, oldBrush);
  SelectObject(layer, oldBitmap);
  DeleteDC(layer);
  return 0;
}

void STATUSPANEL_ReleaseGraphs(STATUSPANEL_GRAPHS* graphs) {
  if (graphs->hBitmap) DeleteObject(graphs->hBitmap);
  graphs->hBitmap = NULL;
  graphs->nWidth = 0;
  graphs->nHeight = 0;
  graphs->nFirstColumn = -1;
  graphs->nRingColumns = 0;
}

void STATUSPANEL_Release(void) { STATUSPANEL_ReleaseGraphs(&s_graphs); }

// Places a text at its own position; returns where to format it.
static char* At(STATUSPANEL_TEXT* text, int x, int y) {
  text->x = x;
  text->y = y;
  return text->szText;
}

// Each text formatted at its own position, row after row.
static int FormatTexts(const APPCONTEXT* context, STATUSPANEL_TEXT* texts) {
  const size_t size = STATUSPANEL_TEXT_SIZE;
  char number[64];
  int n = 0;
  snprintf(At(&texts[n++], 5, 5), size, "DSP LOAD");
  RUNFIGURES_FormatRunningTime(number, sizeof number, context->nFirstCallbackTime, context->nLastCallbackTime,
                               context->nPerfFrequency);
  snprintf(At(&texts[n++], 80, 5), size, "Running Time: %s", number);
  FormatGroupedInt64(context->nBufferNumber, number, 0);
  snprintf(At(&texts[n++], 220, 5), size, "Buffer: %s", number);
  snprintf(At(&texts[n++], 350, 5), size, "DSP LOAD > 50%%: %i", (int)context->nLoadOver50);
  snprintf(At(&texts[n++], 500, 5), size, "DSP LOAD > 80%%: %i", (int)context->nLoadOver80);
  snprintf(At(&texts[n++], 650, 5), size, "DSP LOAD > 100%%: %i", (int)context->nLoadOver100);
  RUNFIGURES_FormatLoad(number, sizeof number, context->nProcMin, context->nPerfPerBuffer, context->fMegacyclesMin);
  snprintf(At(&texts[n++], 800, 5), size, "DSP MIN: %s", number);
  RUNFIGURES_FormatLoad(number, sizeof number, context->nProcMax, context->nPerfPerBuffer, context->fMegacyclesMax);
  snprintf(At(&texts[n++], 950, 5), size, "DSP MAX: %s", number);

  snprintf(At(&texts[n++], 5, 115), size, "CALLBACK TIMING ERROR");
  snprintf(At(&texts[n++], 200, 115), size, "10%% Error: %i", (int)context->nTimingError10);
  snprintf(At(&texts[n++], 300, 115), size, "20%% Error: %i", (int)context->nTimingError20);
  snprintf(At(&texts[n++], 400, 115), size, "50%% Error: %i", (int)context->nTimingError50);
  snprintf(At(&texts[n++], 500, 115), size, "100%% Error: %i", (int)context->nTimingError100);

  FormatGroupedInt64(context->nDriverSamplePosition, number, 0);
  snprintf(At(&texts[n++], 5, 315), size, "Driver SamplePosition: %s (smp)", number);
  FormatGroupedInt64(context->nDriverSystemTime, number, 0);
  snprintf(At(&texts[n++], 200, 315), size, "Driver SystemTime: %s (ns)", number);
  return n;
}

int STATUSPANEL_LayOutTexts(HDC hdc, const APPCONTEXT* context, STATUSPANEL_TEXT* texts) {
  int count = FormatTexts(context, texts);
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(QZ2CTL_FONT_14));
  int32_t x[STATUSPANEL_TEXTS], widths[STATUSPANEL_TEXTS];
  for (int i = 0; i < count; i++) {
    SIZE size = {0, 0};
    GetTextExtentPoint32A(hdc, texts[i].szText, (int)strlen(texts[i].szText), &size);
    x[i] = texts[i].x;
    widths[i] = size.cx;
  }
  for (int first = 0, last = 0; first < count; first = last) {
    while (last < count && texts[last].y == texts[first].y) last++;
    STATUSPANEL_PlaceRow(x + first, widths + first, last - first);
  }
  for (int i = 0; i < count; i++) texts[i].x = x[i];
  SelectObject(hdc, oldFont);
  return count;
}

static void DrawTexts(HDC hdc, const APPCONTEXT* context) {
  STATUSPANEL_TEXT texts[STATUSPANEL_TEXTS];
  int count = STATUSPANEL_LayOutTexts(hdc, context, texts);
  for (int i = 0; i < count; i++) TextOutA(hdc, texts[i].x, texts[i].y, texts[i].szText, (int)strlen(texts[i].szText));
}

void STATUSPANEL_DrawContents(HDC hdc, int width) {
  const APPCONTEXT* context = &g_appContext;
  HGDIOBJ oldPen = SelectObject(hdc, QZ2CTL_GetPen(QZ2CTL_GREY));
  HGDIOBJ oldBrush = SelectObject(hdc, QZ2CTL_GetBrush(QZ2CTL_WHITE));
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(QZ2CTL_FONT_14));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, QZ2CTL_GetColor(QZ2CTL_BLACK));

  if (STATUSPANEL_DrawGraphs(&s_graphs, hdc, context, width, context->nPanelHeight) != 0) {
    MoveToEx(hdc, 0, LOAD_BASELINE, NULL);
    LineTo(hdc, width, LOAD_BASELINE);
    MoveToEx(hdc, 0, ERROR_BASELINE, NULL);
    LineTo(hdc, width, ERROR_BASELINE);
    STATUSPANEL_DrawWalkedColumns(hdc, context, width);
  }
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
  SetTextColor(hdc, QZ2CTL_GetColor(QZ2CTL_BLACK));
  HGDIOBJ oldFont = SelectObject(hdc, QZ2CTL_GetFont(QZ2CTL_FONT_16_BOLD));
  HGDIOBJ oldPen = SelectObject(hdc, QZ2CTL_GetPen(QZ2CTL_LIGHT_GREY));
  HGDIOBJ oldBrush = SelectObject(hdc, QZ2CTL_GetBrush(QZ2CTL_LIGHT_GREY));
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
