#include "ui/statuscolumns.h"

#include <math.h>

#include "app/appcontext.h"

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
  columns->nWrite = write;
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
  bar.nPen = load > 80.0f ? QZ2CTL_RED : load > 50.0f ? QZ2CTL_BLACK : QZ2CTL_GREY;
  return bar;
}

STATUSPANEL_BAR STATUSPANEL_ErrorBar(float error) {
  STATUSPANEL_BAR bar;
  if (error != error) error = 0.0f;  // NaN draws nothing
  bar.nHeight = error >= 100.0f ? 100 : error <= -100.0f ? -100 : (int32_t)error;
  float magnitude = fabsf(error);
  bar.nPen = magnitude > 80.0f ? QZ2CTL_RED : magnitude > 50.0f ? QZ2CTL_BLACK : QZ2CTL_GREY;
  return bar;
}

static void TakeEntry(const HISTORYENTRY* entry, int64_t* worstTicks, float* worstError) {
  int64_t ticks = entry->nProcTicks;
  float error = entry->fTimingError;
  if (ticks > *worstTicks) *worstTicks = ticks;
  if (fabsf(error) > fabsf(*worstError)) *worstError = error;
}

// The bars of a column from its worst values; the walk and the cache share
// it, so the two cannot differ.
static void ColumnBars(int64_t worstTicks, float worstError, int64_t perfPerBuffer, STATUSPANEL_BAR* load,
                       STATUSPANEL_BAR* error) {
  double percent = perfPerBuffer > 0 ? (double)worstTicks * 100.0 / (double)perfPerBuffer : 0.0;
  *load = STATUSPANEL_LoadBar(percent);
  *error = STATUSPANEL_ErrorBar(worstError);
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
  ColumnBars(worstTicks, worstError, columns->nPerfPerBuffer, load, error);
}

static void ForgetAllGroups(STATUSPANEL_COLUMNCACHE* cache) {
  for (int32_t k = 0; k < STATUSPANEL_CACHE_COLUMNS; k++) cache->worst[k].nGroup = -1;
}

void STATUSPANEL_ForgetColumns(STATUSPANEL_COLUMNCACHE* cache) {
  cache->pRing = NULL;
  cache->nSize = 0;
  cache->nPerEntry = 0;
  cache->nWidth = 0;
  cache->nLastWrite = -1;
  cache->nAnchorBuffer = 0;
  cache->nAnchorTime = 0;
  cache->nFirstColumn = -1;
  cache->nRingColumns = 0;
  ForgetAllGroups(cache);
}

// Forgets every column whose entries may have been written since the previous
// tick: the writer completes the entry at the write index and starts the one
// after it, so that is from the previous write index to one past the current
// one. The entry before the previous write index is read again too, in case
// its completion was not yet visible then.
static void ForgetWrittenGroups(STATUSPANEL_COLUMNCACHE* cache, int64_t write) {
  if (cache->nLastWrite < 0) return;
  const HISTORYENTRY* anchor = &cache->pRing[WrapIndex(cache->nLastWrite - 1, cache->nSize)];
  // A cleared entry cannot vouch for the ring.
  if (cache->nAnchorTime == 0 || anchor->nBuffer != cache->nAnchorBuffer || anchor->nTime != cache->nAnchorTime) {
    ForgetAllGroups(cache);
    return;
  }
  int64_t groups = cache->nSize / cache->nPerEntry;
  int64_t first = WrapIndex(cache->nLastWrite - 1, cache->nSize) / cache->nPerEntry;
  int64_t last = WrapIndex(write + 1, cache->nSize) / cache->nPerEntry;
  int64_t count = WrapIndex(last - first, groups) + 1;
  if (count >= STATUSPANEL_CACHE_COLUMNS) {
    ForgetAllGroups(cache);
    return;
  }
  for (int64_t k = 0; k < count; k++) {
    int64_t group = (first + k) % groups;
    STATUSPANEL_COLUMNWORST* slot = &cache->worst[group % STATUSPANEL_CACHE_COLUMNS];
    if (slot->nGroup == group) slot->nGroup = -1;
  }
}

int STATUSPANEL_UpdateColumns(STATUSPANEL_COLUMNCACHE* cache, const APPCONTEXT* context, int32_t width) {
  cache->nFirstColumn = -1;
  cache->nRingColumns = 0;
  if (width > STATUSPANEL_CACHE_COLUMNS) return -1;
  STATUSPANEL_COLUMNS columns;
  if (STATUSPANEL_BeginColumns(&columns, context, width) != 0) return -1;
  int64_t perEntry = columns.nPerEntry;
  int64_t size = columns.nSize;
  // Remembered columns must be whole groups of the ring, and neither the
  // group being written nor the one after it may be on the panel.
  if (perEntry == 0 || size % perEntry != 0 || ((int64_t)width + 2) * perEntry > size) {
    if (cache->pRing != NULL) STATUSPANEL_ForgetColumns(cache);
    if (perEntry == 0) {
      cache->nRingColumns = size * columns.nSpread;
      cache->nFirstColumn = WrapIndex((columns.nLatest + 1) * columns.nSpread - width, cache->nRingColumns);
    }
    for (int32_t x = 0; x < width; x++) STATUSPANEL_NextColumn(&columns, x, &cache->loads[x], &cache->errors[x]);
    return 0;
  }
  if (cache->pRing != columns.pRing || cache->nSize != size || cache->nPerEntry != perEntry || cache->nWidth != width) {
    STATUSPANEL_ForgetColumns(cache);
    cache->pRing = columns.pRing;
    cache->nSize = size;
    cache->nPerEntry = perEntry;
    cache->nWidth = width;
  }
  int64_t write = columns.nWrite;
  ForgetWrittenGroups(cache, write);

  int64_t groups = size / perEntry;
  int64_t group = columns.nNext / perEntry;
  cache->nFirstColumn = group;
  cache->nRingColumns = groups;
  for (int32_t x = 0; x < width; x++) {
    STATUSPANEL_COLUMNWORST* slot = &cache->worst[group % STATUSPANEL_CACHE_COLUMNS];
    if (slot->nGroup != group) {
      int64_t worstTicks = 0;
      float worstError = 0.0f;
      const HISTORYENTRY* entry = &columns.pRing[group * perEntry];
      for (int64_t k = 0; k < perEntry; k++) TakeEntry(&entry[k], &worstTicks, &worstError);
      slot->nGroup = group;
      slot->nTicks = worstTicks;
      slot->fError = worstError;
    }
    ColumnBars(slot->nTicks, slot->fError, columns.nPerfPerBuffer, &cache->loads[x], &cache->errors[x]);
    group = group + 1 == groups ? 0 : group + 1;
  }

  const HISTORYENTRY* anchor = &columns.pRing[WrapIndex(write - 1, size)];
  cache->nLastWrite = write;
  cache->nAnchorBuffer = anchor->nBuffer;
  cache->nAnchorTime = anchor->nTime;
  return 0;
}

void STATUSPANEL_PlaceRow(int32_t* x, const int32_t* widths, int32_t count) {
  for (int32_t i = 1; i < count; i++) {
    int32_t end = x[i - 1] + widths[i - 1];
    if (end > x[i]) x[i] = end + STATUSPANEL_TEXT_GAP;
  }
}
