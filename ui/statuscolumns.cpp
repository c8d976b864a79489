#include "ui/statuscolumns.h"

#include <math.h>

const int32_t STATUSPANEL_ZoomTable[STATUSPANEL_ZOOM_ENTRIES] = {-128, -64, -32, -16, -8, -4, -2, 1,
                                                                 2,    4,   8,   16,  32, 64, 128, 256};

static int64_t WrapIndex(int64_t index, int64_t size) {
  int64_t wrapped = index % size;
  return wrapped < 0 ? wrapped + size : wrapped;
}

int STATUSPANEL_BeginColumns(STATUSPANEL_COLUMNS* columns, const APPCONTEXT* context, int32_t width) {
  if (context->nZoom < 0 || context->nZoom >= STATUSPANEL_ZOOM_ENTRIES) return -1;
  if (width <= 0 || context->pHistory == NULL || context->nHistorySize <= 0) return -1;
  int32_t zoom = STATUSPANEL_ZoomTable[context->nZoom];
  int64_t size = context->nHistorySize;
  int64_t write = WrapIndex(context->nHistoryWrite, size);

  columns->pRing = context->pHistory;
  columns->nSize = size;
  columns->nWidth = width;
  columns->nPerfPerBuffer = context->nPerfPerBuffer;
  if (zoom >= 1) {
    // The w groups of n entries that end just before the group holding the
    // latest callback. A wide panel at a large n can reach back more than one
    // ring: wrap by modulo, never by a single addition.
    columns->nPerEntry = zoom;
    columns->nSpread = 0;
    columns->nNext = WrapIndex((write / zoom - width) * (int64_t)zoom, size);
  } else {
    // The latest completed entry sits in the right-most -z columns.
    columns->nPerEntry = 0;
    columns->nSpread = -(int64_t)zoom;
    columns->nLatest = WrapIndex(write - 1, size);
  }
  return 0;
}

STATUSPANEL_BAR STATUSPANEL_LoadBar(double loadPercent) {
  float load = (float)loadPercent;
  STATUSPANEL_BAR bar;
  bar.nHeight = !(load > 0.0f) ? 0 : load >= 100.0f ? 100 : (int32_t)load;
  bar.nPen = load > 80.0f ? STATUSPANEL_PEN_RED : load > 50.0f ? STATUSPANEL_PEN_BLACK : STATUSPANEL_PEN_GREY;
  return bar;
}

STATUSPANEL_BAR STATUSPANEL_ErrorBar(float error) {
  STATUSPANEL_BAR bar;
  if (error != error) error = 0.0f;  // NaN draws nothing
  bar.nHeight = error >= 100.0f ? 100 : error <= -100.0f ? -100 : (int32_t)error;
  float magnitude = fabsf(error);
  bar.nPen = magnitude > 80.0f ? STATUSPANEL_PEN_RED : magnitude > 50.0f ? STATUSPANEL_PEN_BLACK : STATUSPANEL_PEN_GREY;
  return bar;
}

static void TakeEntry(const HISTORYENTRY* entry, int64_t* worstTicks, float* worstError) {
  int64_t ticks = entry->nProcTicks;
  float error = entry->fTimingError;
  if (ticks > *worstTicks) *worstTicks = ticks;
  if (fabsf(error) > fabsf(*worstError)) *worstError = error;
}

void STATUSPANEL_NextColumn(STATUSPANEL_COLUMNS* columns, int32_t x, STATUSPANEL_BAR* load, STATUSPANEL_BAR* error) {
  int64_t worstTicks = 0;
  float worstError = 0.0f;
  if (columns->nPerEntry > 0) {
    for (int64_t k = 0; k < columns->nPerEntry; k++) {
      TakeEntry(&columns->pRing[columns->nNext], &worstTicks, &worstError);
      columns->nNext = columns->nNext + 1 == columns->nSize ? 0 : columns->nNext + 1;
    }
  } else {
    int64_t back = (columns->nWidth - 1 - x) / columns->nSpread;
    TakeEntry(&columns->pRing[WrapIndex(columns->nLatest - back, columns->nSize)], &worstTicks, &worstError);
  }
  double percent = columns->nPerfPerBuffer > 0 ? (double)worstTicks * 100.0 / (double)columns->nPerfPerBuffer : 0.0;
  *load = STATUSPANEL_LoadBar(percent);
  *error = STATUSPANEL_ErrorBar(worstError);
}
