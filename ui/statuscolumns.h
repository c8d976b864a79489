// The status panel's bar graphs, column by column, from the history ring,
// and where its texts go. Platform-free: it only reads the ring and decides
// heights, pens and positions.
#ifndef MB_UI_STATUSCOLUMNS_H
#define MB_UI_STATUSCOLUMNS_H

#include <stdint.h>

#include "test/statistics.h"
#include "ui/qz2ctl_index.h"

struct APPCONTEXT;

enum { STATUSPANEL_ZOOM_ENTRIES = 16 };

// Positive: history entries summarised by one column. Negative: one buffer
// spread over that many columns.
extern const int32_t STATUSPANEL_ZoomTable[STATUSPANEL_ZOOM_ENTRIES];

typedef struct STATUSPANEL_BAR {
  int32_t nHeight;  // load: 0..100; error: -100..100, positive when late
  int32_t nPen;     // a control library pen index
} STATUSPANEL_BAR;

// Walks the columns 0..width-1 in order; no allocation.
typedef struct STATUSPANEL_COLUMNS {
  const HISTORYENTRY* pRing;
  int64_t nSize;
  int64_t nPerEntry;   // entries per column (positive zoom)
  int64_t nSpread;     // columns per entry (negative zoom)
  int64_t nNext;       // next ring index to read (positive zoom)
  int64_t nLatest;     // latest completed entry (negative zoom)
  int64_t nWrite;      // the write index the walk was placed by
  int32_t nWidth;
  int64_t nPerfPerBuffer;
} STATUSPANEL_COLUMNS;

// 0 when there is something to draw, -1 when no columns are drawn (no ring,
// width not positive, zoom index out of range).
int STATUSPANEL_BeginColumns(STATUSPANEL_COLUMNS* columns, const APPCONTEXT* context, int32_t width);
void STATUSPANEL_NextColumn(STATUSPANEL_COLUMNS* columns, int32_t x, STATUSPANEL_BAR* load, STATUSPANEL_BAR* error);

// The bars of every column, with the worst values of completed columns
// remembered from tick to tick: a completed column never changes until the
// ring goes round or is cleared, so a tick reads only the entries that
// arrived since the previous one. Panels wider than the cache are walked afresh (STATUSPANEL_BeginColumns).
enum { STATUSPANEL_CACHE_COLUMNS = 16384 };

typedef struct STATUSPANEL_COLUMNWORST {
  int64_t nGroup;  // ring index / entries per column of the column held; -1 when empty
  int64_t nTicks;
  float fError;
} STATUSPANEL_COLUMNWORST;

typedef struct STATUSPANEL_COLUMNCACHE {
  // What the remembered columns were read for; any change forgets them all.
  const HISTORYENTRY* pRing;
  int64_t nSize;
  int64_t nPerEntry;
  int32_t nWidth;
  // The write index of the previous tick (-1 before the first) and the
  // latest completed entry then: if that entry has changed since, the ring
  // was cleared or has gone round, and every column is read again.
  int64_t nLastWrite;
  int64_t nAnchorBuffer;
  int64_t nAnchorTime;
  // This tick: where column 0 lies along the ring and the ring's length,
  // both counted in columns (column groups, or for a magnified zoom entries
  // times the columns each spreads over), so the graphs can move by the
  // difference; -1 and 0 when the columns do not follow the ring that way.
  int64_t nFirstColumn;
  int64_t nRingColumns;
  STATUSPANEL_COLUMNWORST worst[STATUSPANEL_CACHE_COLUMNS];  // by column group modulo the capacity
  STATUSPANEL_BAR loads[STATUSPANEL_CACHE_COLUMNS];          // this tick's bars, column by column
  STATUSPANEL_BAR errors[STATUSPANEL_CACHE_COLUMNS];
} STATUSPANEL_COLUMNCACHE;

// Empties the cache (also its initial state).
void STATUSPANEL_ForgetColumns(STATUSPANEL_COLUMNCACHE* cache);
// Fills loads and errors for columns 0..width-1 with the bars that the fresh
// walk gives: 0, or -1 when no columns are drawn or the width exceeds the
// cache. No allocation.
int STATUSPANEL_UpdateColumns(STATUSPANEL_COLUMNCACHE* cache, const APPCONTEXT* context, int32_t width);

// Height and pen of one bar from its value (load percent, or timing error
// percent with its sign).
STATUSPANEL_BAR STATUSPANEL_LoadBar(double loadPercent);
STATUSPANEL_BAR STATUSPANEL_ErrorBar(float errorPercent);

// The texts of one panel row, left to right, each count long: x holds their
// own positions and receives where they are drawn. A text keeps its position
// unless the text before it reaches past it; it then moves right to
// STATUSPANEL_TEXT_GAP pixels after that text's end, so no two overlap.
enum { STATUSPANEL_TEXT_GAP = 8 };
void STATUSPANEL_PlaceRow(int32_t* x, const int32_t* widths, int32_t count);

#endif  // MB_UI_STATUSCOLUMNS_H
