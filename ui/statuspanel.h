// The status panel: header line, counters and the two bar graphs, drawn off
// screen and copied to the main window in one transfer.
#ifndef MB_UI_STATUSPANEL_H
#define MB_UI_STATUSPANEL_H

#include <windows.h>

#include "app/appcontext.h"
#include "ui/statuscolumns.h"

// Returns a memory device context to draw into, or null. rc is rewritten to
// (0, 0, width, height).
HDC OFFSCREEN_Begin(OFFSCREEN* surface, HDC hdcTarget, RECT* rc);
// Copies to the target and cleans up: 0, or -1 without a memory context.
int OFFSCREEN_End(OFFSCREEN* surface, HDC hdcTarget, HDC hdcMemory);

void STATUSPANEL_Paint(HDC hdc);
void STATUSPANEL_DrawContents(HDC hdcMemory, int width);
void STATUSPANEL_PaintWindow(HWND hwnd, HDC hdc);

// The two graphs kept from tick to tick in a bitmap of their own: frame,
// baselines and bars as the last tick left them, with the columns they show.
// A tick moves the bars left by the columns they moved since the last one and
// draws again only the columns whose bars changed. All zero to start.
typedef struct STATUSPANEL_GRAPHS {
  HBITMAP hBitmap;
  int nWidth, nHeight;
  int64_t nFirstColumn;  // as in the column cache, for the columns shown
  int64_t nRingColumns;
  STATUSPANEL_BAR shownLoads[STATUSPANEL_CACHE_COLUMNS];
  STATUSPANEL_BAR shownErrors[STATUSPANEL_CACHE_COLUMNS];
  STATUSPANEL_COLUMNCACHE columns;
} STATUSPANEL_GRAPHS;

// Brings the graphs up to date and copies frame, baselines and bars to the
// memory device context at (0, 0): 0, or -1 when they cannot be kept (wider
// than the cache, or no bitmap); then nothing is drawn.
int STATUSPANEL_DrawGraphs(STATUSPANEL_GRAPHS* graphs, HDC hdcMemory, const APPCONTEXT* context, int width,
                           int height);
void STATUSPANEL_ReleaseGraphs(STATUSPANEL_GRAPHS* graphs);
// The bars read afresh column by column and drawn with MoveToEx and LineTo:
// the picture the kept graphs must give pixel for pixel, and the drawing
// when they cannot be kept.
void STATUSPANEL_DrawWalkedColumns(HDC hdc, const APPCONTEXT* context, int width);
// Releases the panel's own graphs; at teardown.
void STATUSPANEL_Release(void);

// One text of the panel at the position it is drawn, in panel coordinates.
enum { STATUSPANEL_TEXTS = 15, STATUSPANEL_TEXT_SIZE = 128 };
typedef struct STATUSPANEL_TEXT {
  int32_t x, y;
  char szText[STATUSPANEL_TEXT_SIZE];
} STATUSPANEL_TEXT;

// Fills texts with the panel's texts for the context's values, rows from top
// to bottom and each row left to right, and returns their count: each at its
// own position, moved right only as far as no two of a row overlap in the
// panel's font (STATUSPANEL_PlaceRow). What passes the panel's right edge is
// cut there when drawn.
int STATUSPANEL_LayOutTexts(HDC hdc, const APPCONTEXT* context, STATUSPANEL_TEXT* texts);

// "TESTING: ..." for the selected device, or an empty text when none is named.
void STATUSPANEL_FormatHeader(char* out, int outSize);

#endif  // MB_UI_STATUSPANEL_H
